#include "fs/ext/ExtSuperblock.h"

#include "io/Arithmetic.h"

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
constexpr std::size_t blockGroupNumber = 90;
constexpr std::size_t featureIncompat = 96;
constexpr std::size_t blocksCountHi = 0x150;
}  // namespace field

constexpr std::uint16_t kMagic = 0xEF53;
constexpr std::uint32_t kIncompat64Bit = 0x80;
constexpr std::uint32_t kLargestLogBlockSize = 6;  // 64 KiB blocks
}  // namespace

Superblock decodeSuperblock(Bytes s) {
  Superblock b;
  b.inodesCount = le32(s, field::inodesCount);
  b.featureIncompat = le32(s, field::featureIncompat);
  b.blocksCount = le32(s, field::blocksCountLo);
  if (b.featureIncompat & kIncompat64Bit) b.blocksCount |= std::uint64_t{le32(s, field::blocksCountHi)} << 32;
  b.firstDataBlock = le32(s, field::firstDataBlock);
  b.logBlockSize = le32(s, field::logBlockSize);
  b.blocksPerGroup = le32(s, field::blocksPerGroup);
  b.inodesPerGroup = le32(s, field::inodesPerGroup);
  b.magic = le16(s, field::magic);
  b.blockGroupNumber = le16(s, field::blockGroupNumber);
  return b;
}

std::optional<std::uint64_t> sniffSuperblock(Bytes s, bool primaryOnly) {
  if (s.size() < 512) return std::nullopt;
  const Superblock b = decodeSuperblock(s);
  if (b.magic != kMagic || b.logBlockSize > kLargestLogBlockSize) return std::nullopt;
  const std::uint64_t blockSize = 1024ull << b.logBlockSize;
  // 1 KiB blocks leave block 0 to the boot area; larger ones hold it.
  if (b.firstDataBlock != (blockSize == 1024 ? 1u : 0u)) return std::nullopt;
  if (b.inodesCount == 0 || b.blocksPerGroup == 0 || b.inodesPerGroup == 0) return std::nullopt;
  if (primaryOnly && b.blockGroupNumber != 0) return std::nullopt;
  if (b.blocksCount == 0) return std::nullopt;
  return saturatingProduct(b.blocksCount, blockSize);
}

}  // namespace quorvel::extfmt
