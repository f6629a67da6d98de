#pragma once
// Checked arithmetic on on-disk values, which may be anything.
#include <cstdint>
#include <limits>

namespace quorvel {

constexpr bool isPowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// a × b, or the largest value when the product would not fit.
constexpr std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return std::numeric_limits<std::uint64_t>::max();
  return a * b;
}

}  // namespace quorvel
