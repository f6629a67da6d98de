#pragma once
// One signature setting as the settings file stores it: a record of exactly
// 171 bytes, little-endian, no header. Decoding keeps every byte (the
// reserved ones too), so a record read and written again is the same bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/Endian.h"

namespace quorvel::raw {

inline constexpr std::size_t kRecordBytes = 171;
inline constexpr std::size_t kSignatureBytes = 10;
inline constexpr std::size_t kExtensionUnits = 5;   // four stored, the fifth always zero when written
inline constexpr std::size_t kCategoryUnits = 50;

struct SignatureRecord {
  std::array<char16_t, kExtensionUnits> extension{};
  std::uint8_t extensionLength = 0;  // the whole text's length, even past four
  std::array<std::uint8_t, kSignatureBytes> startSignature{};
  std::array<std::uint8_t, kSignatureBytes> endSignature{};
  std::uint8_t startLength = 0;
  std::uint8_t endLength = 0;  // 0: no end signature
  std::uint8_t index = 0;      // records in the file when this one was written, low 8 bits
  std::int32_t sizeFieldOffset = -1;
  std::int32_t sizeFieldBytes = 0;
  std::int32_t headerSize = 0;
  std::uint8_t sizeIncludesHeader = 0;
  std::uint32_t reserved1 = 0;
  std::int64_t approximateSize = 0;
  std::int64_t skipSize = 0;
  std::array<char16_t, kCategoryUnits> category{};
  std::uint32_t reserved2 = 0;

  bool operator==(const SignatureRecord&) const = default;
};

std::array<std::uint8_t, kRecordBytes> encodeRecord(const SignatureRecord& record);
// Any 171 bytes decode; values are checked where they are used.
SignatureRecord decodeRecord(Bytes bytes);

// The extension as stored: at most four units, up to the first zero.
std::string extensionText(const SignatureRecord& record);
// The category up to its terminating zero, or all 50 units without one.
std::string categoryText(const SignatureRecord& record);
// The signature's bytes, its length cut to what the record holds.
std::vector<std::uint8_t> startSignatureBytes(const SignatureRecord& record);
std::vector<std::uint8_t> endSignatureBytes(const SignatureRecord& record);

// What the setting screen (or `signatures add`) was given, as typed.
struct SignatureForm {
  std::string extension;
  std::string startSignature;  // "0x89,0x50,0x4E,0x47"
  std::string endSignature;
  std::string sizeFieldOffset;
  std::string sizeFieldBytes;
  bool sizeIncludesHeader = false;
  std::string headerSize;
  std::string skipSize;
  std::string approximateSize;
  std::string category;
};

inline constexpr const char* kExtensionEmpty = "extention length is zero..";
inline constexpr const char* kSignatureEmpty = "signature length is zero..";
inline constexpr const char* kRecordSaved = "everything initialized well.....";

// Comma-separated hexadecimal bytes: empty pieces skipped, "0x" and leading
// blanks accepted, an unreadable piece gives 0, the low 8 bits kept.
std::vector<std::uint8_t> parseSignatureText(std::string_view text);
// Why a typed signature cannot be used, or empty when it can: every piece
// must be one hexadecimal byte, and at least 2 bytes are needed (a single
// byte matches nearly every sector). `which` names the field in the text.
std::string signatureTextFault(std::string_view text, std::string_view which);
// A decimal 32-bit number as typed; an unreadable text gives 0.
std::int32_t parseDecimal32(std::string_view text);

// The record a form makes with the given index, or the message that says
// why none is made.
struct FormRecord {
  std::optional<SignatureRecord> record;
  std::string message;  // kRecordSaved when made
};
FormRecord recordFromForm(const SignatureForm& form, std::uint8_t index);

}  // namespace quorvel::raw
