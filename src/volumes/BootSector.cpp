#include "volumes/BootSector.h"

#include "fs/fat/FatLayout.h"
#include "io/Arithmetic.h"

namespace quorvel {

namespace {

// Boot sector fields, as their offsets say.
namespace field {
constexpr std::size_t jumpOpcode = 0x00;
constexpr std::size_t jumpDisplacement = 0x01;
constexpr std::size_t oemName = 0x03;
constexpr std::size_t bytesPerSector = 0x0B;
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

VolumeClass classifyFat(Bytes s) {
  const auto geometry = fatfmt::fatGeometry(fatfmt::decodeBiosParameterBlock(s));
  if (!geometry) return {};
  switch (geometry->width) {
    case fatfmt::FatWidth::Fat12: return {VolumeKind::Fat12, geometry->volumeBytes};
    case fatfmt::FatWidth::Fat16: return {VolumeKind::Fat16, geometry->volumeBytes};
    case fatfmt::FatWidth::Fat32: break;
  }
  return {VolumeKind::Fat32, geometry->volumeBytes};
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
