#pragma once
// The ext2/3/4 superblock, 1024 bytes into the volume, and the group
// descriptors after it: the fields that say whether a block of bytes is a
// superblock, how large its volume is and where each group keeps its inodes.
#include <cstdint>
#include <optional>
#include <string>

#include "io/Endian.h"

namespace quorvel::extfmt {

inline constexpr std::uint64_t kSuperblockOffset = 1024;
inline constexpr std::size_t kSuperblockBytes = 1024;
inline constexpr std::uint16_t kMagic = 0xEF53;
inline constexpr std::uint32_t kRootInode = 2;

// Feature bits the parser acts on.
inline constexpr std::uint32_t kCompatHasJournal = 0x4;
inline constexpr std::uint32_t kCompatSparseSuper2 = 0x200;
inline constexpr std::uint32_t kCompatFastCommit = 0x400;
inline constexpr std::uint32_t kIncompatFileType = 0x2;
inline constexpr std::uint32_t kIncompatMetaBg = 0x10;
inline constexpr std::uint32_t kIncompatExtents = 0x40;
inline constexpr std::uint32_t kIncompat64Bit = 0x80;
inline constexpr std::uint32_t kIncompatFlexBg = 0x200;
inline constexpr std::uint32_t kIncompatCsumSeed = 0x2000;
inline constexpr std::uint32_t kIncompatInlineData = 0x8000;
inline constexpr std::uint32_t kRoCompatSparseSuper = 0x1;
inline constexpr std::uint32_t kRoCompatHugeFile = 0x8;
inline constexpr std::uint32_t kRoCompatGdtChecksum = 0x10;
inline constexpr std::uint32_t kRoCompatMetadataChecksum = 0x400;

struct Superblock {
  std::uint32_t inodesCount = 0;
  std::uint64_t blocksCount = 0;      // both halves with the 64-bit feature
  std::uint32_t firstDataBlock = 0;
  std::uint32_t logBlockSize = 0;     // the block size is 1024 << this
  std::uint32_t blocksPerGroup = 0;
  std::uint32_t inodesPerGroup = 0;
  std::uint16_t magic = 0;
  std::uint16_t blockGroupNumber = 0; // of this copy; backups sit in later groups
  std::uint32_t revision = 0;
  std::uint32_t firstInode = 11;      // the first inode not reserved
  std::uint16_t inodeSize = 128;
  std::uint32_t featureCompat = 0;
  std::uint32_t featureIncompat = 0;
  std::uint32_t featureRoCompat = 0;
  std::uint16_t descriptorSizeField = 0;
  std::uint32_t firstMetaGroup = 0;  // with meta_bg: the first group whose descriptors move
  std::uint32_t backupGroups[2] = {0, 0};  // sparse_super2: the two groups with copies
  std::uint8_t uuid[16] = {};
  std::uint32_t journalInode = 0;    // with has_journal: the inode that holds it, 0 when it is on another device
  std::uint32_t journalDevice = 0;
  std::uint32_t checksumSeedField = 0;  // with csum_seed: the seed of every metadata checksum

  bool hasJournal() const { return (featureCompat & kCompatHasJournal) != 0; }
  bool metadataChecksums() const { return (featureRoCompat & kRoCompatMetadataChecksum) != 0; }
  // The seed metadata checksums start from: the stored one, else the UUID's.
  std::uint32_t checksumSeed() const;

  std::uint64_t blockSize() const { return logBlockSize <= 6 ? 1024ull << logBlockSize : 0; }
  bool has64Bit() const { return (featureIncompat & kIncompat64Bit) != 0; }
  // Descriptors are 32 bytes apart, or with the 64-bit feature as far as
  // the superblock says.
  std::uint32_t descriptorSize() const { return has64Bit() && descriptorSizeField >= 64 ? descriptorSizeField : 32; }
  // Every group the blocks fill, the last partial one too.
  std::uint64_t groupCount() const;
  // Whether group descriptors carry checksums and their unused-inode counts
  // and uninitialised flags can be trusted.
  bool groupsChecksummed() const {
    return (featureRoCompat & (kRoCompatGdtChecksum | kRoCompatMetadataChecksum)) != 0;
  }
  // Whether group g holds a copy of the superblock (and descriptors).
  bool groupHasSuperblock(std::uint64_t g) const;
  // The block that holds group g's descriptor: after the superblock that
  // sits in `superblockBlock`, or with meta_bg in the first group of g's
  // meta group.
  std::uint64_t descriptorBlock(std::uint64_t g, std::uint64_t superblockBlock) const;
  // "ext 2", "ext 3" or "ext 4", by the features that set them apart.
  std::string generationName() const;
};

Superblock decodeSuperblock(Bytes bytes);

// Why a decoded superblock cannot be used; empty when it can. The sizes of
// everything the parser allocates follow from these fields, so absurd
// values stop here.
std::string superblockFault(const Superblock& b);

// Whether the bytes are a consistent superblock: the size its volume claims,
// else nothing. With primaryOnly, a backup copy (block group other than 0)
// is not taken for the start of a volume.
std::optional<std::uint64_t> sniffSuperblock(Bytes bytes, bool primaryOnly = true);

// bg_flags
inline constexpr std::uint16_t kGroupInodesUninit = 0x1;
inline constexpr std::uint16_t kGroupBlocksUninit = 0x2;

struct GroupDescriptor {
  std::uint64_t blockBitmap = 0;
  std::uint64_t inodeBitmap = 0;
  std::uint64_t inodeTable = 0;   // both halves with the 64-bit feature
  std::uint16_t flags = 0;
  std::uint32_t unusedInodes = 0; // at the end of the table, never used
  std::uint32_t freeInodes = 0;
};

// One descriptor of `size` bytes (32, or the 64-bit form).
GroupDescriptor decodeGroupDescriptor(Bytes bytes, std::uint32_t size);

}  // namespace quorvel::extfmt
