#pragma once
// The cluster area of a FAT-family volume: where a cluster lies, and reading
// a chain of clusters or a contiguous run of them into a sink in large
// pieces with bounded memory.
#include <cstdint>
#include <optional>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/fatfamily/FatTable.h"

namespace quorvel::fatfmt {

// Where an entry's data lies.
struct Placement {
  std::uint32_t firstCluster = 0;
  std::uint64_t length = 0;  // bytes wanted
  bool contiguous = false;   // one run from firstCluster, not a FAT chain
};

struct ReadOutcome {
  std::uint64_t bytes = 0;  // delivered to the sink
  bool complete = false;    // all wanted bytes, every read whole, the sink took them
};

// Clusters a walk has already read as folders. A folder read stops before
// one of them, so a damaged chain that runs into another folder's clusters,
// or back into its own, reads each of them once.
using ClusterClaims = std::vector<bool>;

inline bool isClaimed(const ClusterClaims& claims, std::uint32_t cluster) {
  return cluster < claims.size() && claims[cluster];
}

class ClusterArea {
 public:
  ClusterArea() = default;
  ClusterArea(VolumeView volume, const FatTable* fat, std::uint64_t firstClusterOffset,
              std::uint32_t clusterSize)
      : volume_(volume), fat_(fat), firstClusterOffset_(firstClusterOffset), clusterSize_(clusterSize) {}

  std::uint32_t clusterSize() const { return clusterSize_; }
  // Where a cluster (2 or above) begins in the volume.
  std::uint64_t offsetOf(Cluster cluster) const {
    return firstClusterOffset_ + (std::uint64_t{cluster.value} - 2) * clusterSize_;
  }

  // The cluster a volume offset lies in; nothing before cluster 2.
  std::optional<std::uint32_t> clusterAt(std::uint64_t offset) const {
    if (clusterSize_ == 0 || offset < firstClusterOffset_) return std::nullopt;
    const std::uint64_t cluster = (offset - firstClusterOffset_) / clusterSize_ + 2;
    if (cluster > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<std::uint32_t>(cluster);
  }

  // Streams up to placement.length bytes. A chain ends early at its end, at
  // a cluster met before in the same chain, or at a claimed cluster; a run
  // ends at the volume's last cluster. With `claims`, every cluster read is
  // claimed.
  ReadOutcome read(const Placement& placement, ContentSink& sink, ClusterClaims* claims = nullptr) const;

  // Reads a whole placement into memory; bytes past a short read are not kept.
  std::vector<std::uint8_t> readAll(const Placement& placement, ClusterClaims* claims = nullptr) const;

 private:
  VolumeView volume_;
  const FatTable* fat_ = nullptr;
  std::uint64_t firstClusterOffset_ = 0;
  std::uint32_t clusterSize_ = 0;
};

}  // namespace quorvel::fatfmt
