#pragma once
// Settings files: records of 171 bytes, read whole and appended one at a time.
#include <filesystem>
#include <string>
#include <vector>

#include "raw/SignatureRecord.h"

namespace quorvel::raw {

inline constexpr const char* kNotValidFile = "not a valid file..";
inline constexpr const char* kCannotOpenFile = "can not open file";
inline constexpr const char* kCannotCreateFile = "file can not be created";
inline constexpr const char* kDefaultSettingsName = "FileSetting.txt";

// The last record may start no later than this.
inline constexpr std::uint64_t kLastRecordLimit = 1 << 20;

enum class SettingsOrigin {
  Default,  // the program's own file: silently absent, no size-field check
  Chosen,   // a file the user named
};

struct SettingsRead {
  bool ok = false;
  std::string message;  // why not, for the user; empty when nothing is to be said
  std::vector<SignatureRecord> records;
};

// Every whole record of the file (its length ÷ 171, whatever the last index
// byte says: that byte wraps past 256 records).
SettingsRead readSettingsFile(const std::filesystem::path& path, SettingsOrigin origin);

// Appends the form's record, its index the file's record count; returns the
// message to show (kRecordSaved, the form's complaint, or kCannotCreateFile).
// A missing file is created, an existing one kept.
std::string appendToSettingsFile(const std::filesystem::path& path, const SignatureForm& form);

// Writes the records as a new file, each index its position's low 8 bits.
bool writeSettingsFile(const std::filesystem::path& path, std::vector<SignatureRecord> records);

}  // namespace quorvel::raw
