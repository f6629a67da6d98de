#include "volumes/BootSector.h"

#include "io/Arithmetic.h"

namespace quorvel {

namespace {

// Boot sector fields, as their offsets say.
namespace field {
constexpr std::size_t jumpOpcode = 0x00;
constexpr std::size_t jumpDisplacement = 0x01;
constexpr std::size_t oemName = 0x03;
constexpr std::size_t bytesPerSector = 0x0B;
constexpr std::size_t sectorsPerCluster = 0x0D;
constexpr std::size_t reservedSectors = 0x0E;
constexpr std::size_t fatCount = 0x10;
constexpr std::size_t rootEntryCount = 0x11;
constexpr std::size_t totalSectors16 = 0x13;
constexpr std::size_t sectorsPerFat16 = 0x16;
constexpr std::size_t totalSectors32 = 0x20;
constexpr std::size_t sectorsPerFat32 = 0x24;
constexpr std::size_t ntfsTotalSectors = 0x28;
constexpr std::size_t exfatVolumeLength = 0x48;
constexpr std::size_t exfatBytesPerSectorShift = 0x6C;
}  // namespace field

// HFS+ volume header and ext superblock fields, relative to their sector.
namespace header {
constexpr std::size_t hfsSignature = 0x00;
constexpr std::size_t hfsBlockSize = 0x28;
constexpr std::size_t hfsTotalBlocks = 0x2C;
constexpr std::size_t extInodesCount = 0;
constexpr std::size_t extBlocksCountLo = 4;
constexpr std::size_t extFirstDataBlock = 20;
constexpr std::size_t extLogBlockSize = 24;
constexpr std::size_t extBlocksPerGroup = 32;
constexpr std::size_t extInodesPerGroup = 40;
constexpr std::size_t extMagic = 56;
constexpr std::size_t extBlockGroupNumber = 90;
constexpr std::size_t extFeatureIncompat = 96;
constexpr std::size_t extBlocksCountHi = 0x150;
constexpr std::uint16_t extMagicValue = 0xEF53;
constexpr std::uint32_t extIncompat64Bit = 0x80;
}  // namespace header

// The FAT standard's rule: the cluster count decides FAT12 against FAT16.
// A 16-bit sectors-per-FAT of 0 means the FAT32 layout (root cluster, FSInfo),
// which decides FAT32 whatever the count, as the kernel and fsck do.
VolumeClass classifyFat(Bytes s) {
  const std::uint32_t bytesPerSector = le16(s, field::bytesPerSector);
  const std::uint32_t sectorsPerCluster = u8(s, field::sectorsPerCluster);
  const std::uint32_t reserved = le16(s, field::reservedSectors);
  const std::uint32_t fats = u8(s, field::fatCount);
  const std::uint32_t rootEntries = le16(s, field::rootEntryCount);
  const std::uint32_t fat16Size = le16(s, field::sectorsPerFat16);
  const std::uint32_t fatSize = fat16Size != 0 ? fat16Size : le32(s, field::sectorsPerFat32);
  const std::uint32_t total16 = le16(s, field::totalSectors16);
  const std::uint64_t total = total16 != 0 ? total16 : le32(s, field::totalSectors32);

  if (bytesPerSector < 512 || bytesPerSector > 4096 || !isPowerOfTwo(bytesPerSector)) return {};
  if (!isPowerOfTwo(sectorsPerCluster) || reserved == 0 || fats == 0 || fatSize == 0) return {};
  const std::uint64_t rootSectors = (rootEntries * 32ull + bytesPerSector - 1) / bytesPerSector;
  const std::uint64_t metadata = reserved + std::uint64_t{fats} * fatSize + rootSectors;
  if (total <= metadata) return {};
  const std::uint64_t clusters = (total - metadata) / sectorsPerCluster;

  VolumeKind kind = VolumeKind::Fat32;
  if (fat16Size != 0) kind = clusters < 4085 ? VolumeKind::Fat12 : VolumeKind::Fat16;
  return {kind, total * bytesPerSector};
}

}  // namespace

std::string kindText(VolumeKind kind) {
  switch (kind) {
    case VolumeKind::Ntfs: return "NTFS";
    case VolumeKind::Fat12: return "FAT12";
    case VolumeKind::Fat16: return "FAT16";
    case VolumeKind::Fat32: return "FAT32";
    case VolumeKind::ExFat: return "FAT64";
    case VolumeKind::FatUnknown: return "UNKNOWN";
    case VolumeKind::HfsPlus: return "HFS+";
    case VolumeKind::Ext: return "extX";
    case VolumeKind::None: break;
  }
  return {};
}

std::string foundStatusText(VolumeKind kind) {
  switch (kind) {
    case VolumeKind::Fat12: return "found FAT 12...";
    case VolumeKind::Fat16: return "found FAT 16...";
    case VolumeKind::Fat32: return "found FAT 32...";
    case VolumeKind::ExFat: return "found FAT 64...";
    case VolumeKind::FatUnknown: return "found unknown...";
    case VolumeKind::HfsPlus: return "found HFS+...";
    case VolumeKind::Ext: return "found extX...";
    case VolumeKind::Ntfs:
    case VolumeKind::None: break;
  }
  return {};
}

VolumeClass classifyBootSector(Bytes s, BootSectorOptions options) {
  if (s.size() < 512 || s[field::jumpOpcode] != 0xEB) return {};
  const std::uint8_t displacement = s[field::jumpDisplacement];

  if (displacement == 0x52) {
    if (le16(s, field::bytesPerSector) != 512) return {};
    if (options.requireNtfsName && !hasText(s, field::oemName, "NTFS")) return {};
    return {VolumeKind::Ntfs, saturatingProduct(le64(s, field::ntfsTotalSectors), 512)};
  }
  if (displacement != 0x3C && displacement != 0x58 && displacement != 0x76) return {};

  if (hasText(s, field::oemName, "EXFA")) {
    const unsigned shift = u8(s, field::exfatBytesPerSectorShift);
    const std::uint64_t sectorSize = shift >= 9 && shift <= 12 ? 1ull << shift : 512;
    return {VolumeKind::ExFat, saturatingProduct(le64(s, field::exfatVolumeLength), sectorSize)};
  }
  // Formatters write many OEM names ("MSDOS5.0", "mkfs.fat", "MSWIN4.1"):
  // the parameter block decides, and "MSDO" only marks a damaged one.
  const VolumeClass fat = classifyFat(s);
  if (fat.kind != VolumeKind::None) return fat;
  if (hasText(s, field::oemName, "MSDO")) return {VolumeKind::FatUnknown, 0};
  return {};
}

VolumeClass classifyVolumeHeader(Bytes s, bool primaryOnly) {
  if (s.size() < 512) return {};
  if ((hasText(s, header::hfsSignature, "H+") || hasText(s, header::hfsSignature, "HX")) &&
      s[2] == 0) {
    const std::uint32_t blockSize = be32(s, header::hfsBlockSize);
    if (blockSize < 512 || !isPowerOfTwo(blockSize)) return {};
    return {VolumeKind::HfsPlus, saturatingProduct(blockSize, be32(s, header::hfsTotalBlocks))};
  }
  if (le16(s, header::extMagic) == header::extMagicValue) {
    const std::uint32_t logBlockSize = le32(s, header::extLogBlockSize);
    if (logBlockSize > 6) return {};
    const std::uint64_t blockSize = 1024ull << logBlockSize;
    if (le32(s, header::extFirstDataBlock) != (blockSize == 1024 ? 1u : 0u)) return {};
    if (le32(s, header::extInodesCount) == 0 || le32(s, header::extBlocksPerGroup) == 0 ||
        le32(s, header::extInodesPerGroup) == 0)
      return {};
    if (primaryOnly && le16(s, header::extBlockGroupNumber) != 0) return {};
    std::uint64_t blocks = le32(s, header::extBlocksCountLo);
    if (le32(s, header::extFeatureIncompat) & header::extIncompat64Bit)
      blocks |= std::uint64_t{le32(s, header::extBlocksCountHi)} << 32;
    if (blocks == 0) return {};
    return {VolumeKind::Ext, saturatingProduct(blocks, blockSize)};
  }
  return {};
}

}  // namespace quorvel
