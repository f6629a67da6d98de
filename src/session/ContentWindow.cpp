#include "session/ContentWindow.h"

#include <algorithm>
#include <array>

namespace quorvel {

ContentWindow::ContentWindow(std::uint64_t offset, std::optional<std::uint64_t> length, Output out)
    : offset_(offset), length_(length), out_(std::move(out)) {}

std::pair<std::uint64_t, std::uint64_t> ContentWindow::place(std::uint64_t count) {
  const std::uint64_t start = position_;
  position_ += count;
  const std::uint64_t skip = start >= offset_ ? 0 : std::min(count, offset_ - start);
  std::uint64_t take = count - skip;
  if (length_) take = std::min(take, *length_ - given_);
  return {skip, take};
}

bool ContentWindow::write(Bytes data) {
  if (failed_ || full()) return false;
  const auto [skip, take] = place(data.size());
  if (take > 0 && !out_(data.subspan(static_cast<std::size_t>(skip), static_cast<std::size_t>(take)))) {
    failed_ = true;
    return false;
  }
  given_ += take;
  return !full();
}

bool ContentWindow::zeros(std::uint64_t count) {
  if (failed_ || full()) return false;
  auto [skip, take] = place(count);
  static constexpr std::array<std::uint8_t, 65536> kZeros{};
  while (take > 0) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(take, kZeros.size()));
    if (!out_(Bytes(kZeros.data(), piece))) {
      failed_ = true;
      return false;
    }
    given_ += piece;
    take -= piece;
  }
  return !full();
}

}  // namespace quorvel
