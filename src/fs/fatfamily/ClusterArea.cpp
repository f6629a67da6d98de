#include "fs/fatfamily/ClusterArea.h"

#include <algorithm>
#include <iterator>
#include <map>

namespace quorvel::fatfmt {

namespace {
constexpr std::uint64_t kRunBytes = 1024 * 1024;  // one read covers up to this much

class VectorSink : public ContentSink {
 public:
  explicit VectorSink(std::vector<std::uint8_t>& out) : out_(out) {}
  bool write(Bytes data) override {
    out_.insert(out_.end(), data.begin(), data.end());
    return true;
  }

 private:
  std::vector<std::uint8_t>& out_;
};

// The clusters one chain has passed, kept as runs: a file chain is mostly
// runs, so this stays small where a bit per cluster would not.
class ChainVisits {
 public:
  // False when the chain has been at this cluster before.
  bool visit(std::uint32_t cluster) {
    auto after = runs_.upper_bound(cluster);
    if (after != runs_.begin()) {
      const auto before = std::prev(after);
      if (cluster < before->second) return false;
      if (cluster == before->second) {
        before->second = std::uint64_t{cluster} + 1;
        if (after != runs_.end() && after->first == before->second) {
          before->second = after->second;
          runs_.erase(after);
        }
        return true;
      }
    }
    if (after != runs_.end() && after->first == std::uint64_t{cluster} + 1) {
      const std::uint64_t end = after->second;
      runs_.erase(after);
      runs_.emplace(cluster, end);
      return true;
    }
    runs_.emplace(cluster, std::uint64_t{cluster} + 1);
    return true;
  }

 private:
  std::map<std::uint32_t, std::uint64_t> runs_;  // first cluster -> one past the last
};

bool claim(ClusterClaims* claims, std::uint32_t cluster) {
  if (!claims) return true;
  if (cluster >= claims->size() || (*claims)[cluster]) return false;
  (*claims)[cluster] = true;
  return true;
}
}  // namespace

ReadOutcome ClusterArea::read(const Placement& placement, ContentSink& sink, ClusterClaims* claims) const {
  ReadOutcome outcome;
  if (placement.length == 0) {
    outcome.complete = true;
    return outcome;
  }
  if (!volume_.source() || !fat_ || clusterSize_ == 0) return outcome;

  std::vector<std::uint8_t> buffer;
  bool readsWhole = true;
  std::uint64_t remaining = placement.length;
  std::uint32_t cluster = placement.firstCluster;
  // A chain ends at a cluster it has passed; a run cannot come back.
  ChainVisits visits;
  const auto take = [&](std::uint32_t c) { return claim(claims, c) && (placement.contiguous || visits.visit(c)); };
  bool haveCluster = fat_->isCluster(cluster) && take(cluster);
  // A chain cannot be longer than the volume has clusters; that bounds a cycle.
  std::uint64_t steps = fat_->clusterCount();

  while (haveCluster && remaining > 0) {
    // Gather consecutive clusters into one read.
    const std::uint32_t runStart = cluster;
    std::uint64_t runClusters = 1;
    const std::uint64_t wantClusters = (std::min(remaining, kRunBytes) + clusterSize_ - 1) / clusterSize_;
    haveCluster = false;
    while (true) {
      std::optional<std::uint32_t> next;
      if (placement.contiguous) {
        if (fat_->isCluster(std::uint64_t{cluster} + 1)) next = cluster + 1;
      } else if (steps-- > 0) {
        next = fat_->nextCluster(cluster);
      }
      if (!next) break;
      if (runClusters * clusterSize_ >= remaining) break;
      if (!take(*next)) break;
      cluster = *next;
      if (cluster != runStart + runClusters || runClusters >= wantClusters) {
        haveCluster = true;
        break;
      }
      ++runClusters;
    }
    // A volume may claim more clusters than its source holds; past the
    // source's end there is nothing to read, however long the entry says it is.
    const std::uint64_t at = offsetOf(Cluster{runStart});
    if (at >= volume_.size()) break;
    const std::uint64_t runBytes = std::min(remaining, runClusters * clusterSize_);
    buffer.resize(static_cast<std::size_t>(runBytes));
    readsWhole = volume_.read(at, buffer) && readsWhole;
    if (!sink.write(buffer)) return outcome;
    outcome.bytes += runBytes;
    remaining -= runBytes;
  }
  outcome.complete = remaining == 0 && readsWhole;
  return outcome;
}

std::vector<std::uint8_t> ClusterArea::readAll(const Placement& placement, ClusterClaims* claims) const {
  std::vector<std::uint8_t> bytes;
  VectorSink sink(bytes);
  read(placement, sink, claims);
  return bytes;
}

}  // namespace quorvel::fatfmt
