#pragma once
// Where an inode's content lies: its logical blocks mapped to volume blocks,
// through an extent tree or the classic block map with its indirect blocks.
// Holes are the gaps between runs; uninitialised extents read as zeros.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "fs/ext/ExtInode.h"
#include "io/VolumeView.h"

namespace quorvel::extfmt {

// The volume in blocks; no block beyond its count is ever read.
struct BlockDevice {
  VolumeView view;
  std::uint64_t blockSize = 0;
  std::uint64_t blockCount = 0;

  bool holds(std::uint64_t block, std::uint64_t count = 1) const {
    return block < blockCount && count <= blockCount - block && block != 0;
  }
  bool readBlock(std::uint64_t block, std::span<std::uint8_t> out) const;
};

struct MappedRun {
  std::uint64_t logical = 0;
  std::uint64_t physical = 0;
  std::uint64_t count = 0;
  bool zeros = false;  // an uninitialised extent: allocated, never written
};

struct FileMap {
  std::vector<MappedRun> runs;  // ascending, not overlapping
  bool damaged = false;         // something was cut: pointers outside the volume, a bad node
  // The end of the last run, in blocks.
  std::uint64_t mappedBlocks() const { return runs.empty() ? 0 : runs.back().logical + runs.back().count; }
};

// Reads one block of the map itself (an extent node or an indirect block);
// false when it cannot. Without one, the volume's block as it is now.
using MapNodeReader = std::function<bool(std::uint64_t block, std::span<std::uint8_t> out)>;

// The runs of the logical blocks below `logicalLimit`.
FileMap mapInode(const Inode& inode, const BlockDevice& device, std::uint64_t logicalLimit,
                 const MapNodeReader& nodes = {});

}  // namespace quorvel::extfmt
