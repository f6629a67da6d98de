#include "io/VolumeView.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace quorvel {

namespace {
// Offsets must stay valid as signed 64-bit file positions.
constexpr std::uint64_t kMaxPosition = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
}  // namespace

VolumeView::VolumeView(const FileReadSeek& source, VolumeExtent extent) : source_(&source), extent_(extent) {
  const std::uint64_t length = std::min(source.sourceLength(), kMaxPosition);
  const std::uint64_t held = length > extent.startByte ? length - extent.startByte : 0;
  size_ = extent.sizeBytes == 0 ? held : std::min(extent.sizeBytes, held);
}

VolumeView VolumeView::limitedTo(std::uint64_t bytes) const {
  VolumeView view = *this;
  if (bytes != 0) view.size_ = std::min(size_, bytes);
  return view;
}

std::int64_t VolumeView::readUpTo(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (!source_) return -1;
  if (offset >= size_) return 0;
  const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size_ - offset));
  // start + offset < start + size_ ≤ the source's length, so it fits.
  return source_->readUpTo(static_cast<std::int64_t>(extent_.startByte + offset), out.data(), wanted);
}

bool VolumeView::read(std::uint64_t offset, std::span<std::uint8_t> out) const {
  std::size_t got = 0;
  while (got < out.size()) {
    const std::int64_t n = readUpTo(offset + got, out.subspan(got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got < out.size()) std::memset(out.data() + got, 0, out.size() - got);
  return got == out.size();
}

void VolumeView::adviseSequential() const {
  if (source_) source_->adviseSequential();
}

std::uint64_t VolumeView::dataFrom(std::uint64_t offset) const {
  if (!source_ || offset >= size_) return offset;
  const std::uint64_t data = source_->dataFrom(extent_.startByte + offset);
  return std::min(data - extent_.startByte, size_);
}

}  // namespace quorvel
