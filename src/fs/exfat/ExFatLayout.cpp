#include "fs/exfat/ExFatLayout.h"

#include "fs/fat/FatLayout.h"
#include "io/Arithmetic.h"

namespace quorvel::exfatfmt {

namespace {
namespace boot {
constexpr std::size_t name = 0x03;
constexpr std::size_t volumeLength = 0x48;
constexpr std::size_t fatOffset = 0x50;
constexpr std::size_t fatLength = 0x54;
constexpr std::size_t clusterHeapOffset = 0x58;
constexpr std::size_t clusterCount = 0x5C;
constexpr std::size_t rootCluster = 0x60;
constexpr std::size_t volumeFlags = 0x6A;
constexpr std::size_t bytesPerSectorShift = 0x6C;
constexpr std::size_t sectorsPerClusterShift = 0x6D;
constexpr std::size_t fatCount = 0x6E;
}  // namespace boot

namespace file {
constexpr std::size_t secondaryCount = 1;
constexpr std::size_t setChecksum = 2;
constexpr std::size_t attributes = 4;
constexpr std::size_t createTimestamp = 8;
constexpr std::size_t modifiedTimestamp = 12;
constexpr std::size_t accessedTimestamp = 16;
constexpr std::size_t create10ms = 20;
constexpr std::size_t modified10ms = 21;
constexpr std::size_t createUtcOffset = 22;
constexpr std::size_t modifiedUtcOffset = 23;
constexpr std::size_t accessedUtcOffset = 24;
}  // namespace file

namespace stream {
constexpr std::size_t flags = 1;
constexpr std::size_t nameLength = 3;
constexpr std::size_t validDataLength = 8;
constexpr std::size_t firstCluster = 20;
constexpr std::size_t dataLength = 24;
}  // namespace stream

constexpr std::uint32_t kLargestClusterCount = 0xFFFFFFF5;
}  // namespace

bool hasExFatName(Bytes s) { return hasText(s, boot::name, "EXFAT   "); }

std::optional<std::uint64_t> sniffBootSector(Bytes s) {
  if (!fatfmt::hasFamilyJump(s) || !hasText(s, boot::name, "EXFA")) return std::nullopt;
  const unsigned shift = u8(s, boot::bytesPerSectorShift);
  const std::uint64_t sectorSize = shift >= 9 && shift <= 12 ? 1ull << shift : 512;
  return saturatingProduct(le64(s, boot::volumeLength), sectorSize);
}

BootSector decodeBootSector(Bytes s) {
  BootSector b;
  b.volumeLength = le64(s, boot::volumeLength);
  b.fatOffset = le32(s, boot::fatOffset);
  b.fatLength = le32(s, boot::fatLength);
  b.clusterHeapOffset = le32(s, boot::clusterHeapOffset);
  b.clusterCount = le32(s, boot::clusterCount);
  b.rootCluster = le32(s, boot::rootCluster);
  b.volumeFlags = le16(s, boot::volumeFlags);
  b.bytesPerSectorShift = u8(s, boot::bytesPerSectorShift);
  b.sectorsPerClusterShift = u8(s, boot::sectorsPerClusterShift);
  b.fatCount = u8(s, boot::fatCount);
  return b;
}

std::optional<ExFatGeometry> exFatGeometry(const BootSector& b) {
  if (b.bytesPerSectorShift < 9 || b.bytesPerSectorShift > 12) return std::nullopt;
  if (b.sectorsPerClusterShift > 25 - b.bytesPerSectorShift) return std::nullopt;
  if (b.fatLength == 0 || b.clusterCount == 0 || b.volumeLength == 0) return std::nullopt;
  // One FAT, or two with TexFAT; the heap starts after the last of them.
  if (b.fatCount != 1 && b.fatCount != 2) return std::nullopt;
  if (b.fatOffset == 0 || b.clusterHeapOffset < b.fatOffset + std::uint64_t{b.fatLength} * b.fatCount)
    return std::nullopt;
  if (b.clusterHeapOffset >= b.volumeLength) return std::nullopt;

  ExFatGeometry g;
  g.bytesPerSector = 1u << b.bytesPerSectorShift;
  g.clusterSize = g.bytesPerSector << b.sectorsPerClusterShift;
  const std::uint64_t secondFat = (b.fatCount == 2 && (b.volumeFlags & 1)) ? b.fatLength : 0;
  g.fatOffset = (std::uint64_t{b.fatOffset} + secondFat) * g.bytesPerSector;
  g.fatBytes = std::uint64_t{b.fatLength} * g.bytesPerSector;
  g.heapOffset = std::uint64_t{b.clusterHeapOffset} * g.bytesPerSector;
  g.volumeBytes = saturatingProduct(b.volumeLength, g.bytesPerSector);
  g.rootCluster = b.rootCluster;

  // The count the boot sector gives, within what the heap and the FAT hold.
  std::uint64_t count = b.clusterCount;
  const std::uint64_t heapClusters = (b.volumeLength - b.clusterHeapOffset) >> b.sectorsPerClusterShift;
  const std::uint64_t fatEntries = g.fatBytes / 4;
  if (count > heapClusters) count = heapClusters;
  if (count + 2 > fatEntries) count = fatEntries >= 2 ? fatEntries - 2 : 0;
  if (count > kLargestClusterCount) count = kLargestClusterCount;
  if (count == 0) return std::nullopt;
  g.clusterCount = static_cast<std::uint32_t>(count);
  return g;
}

FileEntry decodeFileEntry(Bytes s) {
  FileEntry e;
  e.type = u8(s, 0);
  e.secondaryCount = u8(s, file::secondaryCount);
  e.setChecksum = le16(s, file::setChecksum);
  e.attributes = le16(s, file::attributes);
  e.createTimestamp = le32(s, file::createTimestamp);
  e.modifiedTimestamp = le32(s, file::modifiedTimestamp);
  e.accessedTimestamp = le32(s, file::accessedTimestamp);
  e.create10ms = u8(s, file::create10ms);
  e.modified10ms = u8(s, file::modified10ms);
  e.createUtcOffset = u8(s, file::createUtcOffset);
  e.modifiedUtcOffset = u8(s, file::modifiedUtcOffset);
  e.accessedUtcOffset = u8(s, file::accessedUtcOffset);
  return e;
}

StreamEntry decodeStreamEntry(Bytes s) {
  StreamEntry e;
  e.type = u8(s, 0);
  e.flags = u8(s, stream::flags);
  e.nameLength = u8(s, stream::nameLength);
  e.validDataLength = le64(s, stream::validDataLength);
  e.firstCluster = le32(s, stream::firstCluster);
  e.dataLength = le64(s, stream::dataLength);
  return e;
}

std::uint16_t entrySetChecksum(Bytes set) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (i == file::setChecksum || i == file::setChecksum + 1) continue;
    std::uint8_t b = set[i];
    if (i % kEntrySize == 0) b |= entryType::inUse;
    sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
  }
  return sum;
}

}  // namespace quorvel::exfatfmt
