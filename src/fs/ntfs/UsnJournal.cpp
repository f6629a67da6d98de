#include "fs/ntfs/UsnJournal.h"

#include "fs/Utf16.h"

namespace quorvel::ntfsfmt {

namespace {

namespace usn {
constexpr std::size_t length = 0x00;
constexpr std::size_t major = 0x04;
constexpr std::size_t header = 0x08;
}  // namespace usn

// Where each field of a version lies; 128-bit references in version 3 keep
// the record number and sequence in their low 8 bytes.
struct Fields {
  std::size_t file, parent, timestamp, reason, attributes, nameLength, nameOffset, fixedSize;
};
constexpr Fields kVersion2{0x08, 0x10, 0x20, 0x28, 0x34, 0x38, 0x3A, 0x3C};
constexpr Fields kVersion3{0x08, 0x18, 0x30, 0x38, 0x44, 0x48, 0x4A, 0x4C};

constexpr std::uint64_t kRecordMask = 0x0000FFFFFFFFFFFFull;

bool allZero(Bytes b, std::size_t count) {
  for (std::size_t i = 0; i < count && i < b.size(); ++i)
    if (b[i] != 0) return false;
  return true;
}

}  // namespace

UsnStep decodeUsnRecord(Bytes bytes, UsnRecord& out, std::size_t& length) {
  length = 8;
  if (bytes.size() < usn::header) return UsnStep::Damaged;
  if (allZero(bytes, usn::header)) return UsnStep::Padding;
  const std::size_t recordLength = le32(bytes, usn::length);
  const std::uint16_t major = le16(bytes, usn::major);
  if (recordLength < usn::header || recordLength % 8 != 0 || recordLength > kMaxUsnRecordLength ||
      recordLength > bytes.size())
    return UsnStep::Damaged;
  if (major != 2 && major != 3) {
    if (major != 4) return UsnStep::Damaged;
    length = recordLength;
    return UsnStep::Other;
  }
  const Fields& f = major == 2 ? kVersion2 : kVersion3;
  if (recordLength < f.fixedSize) return UsnStep::Damaged;
  const std::size_t nameBytes = le16(bytes, f.nameLength);
  const std::size_t nameOffset = le16(bytes, f.nameOffset);
  if (nameBytes == 0 || nameBytes % 2 != 0 || nameOffset < f.fixedSize || nameOffset > recordLength ||
      recordLength - nameOffset < nameBytes)
    return UsnStep::Damaged;
  const std::uint64_t file = le64(bytes, f.file);
  const std::uint64_t parent = le64(bytes, f.parent);
  // Version 3's high halves are zero on NTFS; anything else is not ours.
  if (major == 3 && (le64(bytes, f.file + 8) != 0 || le64(bytes, f.parent + 8) != 0)) return UsnStep::Damaged;
  out = UsnRecord{};
  out.fileRecord = file & kRecordMask;
  out.fileSequence = static_cast<std::uint16_t>(file >> 48);
  out.parentRecord = parent & kRecordMask;
  out.parentSequence = static_cast<std::uint16_t>(parent >> 48);
  out.timestamp = le64(bytes, f.timestamp);
  out.reason = le32(bytes, f.reason);
  out.fileAttributes = le32(bytes, f.attributes);
  out.name = utf16leToUtf8(bytes.subspan(nameOffset, nameBytes), nameBytes / 2);
  if (out.name.empty()) return UsnStep::Damaged;
  length = recordLength;
  return UsnStep::Record;
}

}  // namespace quorvel::ntfsfmt
