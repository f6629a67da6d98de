#include "fs/fat/FatLayout.h"

#include "io/Arithmetic.h"

namespace quorvel::fatfmt {

namespace {
namespace field {
constexpr std::size_t jumpOpcode = 0x00;
constexpr std::size_t jumpDisplacement = 0x01;
constexpr std::size_t oemName = 0x03;
constexpr std::size_t bytesPerSector = 0x0B;
constexpr std::size_t sectorsPerCluster = 0x0D;
constexpr std::size_t reservedSectors = 0x0E;
constexpr std::size_t fatCount = 0x10;
constexpr std::size_t rootEntryCount = 0x11;
constexpr std::size_t volumeSectors16 = 0x13;
constexpr std::size_t sectorsPerFat16 = 0x16;
constexpr std::size_t volumeSectors32 = 0x20;
constexpr std::size_t sectorsPerFat32 = 0x24;
constexpr std::size_t rootCluster = 0x2C;
}  // namespace field

constexpr std::uint32_t kDirectoryEntrySize = 32;
}  // namespace

BiosParameterBlock decodeBiosParameterBlock(Bytes s) {
  BiosParameterBlock b;
  b.bytesPerSector = le16(s, field::bytesPerSector);
  b.sectorsPerCluster = u8(s, field::sectorsPerCluster);
  b.reservedSectors = le16(s, field::reservedSectors);
  b.fatCount = u8(s, field::fatCount);
  b.rootEntryCount = le16(s, field::rootEntryCount);
  const std::uint32_t total16 = le16(s, field::volumeSectors16);
  b.volumeSectors = total16 != 0 ? total16 : le32(s, field::volumeSectors32);
  b.sectorsPerFat16 = le16(s, field::sectorsPerFat16);
  b.sectorsPerFat32 = le32(s, field::sectorsPerFat32);
  b.rootCluster = le32(s, field::rootCluster);
  return b;
}

namespace {
// The sectors a volume with both counts 0 spans: what the FAT can map.
std::uint64_t sectorsTheFatMaps(const BiosParameterBlock& b, std::uint64_t metadata, bool fat32, std::uint64_t fatBytes) {
  std::uint64_t clusters = fatBytes * 8 / 32;
  if (!fat32) {
    clusters = fatBytes * 8 / 12;
    if (clusters >= 4085 + 2) clusters = fatBytes * 8 / 16;
  }
  clusters = clusters > 2 ? clusters - 2 : 0;
  return metadata + clusters * b.sectorsPerCluster;
}
}  // namespace

std::optional<FatGeometry> fatGeometry(const BiosParameterBlock& bpb, std::uint64_t fallbackBytes) {
  BiosParameterBlock b = bpb;
  if (b.bytesPerSector < 512 || b.bytesPerSector > 4096 || !isPowerOfTwo(b.bytesPerSector)) return std::nullopt;
  if (!isPowerOfTwo(b.sectorsPerCluster) || b.reservedSectors == 0 || b.fatCount == 0) return std::nullopt;
  const bool fat32 = b.sectorsPerFat16 == 0;
  const std::uint64_t sectorsPerFat = fat32 ? b.sectorsPerFat32 : b.sectorsPerFat16;
  if (sectorsPerFat == 0) return std::nullopt;

  FatGeometry g;
  g.bytesPerSector = b.bytesPerSector;
  g.clusterSize = b.bytesPerSector * b.sectorsPerCluster;
  const std::uint64_t rootSectors = fat32 ? 0 : (b.rootEntryCount * std::uint64_t{kDirectoryEntrySize} + b.bytesPerSector - 1) / b.bytesPerSector;
  const std::uint64_t metadata = b.reservedSectors + b.fatCount * sectorsPerFat + rootSectors;
  if (b.volumeSectors == 0)
    b.volumeSectors = fallbackBytes > 0 ? fallbackBytes / b.bytesPerSector
                                       : sectorsTheFatMaps(b, metadata, fat32, sectorsPerFat * b.bytesPerSector);
  if (b.volumeSectors <= metadata) return std::nullopt;
  const std::uint64_t clusters = (b.volumeSectors - metadata) / b.sectorsPerCluster;
  if (clusters == 0) return std::nullopt;

  g.width = fat32 ? FatWidth::Fat32 : clusters < 4085 ? FatWidth::Fat12 : FatWidth::Fat16;
  g.fatOffset = std::uint64_t{b.reservedSectors} * b.bytesPerSector;
  g.fatBytes = sectorsPerFat * b.bytesPerSector;
  g.rootOffset = g.fatOffset + b.fatCount * g.fatBytes;
  g.rootBytes = fat32 ? 0 : b.rootEntryCount * kDirectoryEntrySize;
  g.rootCluster = fat32 ? b.rootCluster : 0;
  g.dataOffset = metadata * b.bytesPerSector;
  g.volumeBytes = b.volumeSectors * b.bytesPerSector;

  // The FAT must have an entry for every cluster; a shorter one caps the count.
  const std::uint64_t entryBits = g.width == FatWidth::Fat12 ? 12 : g.width == FatWidth::Fat16 ? 16 : 32;
  const std::uint64_t fatEntries = g.fatBytes * 8 / entryBits;
  const std::uint64_t limit = g.width == FatWidth::Fat32 ? 0x0FFFFFF5ull : g.width == FatWidth::Fat16 ? 0xFFF5ull : 0xFF5ull;
  std::uint64_t count = clusters;
  if (fatEntries < count + 2) count = fatEntries >= 2 ? fatEntries - 2 : 0;
  if (count > limit) count = limit;
  if (count == 0) return std::nullopt;
  g.clusterCount = static_cast<std::uint32_t>(count);
  return g;
}

bool hasFamilyJump(Bytes s) {
  if (s.size() < 512 || u8(s, field::jumpOpcode) != 0xEB) return false;
  const std::uint8_t displacement = u8(s, field::jumpDisplacement);
  return displacement == 0x3C || displacement == 0x58 || displacement == 0x76;
}

std::optional<FatGeometry> sniffBootSector(Bytes s) {
  if (!hasFamilyJump(s) || hasText(s, field::oemName, "EXFA")) return std::nullopt;
  return fatGeometry(decodeBiosParameterBlock(s));
}

bool looksLikeDamagedBootSector(Bytes s) {
  return hasFamilyJump(s) && hasText(s, field::oemName, "MSDO") && !sniffBootSector(s);
}

}  // namespace quorvel::fatfmt
