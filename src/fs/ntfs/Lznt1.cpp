#include "fs/ntfs/Lznt1.h"

#include <algorithm>
#include <cstring>

namespace quorvel::ntfsfmt {

namespace {
constexpr std::uint16_t kChunkCompressed = 0x8000;
constexpr std::uint16_t kChunkSizeMask = 0x0FFF;
}  // namespace

Lznt1Result lznt1Decompress(Bytes in, std::span<std::uint8_t> out) {
  std::size_t pos = 0;
  std::size_t dest = 0;
  bool ok = true;

  while (ok && pos + 2 <= in.size()) {
    const std::uint16_t header = le16(in, pos);
    if (header == 0) break;
    // A chunk starts on a 4096-byte boundary of the output: a short chunk
    // before it stands for data that ended in zeros.
    const std::size_t chunkStart = std::min(out.size(), (dest + kLznt1ChunkSize - 1) / kLznt1ChunkSize * kLznt1ChunkSize);
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(dest), out.begin() + static_cast<std::ptrdiff_t>(chunkStart), 0);
    dest = chunkStart;
    if (dest >= out.size()) break;
    const std::size_t chunkEnd = std::min(out.size(), chunkStart + kLznt1ChunkSize);

    const std::size_t dataLength = (header & kChunkSizeMask) + 1u;
    if (in.size() - pos - 2 < dataLength) {
      ok = false;
      break;
    }
    const Bytes data = in.subspan(pos + 2, dataLength);
    pos += 2 + dataLength;

    if ((header & kChunkCompressed) == 0) {
      const std::size_t n = std::min(dataLength, chunkEnd - dest);
      std::memcpy(out.data() + dest, data.data(), n);
      dest += n;
      continue;
    }

    std::size_t p = 0;
    while (ok && p < data.size()) {
      const std::uint8_t flags = data[p++];
      for (int bit = 0; bit < 8 && p < data.size(); ++bit) {
        if ((flags & (1u << bit)) == 0) {
          if (dest >= chunkEnd) {
            ok = false;
            break;
          }
          out[dest++] = data[p++];
          continue;
        }
        if (data.size() - p < 2) {
          ok = false;
          break;
        }
        const std::uint16_t token = le16(data, p);
        p += 2;
        // The further into the chunk, the more bits the displacement takes.
        const std::size_t written = dest - chunkStart;
        unsigned shift = 0;
        for (std::size_t i = written > 0 ? written - 1 : 0; i >= 0x10; i >>= 1) ++shift;
        const std::size_t displacement = (static_cast<std::size_t>(token) >> (12 - shift)) + 1;
        const std::size_t length = (token & (0x0FFFu >> shift)) + 3u;
        if (displacement > written || length > chunkEnd - dest) {
          ok = false;
          break;
        }
        for (std::size_t i = 0; i < length; ++i, ++dest) out[dest] = out[dest - displacement];
      }
    }
  }

  std::fill(out.begin() + static_cast<std::ptrdiff_t>(dest), out.end(), 0);
  return {dest, ok};
}

}  // namespace quorvel::ntfsfmt
