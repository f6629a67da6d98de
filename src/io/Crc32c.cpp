#include "io/Crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace quorvel {

namespace {

constexpr std::uint32_t kReflectedPolynomial = 0x82F63B78;

constexpr std::array<std::uint32_t, 256> makeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kReflectedPolynomial : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kTable = makeTable();

std::uint32_t byTable(std::uint32_t crc, Bytes bytes) {
  for (const std::uint8_t b : bytes) crc = kTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc;
}

#if defined(__x86_64__)
// The processor's own CRC-32C instruction: a journal's data-block checksums
// cover every block of the journal, which bytewise costs seconds per GiB.
__attribute__((target("sse4.2"))) std::uint32_t byInstruction(std::uint32_t crc, Bytes bytes) {
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
  std::uint64_t wide = crc;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    wide = _mm_crc32_u64(wide, word);
  }
  auto narrow = static_cast<std::uint32_t>(wide);
  for (; n > 0; ++p, --n) narrow = _mm_crc32_u8(narrow, *p);
  return narrow;
}

bool haveInstruction() {
  static const bool have = [] {
    __builtin_cpu_init();  // this may run before the constructors that would call it
    return __builtin_cpu_supports("sse4.2") != 0;
  }();
  return have;
}
#endif

}  // namespace

std::uint32_t crc32cUpdate(std::uint32_t crc, Bytes bytes) {
#if defined(__x86_64__)
  if (haveInstruction()) return byInstruction(crc, bytes);
#endif
  return byTable(crc, bytes);
}

}  // namespace quorvel
