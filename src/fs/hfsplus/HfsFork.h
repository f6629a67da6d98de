#pragma once
// A fork's blocks in file order: its own eight extents, then the
// extents-overflow records that carry on from where they end.
#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/hfsplus/HfsVolumeHeader.h"
#include "io/VolumeView.h"

namespace quorvel::hfsfmt {

// The data-fork records of the extents-overflow file, by (file ID, the
// file block they begin at). Resource-fork records are left out: they
// would otherwise stand in for a data fork's blocks at the same key.
class ExtentsOverflow {
 public:
  // The first record for a key wins, as the first one met in key order.
  void add(const ExtentsRecord& record);
  const ExtentRecord* find(std::uint32_t fileId, std::uint32_t startBlock) const;
  std::size_t size() const { return records_.size(); }
  void clear() { records_.clear(); }

 private:
  std::map<std::pair<std::uint32_t, std::uint32_t>, ExtentRecord> records_;
};

// The fork's extents in file order, no more blocks than its total. Overflow records are taken in
// start-block order; the lookup ends at a missing record or one that adds
// nothing, so records pointing at themselves cannot loop.
std::vector<Extent> forkExtents(std::uint32_t fileId, const ForkData& fork, const ExtentsOverflow* overflow);

// Reads a fork through its extents.
class ForkReader {
 public:
  ForkReader() = default;
  ForkReader(const VolumeView& view, std::uint64_t blockSize, std::vector<Extent> extents);

  // The bytes the extents cover.
  std::uint64_t allocatedBytes() const { return allocated_; }
  // Whether `count` bytes at a volume offset lie inside one of the extents.
  bool holds(std::uint64_t volumeOffset, std::uint64_t count) const;
  // Reads at a file offset; what lies outside the extents or cannot be read
  // is zero-filled. True only when every byte was read.
  bool read(std::uint64_t offset, std::span<std::uint8_t> out) const;
  // Streams the first `length` bytes (cut to the extents) to the sink, in
  // pieces of at most `piece` bytes. True when `length` bytes were read whole.
  bool stream(std::uint64_t length, ContentSink& sink, std::size_t piece = 1 << 20) const;

 private:
  VolumeView view_;
  std::uint64_t blockSize_ = 0;
  std::vector<Extent> extents_;
  std::uint64_t allocated_ = 0;
};

}  // namespace quorvel::hfsfmt
