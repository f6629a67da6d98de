#pragma once
// The change journal's records ($Extend\$UsnJrnl, stream $J): one record per
// change to a file, with the file's name and folder at that moment. A
// deleted file's last records name it and its folder after the MFT has
// forgotten both, and say when it was deleted. Records are 8-byte aligned;
// the stream's unused head is sparse and pages end in zero padding.
#include <cstdint>
#include <string>

#include "io/Endian.h"

namespace quorvel::ntfsfmt {

inline constexpr std::uint32_t kUsnReasonFileDelete = 0x00000200;
inline constexpr std::uint32_t kUsnReasonRenameOldName = 0x00001000;
inline constexpr std::uint32_t kUsnFileIsFolder = 0x10;

struct UsnRecord {
  std::uint64_t fileRecord = 0;
  std::uint16_t fileSequence = 0;
  std::uint64_t parentRecord = 0;
  std::uint16_t parentSequence = 0;
  std::uint64_t timestamp = 0;  // Windows file time
  std::uint32_t reason = 0;
  std::uint32_t fileAttributes = 0;
  std::string name;  // UTF-8

  bool isFolder() const { return (fileAttributes & kUsnFileIsFolder) != 0; }
};

enum class UsnStep {
  Record,   // `out` holds a record of a version we read (2 or 3)
  Other,    // a well-formed record of another version: step over it
  Padding,  // zeros: step 8 bytes
  Damaged,  // not a record: step 8 bytes and look again
};

// Decodes the record at the start of `bytes`. `length` is how far to step
// on: the record's length for Record and Other, 8 otherwise. A record never
// reaches past `bytes`, whose end is where the caller's read ended.
UsnStep decodeUsnRecord(Bytes bytes, UsnRecord& out, std::size_t& length);

// Records longer than this are damage: a name is at most 255 units.
inline constexpr std::size_t kMaxUsnRecordLength = 4096;

}  // namespace quorvel::ntfsfmt
