#pragma once
// LZNT1, the compression of NTFS compressed attributes: a unit's clusters
// hold a series of chunks, each expanding to at most 4096 bytes.
#include <cstdint>
#include <span>

#include "io/Endian.h"

namespace quorvel::ntfsfmt {

inline constexpr std::size_t kLznt1ChunkSize = 4096;

struct Lznt1Result {
  std::size_t produced = 0;  // bytes written before the data ended or went bad
  bool ok = true;            // false when the data was damaged
};

// Decompresses `in` into `out`. Every chunk but the last fills its 4096
// bytes (a short compressed chunk is padded with zeros, as NTFS writes them);
// whatever `out` has left after the data ends, or after damage, is zeroed.
Lznt1Result lznt1Decompress(Bytes in, std::span<std::uint8_t> out);

}  // namespace quorvel::ntfsfmt
