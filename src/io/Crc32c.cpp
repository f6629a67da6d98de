#include "io/Crc32c.h"

#include <array>

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

}  // namespace

std::uint32_t crc32cUpdate(std::uint32_t crc, Bytes bytes) {
  for (const std::uint8_t b : bytes) crc = kTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc;
}

}  // namespace quorvel
