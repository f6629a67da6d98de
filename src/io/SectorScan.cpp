#include "io/SectorScan.h"

#include <algorithm>

namespace quorvel {

namespace {
std::size_t wholeSteps(std::size_t chunkBytes, std::size_t stepBytes) {
  return std::max(stepBytes, chunkBytes / stepBytes * stepBytes);
}
}  // namespace

std::uint64_t chunksCovering(std::uint64_t bytes, std::size_t chunkBytes, std::size_t stepBytes) {
  const std::size_t chunk = wholeSteps(chunkBytes, std::max<std::size_t>(1, stepBytes));
  return bytes / chunk + (bytes % chunk != 0 ? 1 : 0);
}

SectorScan::SectorScan(const VolumeView& view, JobContext& job, SectorScanOptions options)
    : view_(view),
      job_(job),
      from_(options.from),
      to_(std::min(options.to, view.size())),
      stepBytes_(std::max<std::size_t>(1, options.stepBytes)),
      skipHoles_(options.skipHoles) {
  // Whole steps per chunk, so a step never straddles two reads.
  chunkBytes_ = wholeSteps(options.chunkBytes, stepBytes_);
  chunk_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(chunkBytes_, to_ > from_ ? to_ - from_ : 0)));
}

std::uint64_t SectorScan::chunkCount() const {
  return to_ > from_ ? chunksCovering(to_ - from_, chunkBytes_, stepBytes_) : 0;
}

std::uint64_t SectorScan::chunksBefore(std::uint64_t offset) const {
  if (offset <= from_) return 0;
  return std::min(chunksCovering(std::min(offset, to_) - from_, chunkBytes_, stepBytes_), chunkCount());
}

std::uint64_t SectorScan::pastHole(std::uint64_t at) const {
  if (!skipHoles_ || at >= to_) return at;
  const std::uint64_t data = std::min(view_.dataFrom(at), to_);
  // Short holes are read like data: a jump must save more than it costs.
  if (data <= at || data - at < 2 * static_cast<std::uint64_t>(chunkBytes_)) return at;
  const std::uint64_t resume = data - chunkBytes_;
  return at + (resume - at) / stepBytes_ * stepBytes_;
}

std::int64_t SectorScan::readChunk(std::uint64_t at, std::size_t wanted) {
  std::size_t have = 0;
  // A short read is not the end until the source says so.
  while (have < wanted) {
    const std::int64_t got =
        view_.readUpTo(at + have, std::span<std::uint8_t>(chunk_.data() + have, wanted - have));
    if (got < 0) return have > 0 ? static_cast<std::int64_t>(have) : -1;
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(have);
}

}  // namespace quorvel
