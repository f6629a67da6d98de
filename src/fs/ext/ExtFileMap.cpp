#include "fs/ext/ExtFileMap.h"

#include <algorithm>
#include <unordered_set>

namespace quorvel::extfmt {

namespace {

constexpr std::size_t kDirectPointers = 12;

class RunBuilder {
 public:
  explicit RunBuilder(FileMap& map) : map_(map) {}
  void add(std::uint64_t logical, std::uint64_t physical, std::uint64_t count, bool zeros) {
    if (count == 0) return;
    if (!map_.runs.empty()) {
      MappedRun& last = map_.runs.back();
      if (last.zeros == zeros && last.logical + last.count == logical && last.physical + last.count == physical) {
        last.count += count;
        return;
      }
    }
    map_.runs.push_back({logical, physical, count, zeros});
  }

 private:
  FileMap& map_;
};

bool readNode(const BlockDevice& device, const MapNodeReader& nodes, std::uint64_t block, std::span<std::uint8_t> out) {
  return nodes ? nodes(block, out) : device.readBlock(block, out);
}

class BlockMapWalk {
 public:
  BlockMapWalk(const BlockDevice& device, const MapNodeReader& nodes, std::uint64_t limit, FileMap& map)
      : device_(device), nodes_(nodes), limit_(limit), map_(map), runs_(map), perBlock_(device.blockSize / 4) {
    // What a file of `limit` blocks needs at most, at every level.
    budget_ = 3 + limit / perBlock_ + limit / perBlock_ / perBlock_ + 2;
  }

  void walk(Bytes area) {
    std::uint64_t logical = 0;
    for (std::size_t i = 0; i < kDirectPointers && logical < limit_; ++i, ++logical) pointer(le32(area, i * 4), logical);
    std::uint64_t span = 1;
    for (int level = 1; level <= 3 && logical < limit_; ++level) {
      span *= perBlock_;
      indirect(le32(area, (kDirectPointers + level - 1) * 4), level, logical);
      logical += span;
    }
  }

 private:
  void pointer(std::uint32_t block, std::uint64_t logical) {
    if (block == 0) return;  // a hole
    if (!device_.holds(block)) {
      map_.damaged = true;
      return;
    }
    runs_.add(logical, block, 1, false);
  }

  // The blocks that an indirect block of `level` maps from `logical` on.
  void indirect(std::uint32_t block, int level, std::uint64_t logical) {
    if (block == 0 || logical >= limit_) return;
    // A damaged map may name one indirect block many times over, or itself.
    if (!device_.holds(block) || budget_ == 0 || !visited_.insert(block).second) {
      map_.damaged = true;
      return;
    }
    --budget_;
    std::vector<std::uint8_t> data(device_.blockSize);
    if (!readNode(device_, nodes_, block, data)) map_.damaged = true;
    std::uint64_t span = 1;
    for (int l = 1; l < level; ++l) span *= perBlock_;
    for (std::uint64_t i = 0; i < perBlock_ && logical < limit_; ++i, logical += span) {
      const std::uint32_t child = le32(data, i * 4);
      if (level == 1)
        pointer(child, logical);
      else
        indirect(child, level - 1, logical);
    }
  }

  const BlockDevice& device_;
  const MapNodeReader& nodes_;
  std::uint64_t limit_;
  FileMap& map_;
  RunBuilder runs_;
  std::uint64_t perBlock_;
  std::uint64_t budget_ = 0;
  std::unordered_set<std::uint64_t> visited_;
};

class ExtentWalk {
 public:
  ExtentWalk(const BlockDevice& device, const MapNodeReader& nodes, std::uint64_t limit, FileMap& map)
      : device_(device), nodes_(nodes), limit_(limit), map_(map) {}

  void walk(Bytes node, std::optional<std::uint16_t> expectedDepth) {
    const ExtentHeader h = decodeExtentHeader(node);
    if (!headerFits(h, node.size()) || (expectedDepth && h.depth != *expectedDepth)) {
      map_.damaged = true;
      return;
    }
    if (h.depth == 0) {
      for (std::size_t i = 0; i < h.entries; ++i) leaf(decodeExtentLeaf(node, i));
      return;
    }
    std::vector<std::uint8_t> child(device_.blockSize);
    for (std::size_t i = 0; i < h.entries; ++i) {
      const ExtentIndex index = decodeExtentIndex(node, i);
      if (index.logical >= limit_) break;
      // Each node is read once: a damaged index can name one node many times.
      if (!device_.holds(index.child) || !visited_.insert(index.child).second ||
          !readNode(device_, nodes_, index.child, child)) {
        map_.damaged = true;
        continue;
      }
      // Depth falls by one at every level, so the walk cannot loop.
      walk(child, static_cast<std::uint16_t>(h.depth - 1));
    }
  }

  std::vector<ExtentLeaf> leaves;

 private:
  void leaf(const ExtentLeaf& e) {
    if (e.length == 0 || e.logical >= limit_) return;
    if (!device_.holds(e.start, e.length)) {
      map_.damaged = true;
      return;
    }
    leaves.push_back(e);
  }

  const BlockDevice& device_;
  const MapNodeReader& nodes_;
  std::uint64_t limit_;
  FileMap& map_;
  std::unordered_set<std::uint64_t> visited_;
};

}  // namespace

bool BlockDevice::readBlock(std::uint64_t block, std::span<std::uint8_t> out) const {
  if (!holds(block)) {
    std::fill(out.begin(), out.end(), 0);
    return false;
  }
  return view.read(block * blockSize, out);
}

FileMap mapInode(const Inode& inode, const BlockDevice& device, std::uint64_t logicalLimit, const MapNodeReader& nodes) {
  FileMap map;
  if (device.blockSize < 1024 || inode.hasInlineData()) return map;
  const Bytes area(inode.blockArea.data(), inode.blockArea.size());
  if (!inode.usesExtents()) {
    BlockMapWalk(device, nodes, logicalLimit, map).walk(area);
    return map;
  }
  ExtentWalk walk(device, nodes, logicalLimit, map);
  walk.walk(area, std::nullopt);
  std::sort(walk.leaves.begin(), walk.leaves.end(),
            [](const ExtentLeaf& a, const ExtentLeaf& b) { return a.logical < b.logical; });
  RunBuilder runs(map);
  std::uint64_t next = 0;  // overlapping extents of a damaged tree: the first one wins
  for (const ExtentLeaf& e : walk.leaves) {
    std::uint64_t logical = e.logical;
    std::uint64_t start = e.start;
    std::uint64_t count = std::min<std::uint64_t>(e.length, logicalLimit - logical);
    if (logical < next) {
      map.damaged = true;
      const std::uint64_t skip = next - logical;
      if (skip >= count) continue;
      logical += skip;
      start += skip;
      count -= skip;
    }
    runs.add(logical, start, count, e.uninitialised);
    next = logical + count;
  }
  return map;
}

}  // namespace quorvel::extfmt
