#pragma once
// The HFS+ and HFSX volume header, 1024 bytes into the volume (big-endian):
// the fields that say whether a block of bytes is one, and its volume's size.
#include <cstdint>
#include <optional>

#include "io/Endian.h"

namespace quorvel::hfsfmt {

inline constexpr std::uint64_t kVolumeHeaderOffset = 1024;

struct VolumeHeader {
  bool hfsPlus = false;  // "H+" and version 4
  bool hfsx = false;     // "HX": case-sensitive names, read alike
  std::uint16_t version = 0;
  std::uint32_t blockSize = 0;
  std::uint32_t totalBlocks = 0;
};

VolumeHeader decodeVolumeHeader(Bytes bytes);

// Whether the bytes are a volume header with a usable block size: the size
// its volume claims, else nothing.
std::optional<std::uint64_t> sniffVolumeHeader(Bytes bytes);

}  // namespace quorvel::hfsfmt
