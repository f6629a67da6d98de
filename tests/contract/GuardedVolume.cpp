#include "contract/GuardedVolume.h"

#include <string.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace quorvel::test {

namespace {

namespace fs = std::filesystem;

void writeGuard(std::ofstream& out, std::uint64_t bytes) {
  std::vector<char> guard(64 * 1024);
  for (std::size_t i = 0; i < guard.size(); ++i) guard[i] = static_cast<char>(kGuardMarker[i % kGuardMarker.size()]);
  while (bytes > 0) {
    const std::size_t now = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, guard.size()));
    out.write(guard.data(), static_cast<std::streamsize>(now));
    bytes -= now;
  }
}

// Writes at most `limit` bytes of the image from `start` on, skipping zero
// blocks: the large fixture images are mostly holes. Leaves the stream at
// the end of what it wrote.
std::uint64_t writeVolume(std::ofstream& out, std::uint64_t start, const fs::path& image,
                          std::uint64_t limit = UINT64_MAX) {
  std::ifstream in(image, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + image.string());
  std::vector<char> block(64 * 1024);
  static const std::vector<char> zeros(block.size());
  std::uint64_t written = 0;
  while (written < limit) {
    in.read(block.data(), static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), limit - written)));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    if (std::memcmp(block.data(), zeros.data(), got) != 0) {
      out.seekp(static_cast<std::streamoff>(start + written));
      out.write(block.data(), static_cast<std::streamsize>(got));
    }
    written += got;
  }
  out.seekp(static_cast<std::streamoff>(start + written));
  return written;
}

}  // namespace

GuardedVolume::GuardedVolume(const fs::path& folder, const fs::path& image) {
  path_ = (folder / ("guarded-" + image.filename().string())).string();
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path_);
  writeGuard(out, kGuardBefore);
  const std::uint64_t size = writeVolume(out, kGuardBefore, image);
  writeGuard(out, kMarkerAfter);
  const std::uint64_t echoStart = kGuardBefore + size + kMarkerAfter;
  const std::uint64_t echo = writeVolume(out, echoStart, image, kEchoAfter);
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path_);
  fs::resize_file(path_, echoStart + echo);  // the echo may end in a hole
  extent_ = {kGuardBefore, size};
}

void copyVolumeImage(const fs::path& image, const fs::path& target) {
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + target.string());
  const std::uint64_t size = writeVolume(out, 0, image);
  out.close();
  if (!out) throw std::runtime_error("cannot write " + target.string());
  fs::resize_file(target, size);  // a trailing hole
}

void GuardMarkerSearch::add(Bytes data) {
  if (found_ || data.empty()) return;
  // The marker may straddle the previous piece and this one.
  std::vector<std::uint8_t> seam = tail_;
  const std::size_t head = std::min(data.size(), kGuardMarker.size() - 1);
  seam.insert(seam.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(head));
  const auto in = [](const std::uint8_t* bytes, std::size_t size) {
    return memmem(bytes, size, kGuardMarker.data(), kGuardMarker.size()) != nullptr;
  };
  found_ = in(seam.data(), seam.size()) || in(data.data(), data.size());
  const std::size_t keep = kGuardMarker.size() - 1;
  if (data.size() >= keep) {
    tail_.assign(data.end() - static_cast<std::ptrdiff_t>(keep), data.end());
  } else {
    tail_.insert(tail_.end(), data.begin(), data.end());
    if (tail_.size() > keep) tail_.erase(tail_.begin(), tail_.end() - static_cast<std::ptrdiff_t>(keep));
  }
}

}  // namespace quorvel::test
