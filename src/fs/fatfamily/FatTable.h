#pragma once
// One File Allocation Table, read from the volume page by page as chains
// need it and kept, so each part of it is read once.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "io/UnitNumber.h"
#include "io/VolumeView.h"

namespace quorvel::fatfmt {

// A cluster of the data area, numbered from 2 as the FAT numbers them; its
// bytes are found through the cluster area alone.
using Cluster = UnitNumber<struct ClusterTag, std::uint32_t>;

enum class FatEntryKind { Fat12, Fat16, Fat32, ExFat };

class FatTable {
 public:
  FatTable() = default;
  FatTable(VolumeView volume, std::uint64_t offset, std::uint64_t bytes, FatEntryKind kind,
           std::uint32_t clusterCount);

  // Whether the number names a cluster of the volume (2 .. count + 1).
  bool isCluster(std::uint64_t cluster) const { return cluster >= 2 && cluster - 2 < clusterCount_; }
  std::uint32_t clusterCount() const { return clusterCount_; }

  // The entry as stored; FAT32's top four bits are reserved and masked.
  std::uint32_t entry(std::uint32_t cluster) const;

  // The cluster that follows in the chain. Nothing at the end of a chain:
  // the end-of-chain range, the bad-cluster mark, a free entry, or a value
  // that names no cluster of the volume.
  std::optional<std::uint32_t> nextCluster(std::uint32_t cluster) const;

 private:
  static constexpr std::uint64_t kPageSize = 64 * 1024;
  std::uint8_t byteAt(std::uint64_t offset) const;
  const std::vector<std::uint8_t>& page(std::uint64_t index) const;

  VolumeView volume_;
  std::uint64_t offset_ = 0;
  std::uint64_t bytes_ = 0;
  FatEntryKind kind_ = FatEntryKind::Fat16;
  std::uint32_t clusterCount_ = 0;
  mutable std::vector<std::unique_ptr<std::vector<std::uint8_t>>> pages_;
};

}  // namespace quorvel::fatfmt
