#include "fs/hfsplus/HfsFork.h"

#include <algorithm>

#include "io/Arithmetic.h"

namespace quorvel::hfsfmt {

void ExtentsOverflow::add(const ExtentsRecord& record) {
  if (record.forkType != kDataFork) return;
  records_.emplace(std::make_pair(record.fileId, record.startBlock), record.extents);
}

const ExtentRecord* ExtentsOverflow::find(std::uint32_t fileId, std::uint32_t startBlock) const {
  const auto it = records_.find({fileId, startBlock});
  return it == records_.end() ? nullptr : &it->second;
}

namespace {

// Appends the extents of one record up to the fork's total: the blocks added.
std::uint64_t appendExtents(const ExtentRecord& record, std::uint64_t have, std::uint64_t total,
                            std::vector<Extent>& out) {
  std::uint64_t added = 0;
  for (const Extent& e : record) {
    if (e.blockCount == 0) break;
    if (have + added >= total) break;
    const std::uint64_t count = std::min<std::uint64_t>(e.blockCount, total - have - added);
    added += count;
    // Blocks past the volume's end stay in the list, so that later blocks
    // keep their file offsets; the volume's view never reads them.
    out.push_back({e.startBlock, static_cast<std::uint32_t>(count)});
  }
  return added;
}

}  // namespace

std::vector<Extent> forkExtents(std::uint32_t fileId, const ForkData& fork, const ExtentsOverflow* overflow) {
  std::vector<Extent> out;
  const std::uint64_t total = fork.totalBlocks;
  std::uint64_t have = appendExtents(fork.extents, 0, total, out);
  // Each overflow record begins where the blocks so far end.
  while (overflow && have < total) {
    const ExtentRecord* next = overflow->find(fileId, static_cast<std::uint32_t>(have));
    if (!next) break;
    const std::uint64_t added = appendExtents(*next, have, total, out);
    if (added == 0) break;
    have += added;
  }
  return out;
}

ForkReader::ForkReader(const VolumeView& view, std::uint64_t blockSize, std::vector<Extent> extents)
    : view_(view), blockSize_(blockSize), extents_(std::move(extents)) {
  for (const Extent& e : extents_) allocated_ += saturatingProduct(e.blockCount, blockSize_);
}

bool ForkReader::holds(std::uint64_t volumeOffset, std::uint64_t count) const {
  for (const Extent& e : extents_) {
    const std::uint64_t start = saturatingProduct(e.startBlock, blockSize_);
    const std::uint64_t length = saturatingProduct(e.blockCount, blockSize_);
    if (volumeOffset >= start && volumeOffset - start <= length && count <= length - (volumeOffset - start)) return true;
  }
  return false;
}

bool ForkReader::read(std::uint64_t offset, std::span<std::uint8_t> out) const {
  std::fill(out.begin(), out.end(), std::uint8_t{0});
  bool whole = true;
  std::uint64_t extentStart = 0;  // file offset of the current extent
  std::size_t done = 0;
  for (const Extent& e : extents_) {
    if (done == out.size()) break;
    const std::uint64_t length = saturatingProduct(e.blockCount, blockSize_);
    const std::uint64_t at = offset + done;
    if (at >= extentStart && at - extentStart < length) {
      const std::uint64_t within = at - extentStart;
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length - within, out.size() - done));
      const std::uint64_t volumeOffset = saturatingProduct(e.startBlock, blockSize_) + within;
      if (!view_.read(volumeOffset, out.subspan(done, n))) whole = false;
      done += n;
    }
    extentStart += length;
  }
  return whole && done == out.size();
}

bool ForkReader::stream(std::uint64_t length, ContentSink& sink, std::size_t piece) const {
  std::vector<std::uint8_t> buffer;
  std::uint64_t left = length;
  bool whole = true;
  for (const Extent& e : extents_) {
    std::uint64_t volumeOffset = saturatingProduct(e.startBlock, blockSize_);
    std::uint64_t extentLeft = std::min(left, saturatingProduct(e.blockCount, blockSize_));
    while (extentLeft > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(extentLeft, piece));
      buffer.resize(n);
      if (!view_.read(volumeOffset, buffer)) whole = false;
      if (!sink.write(Bytes(buffer.data(), n))) return false;
      volumeOffset += n;
      extentLeft -= n;
      left -= n;
    }
    if (left == 0) break;
  }
  return whole && left == 0;
}

}  // namespace quorvel::hfsfmt
