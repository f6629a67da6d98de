#pragma once
// NTFS on-disk structures: every field the parser reads is named and decoded
// here, once. Decoders never trust a value: sizes and offsets come back as
// read, and the `valid`/`usable` members say whether the structure holds up.
#include <cstdint>
#include <optional>

#include "io/Arithmetic.h"
#include "io/Endian.h"

namespace quorvel::ntfsfmt {

// Attribute types the parser uses.
inline constexpr std::uint32_t kStandardInformation = 0x10;
inline constexpr std::uint32_t kAttributeList = 0x20;
inline constexpr std::uint32_t kFileName = 0x30;
inline constexpr std::uint32_t kData = 0x80;
inline constexpr std::uint32_t kEndOfAttributes = 0xFFFFFFFF;

// Attribute header flags.
inline constexpr std::uint16_t kAttributeCompressed = 0x0001;
inline constexpr std::uint16_t kAttributeEncrypted = 0x4000;
inline constexpr std::uint16_t kAttributeSparse = 0x8000;

// Record header flags.
inline constexpr std::uint16_t kRecordInUse = 0x0001;

// File attribute flags of a file-name value.
inline constexpr std::uint32_t kFileIsFolder = 0x10000000;

// File-name name spaces; DOS names are the 8.3 aliases of a long name.
inline constexpr std::uint8_t kNameSpacePosix = 0;
inline constexpr std::uint8_t kNameSpaceWin32 = 1;
inline constexpr std::uint8_t kNameSpaceDos = 2;
inline constexpr std::uint8_t kNameSpaceWin32AndDos = 3;

// Sizes outside these bounds mean a damaged field, not an exotic volume.
inline constexpr std::uint32_t kMinRecordSize = 256;
inline constexpr std::uint32_t kMaxRecordSize = 65536;
inline constexpr std::uint32_t kDefaultRecordSize = 1024;
inline constexpr std::uint64_t kMinClusterSize = 256;
inline constexpr std::uint64_t kMaxClusterSize = 2 * 1024 * 1024;
inline constexpr std::uint32_t kFixupStride = 512;

// Record numbers are the low 48 bits of a file reference, the sequence
// number its top 16.
inline constexpr std::uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;
constexpr std::uint64_t referenceRecord(std::uint64_t reference) { return reference & kRecordNumberMask; }
constexpr std::uint16_t referenceSequence(std::uint64_t reference) { return static_cast<std::uint16_t>(reference >> 48); }

struct BootSector {
  bool hasNtfsName = false;           // "NTFS" at offset 3
  std::uint16_t bytesPerSector = 0;   // 0x0B
  std::uint8_t sectorsPerClusterRaw = 0;  // 0x0D; above 0x80 a negative shift
  std::uint64_t volumeSectors = 0;    // 0x28
  std::uint64_t mftCluster = 0;       // 0x30
  std::uint64_t mftMirrorCluster = 0; // 0x38
  std::int8_t clustersPerRecord = 0;  // 0x40; negative n means 2^-n bytes

  bool sectorSizeValid() const;
  // Bytes per cluster, or 0 when the fields make no sense.
  std::uint64_t clusterSize() const;
  // Bytes per MFT record, or 0 when the field makes no sense.
  std::uint32_t recordSize() const;
  // "NTFS" with a usable sector and cluster size.
  bool valid() const { return hasNtfsName && clusterSize() != 0; }
};
BootSector parseBootSector(Bytes sector);

// Whether a sector is an NTFS boot sector (a jump of 0xEB 0x52 and 512-byte
// sectors; with requireName also the "NTFS" name, which a search among
// millions of sectors wants). The size the volume claims, else nothing.
std::optional<std::uint64_t> sniffBootSector(Bytes sector, bool requireName);

struct RecordHeader {
  bool hasFileSignature = false;      // "FILE"
  std::uint16_t updateSequenceOffset = 0;  // 0x04
  std::uint16_t updateSequenceCount = 0;   // 0x06: the sequence word plus one per stride
  std::uint16_t sequence = 0;         // 0x10: bumped each time the record is freed
  std::uint16_t firstAttribute = 0;   // 0x14
  std::uint16_t flags = 0;            // 0x16
  std::uint32_t allocatedSize = 0;    // 0x1C: the record's size as written
  std::uint64_t baseReference = 0;    // 0x20: non-zero in an extension record
  std::optional<std::uint32_t> ownNumber;  // 0x2C, only in headers that hold it

  bool inUse() const { return (flags & kRecordInUse) != 0; }
  // The MFT's own extension records name record 0: the sequence number
  // makes their reference non-zero.
  bool isExtension() const { return baseReference != 0; }
};
RecordHeader parseRecordHeader(Bytes record);

// A record's size by its own header, when the header is consistent with it.
std::uint32_t recordSizeFromHeader(const RecordHeader& header);

// One attribute's header, decoded and checked against the bytes it sits in.
// Offsets are from the start of the record.
struct AttributeHeader {
  std::uint32_t type = 0;           // 0x00
  std::uint32_t offset = 0;         // where the attribute starts in the record
  std::uint32_t length = 0;         // 0x04
  bool nonResident = false;         // 0x08
  std::uint8_t nameLength = 0;      // 0x09, UTF-16 units
  std::uint16_t nameOffset = 0;     // 0x0A, from the attribute's start
  std::uint16_t flags = 0;          // 0x0C
  std::uint16_t id = 0;             // 0x0E
  // Resident: the value's place in the record.
  std::uint32_t valueOffset = 0;    // attribute start + u16 at 0x14
  std::uint32_t valueLength = 0;    // 0x10
  // Non-resident.
  std::uint64_t firstVcn = 0;       // 0x10
  std::uint64_t lastVcn = 0;        // 0x18
  std::uint32_t runListOffset = 0;  // attribute start + u16 at 0x20
  std::uint32_t runListLength = 0;  // to the attribute's end
  std::uint8_t compressionUnit = 0; // 0x22, log2 of clusters per unit
  std::uint64_t allocatedSize = 0;  // 0x28
  std::uint64_t realSize = 0;       // 0x30
  std::uint64_t initializedSize = 0;// 0x38

  bool unnamed() const { return nameLength == 0; }
  bool compressed() const { return (flags & kAttributeCompressed) != 0; }
  bool encrypted() const { return (flags & kAttributeEncrypted) != 0; }
  // Clusters the extent maps; 0 for an empty attribute (last VCN -1).
  std::uint64_t vcnCount() const { return lastVcn >= firstVcn && lastVcn != ~0ull ? lastVcn - firstVcn + 1 : 0; }
};

enum class AttributeCheck { Ok, End, Damaged };
// Decodes the attribute at `offset` within the first `usable` bytes of a
// record. End at the end marker; Damaged when a length or offset points
// outside the attribute or the usable bytes (the walk must stop there).
AttributeCheck parseAttributeHeader(Bytes record, std::uint32_t offset, AttributeHeader& out);

// The fixed part of a file-name value (an index key is one too); the name
// follows it.
inline constexpr std::size_t kFileNameFixedBytes = 0x42;

struct FileNameValue {
  std::uint64_t parentReference = 0;  // 0x00
  std::uint64_t created = 0;          // 0x08
  std::uint64_t modified = 0;         // 0x10
  std::uint64_t changed = 0;          // 0x18
  std::uint64_t accessed = 0;         // 0x20
  std::uint64_t allocatedSize = 0;    // 0x28
  std::uint64_t realSize = 0;         // 0x30
  std::uint32_t fileAttributes = 0;   // 0x38
  std::uint8_t nameLength = 0;        // 0x40, UTF-16 units
  std::uint8_t nameSpace = 0;         // 0x41
  std::uint32_t nameOffset = 0;       // in the span given to the parser (0x42)
  bool valid = false;                 // the name fits inside the value

  bool isFolder() const { return (fileAttributes & kFileIsFolder) != 0; }
};
FileNameValue parseFileName(Bytes value);

struct StandardInformation {
  std::uint64_t created = 0;   // 0x00
  std::uint64_t modified = 0;  // 0x08
  std::uint64_t accessed = 0;  // 0x18
  bool valid = false;
};
StandardInformation parseStandardInformation(Bytes value);

struct AttributeListEntry {
  std::uint32_t type = 0;            // 0x00
  std::uint16_t length = 0;          // 0x04
  std::uint8_t nameLength = 0;       // 0x06
  std::uint64_t firstVcn = 0;        // 0x08
  std::uint64_t recordReference = 0; // 0x10
  bool valid = false;                // the entry fits and its length can be stepped
};
AttributeListEntry parseAttributeListEntry(Bytes list, std::size_t offset);

}  // namespace quorvel::ntfsfmt
