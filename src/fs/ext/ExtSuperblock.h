#pragma once
// The ext2/3/4 superblock, 1024 bytes into the volume: the fields that say
// whether a block of bytes is one, and how large its volume is.
#include <cstdint>
#include <optional>

#include "io/Endian.h"

namespace quorvel::extfmt {

inline constexpr std::uint64_t kSuperblockOffset = 1024;

struct Superblock {
  std::uint32_t inodesCount = 0;
  std::uint64_t blocksCount = 0;      // both halves with the 64-bit feature
  std::uint32_t firstDataBlock = 0;
  std::uint32_t logBlockSize = 0;     // the block size is 1024 << this
  std::uint32_t blocksPerGroup = 0;
  std::uint32_t inodesPerGroup = 0;
  std::uint16_t magic = 0;
  std::uint16_t blockGroupNumber = 0; // of this copy; backups sit in later groups
  std::uint32_t featureIncompat = 0;
};

Superblock decodeSuperblock(Bytes bytes);

// Whether the bytes are a consistent superblock: the size its volume claims,
// else nothing. With primaryOnly, a backup copy (block group other than 0)
// is not taken for the start of a volume.
std::optional<std::uint64_t> sniffSuperblock(Bytes bytes, bool primaryOnly = true);

}  // namespace quorvel::extfmt
