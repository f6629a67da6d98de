#include "fs/ext/ExtSuperblock.h"

#include "io/Arithmetic.h"
#include "io/Crc32c.h"

namespace quorvel::extfmt {

namespace {
namespace field {
constexpr std::size_t inodesCount = 0;
constexpr std::size_t blocksCountLo = 4;
constexpr std::size_t firstDataBlock = 20;
constexpr std::size_t logBlockSize = 24;
constexpr std::size_t blocksPerGroup = 32;
constexpr std::size_t inodesPerGroup = 40;
constexpr std::size_t magic = 56;
constexpr std::size_t revision = 76;
constexpr std::size_t firstInode = 84;
constexpr std::size_t inodeSize = 88;
constexpr std::size_t blockGroupNumber = 90;
constexpr std::size_t featureCompat = 92;
constexpr std::size_t featureIncompat = 96;
constexpr std::size_t featureRoCompat = 100;
constexpr std::size_t descriptorSize = 0xFE;
constexpr std::size_t firstMetaGroup = 0x104;
constexpr std::size_t backupGroups = 0x24C;
constexpr std::size_t blocksCountHi = 0x150;
constexpr std::size_t uuid = 0x68;
constexpr std::size_t journalInode = 0xE0;
constexpr std::size_t journalDevice = 0xE4;
constexpr std::size_t checksumSeed = 0x270;
}  // namespace field

namespace desc {
constexpr std::size_t blockBitmapLo = 0;
constexpr std::size_t inodeBitmapLo = 4;
constexpr std::size_t inodeTableLo = 8;
constexpr std::size_t freeInodesLo = 14;
constexpr std::size_t flags = 18;
constexpr std::size_t unusedInodesLo = 28;
constexpr std::size_t blockBitmapHi = 0x20;
constexpr std::size_t inodeBitmapHi = 0x24;
constexpr std::size_t inodeTableHi = 0x28;
constexpr std::size_t freeInodesHi = 0x2E;
constexpr std::size_t unusedInodesHi = 0x32;
}  // namespace desc

constexpr std::uint32_t kLargestLogBlockSize = 6;  // 64 KiB blocks
constexpr std::uint32_t kGoodOldRevision = 0;
constexpr std::uint16_t kGoodOldInodeSize = 128;
}  // namespace

Superblock decodeSuperblock(Bytes s) {
  Superblock b;
  b.inodesCount = le32(s, field::inodesCount);
  b.featureCompat = le32(s, field::featureCompat);
  b.featureIncompat = le32(s, field::featureIncompat);
  b.featureRoCompat = le32(s, field::featureRoCompat);
  b.blocksCount = le32(s, field::blocksCountLo);
  if (b.featureIncompat & kIncompat64Bit) b.blocksCount |= std::uint64_t{le32(s, field::blocksCountHi)} << 32;
  b.firstDataBlock = le32(s, field::firstDataBlock);
  b.logBlockSize = le32(s, field::logBlockSize);
  b.blocksPerGroup = le32(s, field::blocksPerGroup);
  b.inodesPerGroup = le32(s, field::inodesPerGroup);
  b.magic = le16(s, field::magic);
  b.blockGroupNumber = le16(s, field::blockGroupNumber);
  b.revision = le32(s, field::revision);
  if (b.revision != kGoodOldRevision) {
    b.firstInode = le32(s, field::firstInode);
    b.inodeSize = le16(s, field::inodeSize);
  } else {
    b.inodeSize = kGoodOldInodeSize;
  }
  b.descriptorSizeField = le16(s, field::descriptorSize);
  b.firstMetaGroup = le32(s, field::firstMetaGroup);
  b.backupGroups[0] = le32(s, field::backupGroups);
  b.backupGroups[1] = le32(s, field::backupGroups + 4);
  for (std::size_t i = 0; i < sizeof b.uuid; ++i) b.uuid[i] = u8(s, field::uuid + i);
  b.journalInode = le32(s, field::journalInode);
  b.journalDevice = le32(s, field::journalDevice);
  b.checksumSeedField = le32(s, field::checksumSeed);
  return b;
}

std::uint32_t Superblock::checksumSeed() const {
  if (featureIncompat & kIncompatCsumSeed) return checksumSeedField;
  return crc32cUpdate(~0u, Bytes(uuid, sizeof uuid));
}

std::uint64_t Superblock::groupCount() const {
  if (blocksPerGroup == 0 || blocksCount <= firstDataBlock) return 0;
  return (blocksCount - firstDataBlock + blocksPerGroup - 1) / blocksPerGroup;
}

bool Superblock::groupHasSuperblock(std::uint64_t g) const {
  if (g == 0) return true;
  if (featureCompat & kCompatSparseSuper2) return g == backupGroups[0] || g == backupGroups[1];
  if (g == 1 || !(featureRoCompat & kRoCompatSparseSuper)) return true;
  if (g % 2 == 0) return false;
  for (const std::uint64_t base : {3u, 5u, 7u}) {
    std::uint64_t power = base;
    while (power < g) power *= base;
    if (power == g) return true;
  }
  return false;
}

std::uint64_t Superblock::descriptorBlock(std::uint64_t g, std::uint64_t superblockBlock) const {
  const std::uint64_t perBlock = blockSize() / descriptorSize();
  const std::uint64_t metaGroup = g / perBlock;
  if (!(featureIncompat & kIncompatMetaBg) || metaGroup < firstMetaGroup) return superblockBlock + 1 + metaGroup;
  const std::uint64_t first = metaGroup * perBlock;
  return firstDataBlock + first * blocksPerGroup + (groupHasSuperblock(first) ? 1 : 0);
}

std::string Superblock::generationName() const {
  constexpr std::uint32_t ext4Incompat = kIncompatExtents | kIncompat64Bit | kIncompatFlexBg | kIncompatInlineData;
  constexpr std::uint32_t ext4RoCompat = kRoCompatHugeFile | kRoCompatGdtChecksum | kRoCompatMetadataChecksum;
  if ((featureIncompat & ext4Incompat) || (featureRoCompat & ext4RoCompat)) return "ext 4";
  if (featureCompat & kCompatHasJournal) return "ext 3";
  return "ext 2";
}

std::string superblockFault(const Superblock& b) {
  if (b.magic != kMagic) return "its magic number is not 0xEF53";
  if (b.logBlockSize > kLargestLogBlockSize) return "its block size is absurd";
  const std::uint64_t blockSize = b.blockSize();
  if (b.blocksCount == 0 || b.blocksPerGroup == 0 || b.inodesPerGroup == 0 || b.inodesCount == 0)
    return "it counts no blocks or no inodes";
  if (b.blocksPerGroup > 8 * blockSize || b.inodesPerGroup > 8 * blockSize)
    return "a group holds more than one bitmap block can map";
  if (b.inodeSize < 128 || b.inodeSize > blockSize || !isPowerOfTwo(b.inodeSize)) return "its inode size is absurd";
  if (b.has64Bit() && b.descriptorSizeField != 0 &&
      (b.descriptorSizeField < 32 || b.descriptorSizeField > 1024 || !isPowerOfTwo(b.descriptorSizeField)))
    return "its group descriptor size is absurd";
  if (b.inodesCount / b.inodesPerGroup > b.groupCount()) return "it counts more inodes than its groups hold";
  return {};
}

std::optional<std::uint64_t> sniffSuperblock(Bytes s, bool primaryOnly) {
  if (s.size() < 512) return std::nullopt;
  const Superblock b = decodeSuperblock(s);
  if (b.magic != kMagic || b.logBlockSize > kLargestLogBlockSize) return std::nullopt;
  const std::uint64_t blockSize = b.blockSize();
  // 1 KiB blocks leave block 0 to the boot area; larger ones hold it.
  if (b.firstDataBlock != (blockSize == 1024 ? 1u : 0u)) return std::nullopt;
  if (b.inodesCount == 0 || b.blocksPerGroup == 0 || b.inodesPerGroup == 0) return std::nullopt;
  if (primaryOnly && b.blockGroupNumber != 0) return std::nullopt;
  if (b.blocksCount == 0) return std::nullopt;
  return saturatingProduct(b.blocksCount, blockSize);
}

GroupDescriptor decodeGroupDescriptor(Bytes d, std::uint32_t size) {
  GroupDescriptor g;
  g.blockBitmap = le32(d, desc::blockBitmapLo);
  g.inodeBitmap = le32(d, desc::inodeBitmapLo);
  g.inodeTable = le32(d, desc::inodeTableLo);
  g.flags = le16(d, desc::flags);
  g.unusedInodes = le16(d, desc::unusedInodesLo);
  g.freeInodes = le16(d, desc::freeInodesLo);
  if (size >= 64) {
    g.blockBitmap |= std::uint64_t{le32(d, desc::blockBitmapHi)} << 32;
    g.inodeBitmap |= std::uint64_t{le32(d, desc::inodeBitmapHi)} << 32;
    g.inodeTable |= std::uint64_t{le32(d, desc::inodeTableHi)} << 32;
    g.unusedInodes |= std::uint32_t{le16(d, desc::unusedInodesHi)} << 16;
    g.freeInodes |= std::uint32_t{le16(d, desc::freeInodesHi)} << 16;
  }
  return g;
}

}  // namespace quorvel::extfmt
