#include "fs/fat/ClusterArea.h"

#include <algorithm>

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
  if (!source_ || !fat_ || clusterSize_ == 0) return outcome;

  std::vector<std::uint8_t> buffer;
  bool readsWhole = true;
  std::uint64_t remaining = placement.length;
  std::uint32_t cluster = placement.firstCluster;
  bool haveCluster = fat_->isCluster(cluster) && claim(claims, cluster);
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
      if (!claim(claims, *next)) break;
      cluster = *next;
      if (cluster != runStart + runClusters || runClusters >= wantClusters) {
        haveCluster = true;
        break;
      }
      ++runClusters;
    }
    const std::uint64_t runBytes = std::min(remaining, runClusters * clusterSize_);
    buffer.resize(static_cast<std::size_t>(runBytes));
    readsWhole = source_->readAt(static_cast<std::int64_t>(offsetOf(runStart)), buffer.data(), buffer.size()) && readsWhole;
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
