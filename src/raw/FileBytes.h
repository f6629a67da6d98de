#pragma once
// Bytes of one file being carved, read from the volume through a small
// cache: offsets count from the file's first byte, and nothing is read past
// the file's largest allowed length or the volume's end.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "io/Endian.h"
#include "io/VolumeView.h"

namespace quorvel::raw {

class FileBytes {
 public:
  FileBytes(const VolumeView& view, std::uint64_t start, std::uint64_t limit);

  std::uint64_t limit() const { return limit_; }
  // `count` bytes at `offset`, or an empty span when they are not all there.
  // count is at most the cache's size.
  Bytes peek(std::uint64_t offset, std::size_t count);
  // What the cache holds from `offset` on (at least one byte), or empty at
  // the limit or on a read error.
  Bytes from(std::uint64_t offset);
  // The first occurrence of `pattern` starting in [from, to), if any.
  std::optional<std::uint64_t> find(std::uint64_t from, std::uint64_t to, std::string_view pattern);

  static constexpr std::size_t kCacheBytes = 256 * 1024;

 private:
  bool fill(std::uint64_t offset);

  const VolumeView& view_;
  std::uint64_t start_;
  std::uint64_t limit_;
  std::vector<std::uint8_t> cache_;
  std::uint64_t cacheAt_ = 0;
  std::size_t cacheHas_ = 0;
};

}  // namespace quorvel::raw
