#include "raw/FileBytes.h"

#include <algorithm>
#include <cstring>

namespace quorvel::raw {

FileBytes::FileBytes(const VolumeView& view, std::uint64_t start, std::uint64_t limit)
    : view_(view), start_(start), limit_(start <= view.size() ? std::min(limit, view.size() - start) : 0) {}

bool FileBytes::fill(std::uint64_t offset) {
  if (offset >= limit_) return false;
  cache_.resize(kCacheBytes);
  const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kCacheBytes, limit_ - offset));
  const std::int64_t got = view_.readUpTo(start_ + offset, std::span<std::uint8_t>(cache_.data(), wanted));
  cacheAt_ = offset;
  cacheHas_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  return cacheHas_ > 0;
}

Bytes FileBytes::peek(std::uint64_t offset, std::size_t count) {
  if (offset > limit_ || count > limit_ - offset || count > kCacheBytes) return {};
  if (offset < cacheAt_ || offset + count > cacheAt_ + cacheHas_) {
    if (!fill(offset) || cacheHas_ < count) return {};
  }
  return Bytes(cache_.data() + (offset - cacheAt_), count);
}

Bytes FileBytes::from(std::uint64_t offset) {
  if (offset >= limit_) return {};
  if (offset < cacheAt_ || offset >= cacheAt_ + cacheHas_) {
    if (!fill(offset)) return {};
  }
  return Bytes(cache_.data() + (offset - cacheAt_), cacheHas_ - (offset - cacheAt_));
}

std::optional<std::uint64_t> FileBytes::find(std::uint64_t from, std::uint64_t to, std::string_view pattern) {
  if (pattern.empty() || pattern.size() > kCacheBytes / 2) return std::nullopt;
  to = std::min(to, limit_);
  while (from < to) {
    // Refill at `from` so that a pattern cut by the cache's end is seen whole next time.
    if (!fill(from)) return std::nullopt;
    const auto* base = reinterpret_cast<const char*>(cache_.data());
    const std::size_t span = cacheHas_;
    const void* hit = memmem(base, span, pattern.data(), pattern.size());
    if (hit != nullptr) {
      const std::uint64_t at = from + static_cast<std::uint64_t>(static_cast<const char*>(hit) - base);
      return at < to ? std::optional<std::uint64_t>(at) : std::nullopt;
    }
    if (span < pattern.size() || from + span >= limit_) return std::nullopt;
    from += span - (pattern.size() - 1);
  }
  return std::nullopt;
}

}  // namespace quorvel::raw
