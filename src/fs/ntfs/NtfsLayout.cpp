#include "fs/ntfs/NtfsLayout.h"

namespace quorvel::ntfsfmt {

namespace boot {
constexpr std::size_t jump = 0x00;  // 0xEB and the displacement 0x52
constexpr std::size_t oemName = 0x03;
constexpr std::size_t bytesPerSector = 0x0B;
constexpr std::size_t sectorsPerCluster = 0x0D;
constexpr std::size_t volumeSectors = 0x28;
constexpr std::size_t mftCluster = 0x30;
constexpr std::size_t mftMirrorCluster = 0x38;
constexpr std::size_t clustersPerRecord = 0x40;
}  // namespace boot

namespace record {
constexpr std::size_t signature = 0x00;
constexpr std::size_t updateSequenceOffset = 0x04;
constexpr std::size_t updateSequenceCount = 0x06;
constexpr std::size_t sequence = 0x10;
constexpr std::size_t firstAttribute = 0x14;
constexpr std::size_t flags = 0x16;
constexpr std::size_t allocatedSize = 0x1C;
constexpr std::size_t baseReference = 0x20;
constexpr std::size_t ownNumber = 0x2C;
// The own-number field exists in headers whose sequence array starts after it.
constexpr std::size_t headerWithOwnNumber = 0x30;
}  // namespace record

namespace attribute {
constexpr std::size_t type = 0x00;
constexpr std::size_t length = 0x04;
constexpr std::size_t nonResident = 0x08;
constexpr std::size_t nameLength = 0x09;
constexpr std::size_t nameOffset = 0x0A;
constexpr std::size_t flags = 0x0C;
constexpr std::size_t id = 0x0E;
constexpr std::size_t valueLength = 0x10;
constexpr std::size_t valueOffset = 0x14;
constexpr std::size_t residentHeaderSize = 0x18;
constexpr std::size_t firstVcn = 0x10;
constexpr std::size_t lastVcn = 0x18;
constexpr std::size_t runListOffset = 0x20;
constexpr std::size_t compressionUnit = 0x22;
constexpr std::size_t allocatedSize = 0x28;
constexpr std::size_t realSize = 0x30;
constexpr std::size_t initializedSize = 0x38;
constexpr std::size_t nonResidentHeaderSize = 0x40;
}  // namespace attribute

namespace filename {
constexpr std::size_t parentReference = 0x00;
constexpr std::size_t created = 0x08;
constexpr std::size_t modified = 0x10;
constexpr std::size_t changed = 0x18;
constexpr std::size_t accessed = 0x20;
constexpr std::size_t allocatedSize = 0x28;
constexpr std::size_t realSize = 0x30;
constexpr std::size_t fileAttributes = 0x38;
constexpr std::size_t nameLength = 0x40;
constexpr std::size_t nameSpace = 0x41;
constexpr std::size_t name = kFileNameFixedBytes;
}  // namespace filename

namespace stdinfo {
constexpr std::size_t created = 0x00;
constexpr std::size_t modified = 0x08;
constexpr std::size_t accessed = 0x18;
constexpr std::size_t minimumSize = 0x20;
}  // namespace stdinfo

namespace listentry {
constexpr std::size_t type = 0x00;
constexpr std::size_t length = 0x04;
constexpr std::size_t nameLength = 0x06;
constexpr std::size_t firstVcn = 0x08;
constexpr std::size_t recordReference = 0x10;
constexpr std::size_t minimumSize = 0x1A;
}  // namespace listentry

bool BootSector::sectorSizeValid() const {
  return isPowerOfTwo(bytesPerSector) && bytesPerSector >= 256 && bytesPerSector <= 4096;
}

std::uint64_t BootSector::clusterSize() const {
  if (!sectorSizeValid() || sectorsPerClusterRaw == 0) return 0;
  std::uint64_t sectors = sectorsPerClusterRaw;
  // Values above 0x80 are negative shifts, used for clusters above 64 KiB.
  if (sectorsPerClusterRaw > 0x80) {
    const unsigned shift = 256u - sectorsPerClusterRaw;
    if (shift > 20) return 0;
    sectors = 1ull << shift;
  }
  const std::uint64_t size = sectors * bytesPerSector;
  if (!isPowerOfTwo(size) || size < kMinClusterSize || size > kMaxClusterSize) return 0;
  return size;
}

std::uint32_t BootSector::recordSize() const {
  std::uint64_t size = 0;
  if (clustersPerRecord < 0) {
    const int shift = -clustersPerRecord;
    if (shift > 31) return 0;
    size = 1ull << shift;
  } else if (clustersPerRecord > 0) {
    const std::uint64_t cluster = clusterSize();
    if (cluster == 0) return 0;
    size = cluster * static_cast<std::uint64_t>(clustersPerRecord);
  }
  if (!isPowerOfTwo(size) || size < kMinRecordSize || size > kMaxRecordSize) return 0;
  return static_cast<std::uint32_t>(size);
}

BootSector parseBootSector(Bytes s) {
  BootSector b;
  b.hasNtfsName = hasText(s, boot::oemName, "NTFS");
  b.bytesPerSector = le16(s, boot::bytesPerSector);
  b.sectorsPerClusterRaw = u8(s, boot::sectorsPerCluster);
  b.volumeSectors = le64(s, boot::volumeSectors);
  b.mftCluster = le64(s, boot::mftCluster);
  b.mftMirrorCluster = le64(s, boot::mftMirrorCluster);
  b.clustersPerRecord = static_cast<std::int8_t>(u8(s, boot::clustersPerRecord));
  return b;
}

std::optional<std::uint64_t> sniffBootSector(Bytes s, bool requireName) {
  if (s.size() < 512 || u8(s, boot::jump) != 0xEB || u8(s, boot::jump + 1) != 0x52) return std::nullopt;
  if (le16(s, boot::bytesPerSector) != 512) return std::nullopt;
  if (requireName && !hasText(s, boot::oemName, "NTFS")) return std::nullopt;
  return saturatingProduct(le64(s, boot::volumeSectors), 512);
}

RecordHeader parseRecordHeader(Bytes r) {
  RecordHeader h;
  h.hasFileSignature = hasText(r, record::signature, "FILE");
  h.updateSequenceOffset = le16(r, record::updateSequenceOffset);
  h.updateSequenceCount = le16(r, record::updateSequenceCount);
  h.sequence = le16(r, record::sequence);
  h.firstAttribute = le16(r, record::firstAttribute);
  h.flags = le16(r, record::flags);
  h.allocatedSize = le32(r, record::allocatedSize);
  h.baseReference = le64(r, record::baseReference);
  if (h.updateSequenceOffset >= record::headerWithOwnNumber && r.size() >= record::headerWithOwnNumber)
    h.ownNumber = le32(r, record::ownNumber);
  return h;
}

std::uint32_t recordSizeFromHeader(const RecordHeader& h) {
  const std::uint32_t size = h.allocatedSize;
  if (!isPowerOfTwo(size) || size < kMinRecordSize || size > kMaxRecordSize) return 0;
  const std::uint32_t strides = size >= kFixupStride ? size / kFixupStride : 0;
  if (h.updateSequenceCount != strides + 1) return 0;
  return size;
}

AttributeCheck parseAttributeHeader(Bytes r, std::uint32_t offset, AttributeHeader& a) {
  if (offset > r.size() || r.size() - offset < 4) return AttributeCheck::Damaged;
  a = AttributeHeader{};
  a.offset = offset;
  a.type = le32(r, offset + attribute::type);
  if (a.type == kEndOfAttributes) return AttributeCheck::End;
  if (r.size() - offset < attribute::residentHeaderSize) return AttributeCheck::Damaged;

  a.length = le32(r, offset + attribute::length);
  a.nonResident = u8(r, offset + attribute::nonResident) != 0;
  a.nameLength = u8(r, offset + attribute::nameLength);
  a.nameOffset = le16(r, offset + attribute::nameOffset);
  a.flags = le16(r, offset + attribute::flags);
  a.id = le16(r, offset + attribute::id);

  const std::size_t headerSize = a.nonResident ? attribute::nonResidentHeaderSize : attribute::residentHeaderSize;
  if (a.length < headerSize || a.length > r.size() - offset) return AttributeCheck::Damaged;
  if (a.nameLength != 0 && (a.nameOffset > a.length || (a.length - a.nameOffset) / 2 < a.nameLength))
    return AttributeCheck::Damaged;

  if (!a.nonResident) {
    const std::uint32_t relative = le16(r, offset + attribute::valueOffset);
    a.valueLength = le32(r, offset + attribute::valueLength);
    if (relative < attribute::residentHeaderSize || relative > a.length || a.length - relative < a.valueLength)
      return AttributeCheck::Damaged;
    a.valueOffset = offset + relative;
    return AttributeCheck::Ok;
  }

  const std::uint32_t relative = le16(r, offset + attribute::runListOffset);
  if (relative < attribute::nonResidentHeaderSize || relative > a.length) return AttributeCheck::Damaged;
  a.runListOffset = offset + relative;
  a.runListLength = a.length - relative;
  a.firstVcn = le64(r, offset + attribute::firstVcn);
  a.lastVcn = le64(r, offset + attribute::lastVcn);
  a.compressionUnit = u8(r, offset + attribute::compressionUnit);
  a.allocatedSize = le64(r, offset + attribute::allocatedSize);
  a.realSize = le64(r, offset + attribute::realSize);
  a.initializedSize = le64(r, offset + attribute::initializedSize);
  return AttributeCheck::Ok;
}

FileNameValue parseFileName(Bytes v) {
  FileNameValue f;
  if (v.size() < filename::name) return f;
  f.parentReference = le64(v, filename::parentReference);
  f.created = le64(v, filename::created);
  f.modified = le64(v, filename::modified);
  f.changed = le64(v, filename::changed);
  f.accessed = le64(v, filename::accessed);
  f.allocatedSize = le64(v, filename::allocatedSize);
  f.realSize = le64(v, filename::realSize);
  f.fileAttributes = le32(v, filename::fileAttributes);
  f.nameLength = u8(v, filename::nameLength);
  f.nameSpace = u8(v, filename::nameSpace);
  f.nameOffset = filename::name;
  f.valid = (v.size() - filename::name) / 2 >= f.nameLength;
  return f;
}

StandardInformation parseStandardInformation(Bytes v) {
  StandardInformation s;
  if (v.size() < stdinfo::minimumSize) return s;
  s.created = le64(v, stdinfo::created);
  s.modified = le64(v, stdinfo::modified);
  s.accessed = le64(v, stdinfo::accessed);
  s.valid = true;
  return s;
}

AttributeListEntry parseAttributeListEntry(Bytes list, std::size_t offset) {
  AttributeListEntry e;
  if (offset > list.size() || list.size() - offset < listentry::minimumSize) return e;
  e.type = le32(list, offset + listentry::type);
  e.length = le16(list, offset + listentry::length);
  e.nameLength = u8(list, offset + listentry::nameLength);
  e.firstVcn = le64(list, offset + listentry::firstVcn);
  e.recordReference = le64(list, offset + listentry::recordReference);
  // A length that cannot hold the entry would stall or misalign the walk.
  e.valid = e.length >= listentry::minimumSize && e.length <= list.size() - offset;
  return e;
}

}  // namespace quorvel::ntfsfmt
