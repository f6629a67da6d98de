#include "fs/hfsplus/HfsVolumeHeader.h"

#include "io/Arithmetic.h"

namespace quorvel::hfsfmt {

namespace {
namespace field {
constexpr std::size_t signature = 0x00;
constexpr std::size_t version = 0x02;
constexpr std::size_t blockSize = 0x28;
constexpr std::size_t totalBlocks = 0x2C;
}  // namespace field
}  // namespace

VolumeHeader decodeVolumeHeader(Bytes s) {
  VolumeHeader h;
  h.hfsPlus = hasText(s, field::signature, "H+");
  h.hfsx = hasText(s, field::signature, "HX");
  h.version = be16(s, field::version);
  h.blockSize = be32(s, field::blockSize);
  h.totalBlocks = be32(s, field::totalBlocks);
  return h;
}

std::optional<std::uint64_t> sniffVolumeHeader(Bytes s) {
  if (s.size() < 512) return std::nullopt;
  const VolumeHeader h = decodeVolumeHeader(s);
  // Versions 4 (HFS+) and 5 (HFSX) fit in the low byte; a set high byte is no header.
  if ((!h.hfsPlus && !h.hfsx) || (h.version >> 8) != 0) return std::nullopt;
  if (h.blockSize < 512 || !isPowerOfTwo(h.blockSize)) return std::nullopt;
  return saturatingProduct(h.blockSize, h.totalBlocks);
}

}  // namespace quorvel::hfsfmt
