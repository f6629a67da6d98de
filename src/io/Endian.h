#pragma once
// Bounds-checked little- and big-endian readers over a byte span.
// A field that does not fit inside the span reads as 0, so a truncated
// buffer can never be read past; callers validate sizes before trusting values.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quorvel {

using Bytes = std::span<const std::uint8_t>;

namespace detail {
template <typename T, bool Big>
constexpr T readUnsigned(Bytes bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return 0;
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    const std::size_t index = Big ? i : sizeof(T) - 1 - i;
    value = static_cast<T>((value << 8) | bytes[offset + index]);
  }
  return value;
}
}  // namespace detail

constexpr std::uint8_t u8(Bytes b, std::size_t off) { return off < b.size() ? b[off] : 0; }
constexpr std::uint16_t le16(Bytes b, std::size_t off) { return detail::readUnsigned<std::uint16_t, false>(b, off); }
constexpr std::uint32_t le32(Bytes b, std::size_t off) { return detail::readUnsigned<std::uint32_t, false>(b, off); }
constexpr std::uint64_t le64(Bytes b, std::size_t off) { return detail::readUnsigned<std::uint64_t, false>(b, off); }
constexpr std::uint16_t be16(Bytes b, std::size_t off) { return detail::readUnsigned<std::uint16_t, true>(b, off); }
constexpr std::uint32_t be32(Bytes b, std::size_t off) { return detail::readUnsigned<std::uint32_t, true>(b, off); }
constexpr std::uint64_t be64(Bytes b, std::size_t off) { return detail::readUnsigned<std::uint64_t, true>(b, off); }

// True when the bytes at `off` spell `text` exactly.
constexpr bool hasText(Bytes b, std::size_t off, std::string_view text) {
  if (off > b.size() || b.size() - off < text.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (b[off + i] != static_cast<std::uint8_t>(text[i])) return false;
  return true;
}

}  // namespace quorvel
