// The advanced mode of exFAT: the FAT-copy and heap-offset searches, then
// the tree rebuilt from an entry-set scan of the whole volume with the FAT
// copy, heap offset and cluster size the user chose.
#include <algorithm>
#include <bit>

#include "fs/fat/ExFatSetScan.h"
#include "fs/fat/Fat64Class.h"
#include "fs/fat/FatCopySearch.h"

namespace quorvel {

using namespace exfatfmt;
using fatfmt::Placement;

namespace {
constexpr std::uint32_t kSectorBytes = 512;
constexpr std::uint32_t kLargestShift = 16;  // 32 MiB clusters, the format's limit
constexpr std::uint64_t kClusterLimit = 0xFFFFFFF5ull;
constexpr std::size_t kLongestSet = 19 * kEntrySize;
}  // namespace

void Fat64Class::searchVolume(std::size_t limit, JobContext& job) {
  job.setStatus("Finding Fat64 entries....");
  fatCopies_ = fatfmt::findFatCopies(volume(), fatfmt::FatCopyKind::ExFat, limit, job);
  heapOffsets_ = fatfmt::findHeapOffsets(volume(), limit, job);
  // The boot sector's heap, where it has one, is the first choice.
  if (geometry_) {
    if (heapOffsets_.empty())
      heapOffsets_.push_back(geometry_->heapOffset);
    else
      heapOffsets_.front() = geometry_->heapOffset;
  }
  searched_ = volume().extent();
}

CandidateLists Fat64Class::findCandidates(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  attachSource(source, request.volume);
  setVolumeSize();
  geometry_.reset();
  checkBootSector(job);
  searchVolume(static_cast<std::size_t>(std::max(1, request.advanced.maxCandidates)), job);
  CandidateLists lists;
  lists.tfs = fatfmt::numberedItems("FAT64_ENTRY:", fatCopies_.size());
  lists.heapOffsets = fatfmt::numberedItems("HEAP_OFFSET_ENTRY:", heapOffsets_.size());
  std::optional<std::uint32_t> bootShift;
  if (geometry_) bootShift = static_cast<std::uint32_t>(std::countr_zero(geometry_->clusterSize / kSectorBytes));
  lists.sectorsPerCluster = fatfmt::clusterSizeChoices(fatfmt::FatCopyKind::ExFat, bootShift);
  return lists;
}

bool Fat64Class::scanAdvanced(const ScanRequest& request, JobContext& job) {
  int shift = request.advanced.sectorsPerCluster;
  if (shift < 0 || shift > static_cast<int>(kLargestShift)) {
    job.showMessage("The sectors-per-cluster shift must be 0 to 16, not " + std::to_string(shift) + ".");
    return false;
  }
  geometry_.reset();
  checkBootSector(job);
  const std::optional<ExFatGeometry> boot = geometry_;
  // 0 is also what an unmade choice reads as: the boot sector's shift then wins.
  if (shift == 0 && boot) shift = std::countr_zero(boot->clusterSize / kSectorBytes);
  if (fatCopies_.empty() || !(searched_ == volume().extent()))
    searchVolume(static_cast<std::size_t>(std::max(1, request.advanced.maxCandidates)), job);
  const auto pick = [](const std::vector<std::uint64_t>& list, int index) -> std::optional<std::uint64_t> {
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return std::nullopt;
    return list[static_cast<std::size_t>(index)];
  };
  const std::optional<std::uint64_t> fatStart = pick(fatCopies_, request.advanced.tfs);
  const std::optional<std::uint64_t> heap = pick(heapOffsets_, request.advanced.heapOffset);
  if (!heap) {
    job.showMessage("Choose a heap offset among the " + std::to_string(heapOffsets_.size()) + " found.");
    return false;
  }
  const std::uint32_t clusterSize = kSectorBytes << shift;
  // What the source holds of the volume (a whole image has no size of its own).
  const std::uint64_t volumeBytes = volume().size();
  if (*heap >= volumeBytes || (volumeBytes - *heap) / clusterSize == 0) {
    job.showMessage("No cluster of " + std::to_string(clusterSize) + " bytes fits behind the chosen heap offset.");
    return false;
  }
  setChainsDoubted(true);
  const std::uint32_t clusterCount = static_cast<std::uint32_t>(std::min((volumeBytes - *heap) / clusterSize, kClusterLimit));
  const std::uint64_t fatBytes = fatStart ? (std::uint64_t{clusterCount} + 2) * 4 : 0;
  setLayout(fatStart.value_or(0), fatBytes, fatfmt::FatEntryKind::ExFat, clusterCount, *heap, clusterSize);

  const SetScanResult found = scanEntrySets(
      volume(), *heap, clusterSize, [this](std::uint64_t offset, std::span<std::uint8_t> out) { return readSetAt(offset, out); },
      job);
  // Stop during the searches ends them; the tree is still built from what they found.
  job.beginPhase();
  // The root: the boot sector's when it describes this layout; else the
  // cluster holding the root's own label or bitmap entry.
  std::optional<std::uint32_t> rootCluster;
  if (boot && boot->heapOffset == *heap && boot->clusterSize == clusterSize) rootCluster = boot->rootCluster;
  if (!rootCluster && found.rootMarker) rootCluster = area().clusterAt(*found.rootMarker);
  if (!rootCluster && !found.sets.empty()) rootCluster = area().clusterAt(found.sets.front());

  job.setStatus("Maintaining TreeStructure for Tree Control");
  clearRecords();
  std::vector<std::uint8_t> root;
  if (rootCluster && fat().isCluster(*rootCluster)) {
    const std::uint64_t length = driveFormatted() ? clusterSize : maxFolderBytes_;
    root = area().readAll(Placement{*rootCluster, length, driveFormatted()}, &folderClaims());
  }
  buildFromCandidates(root, found.sets, job);
  linkParentChild();
  job.setProgressRange(0, 100);
  job.setProgress(100);
  return true;
}

std::size_t Fat64Class::readSetAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
  std::size_t have = 0;
  std::optional<std::uint32_t> cluster = area().clusterAt(offset);
  while (have < out.size()) {
    std::size_t wanted = out.size() - have;
    if (cluster) {
      const std::uint64_t end = area().offsetOf(fatfmt::Cluster{*cluster}) + area().clusterSize();
      wanted = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, end - offset));
    }
    const std::int64_t got = volume().readUpTo(offset, out.subspan(have, wanted));
    if (got <= 0) break;
    have += static_cast<std::size_t>(got);
    if (static_cast<std::size_t>(got) < wanted || !cluster) break;
    // On into the cluster that follows in the chain, else the next one on disk.
    const std::optional<std::uint32_t> next = fat().nextCluster(*cluster);
    cluster = next ? *next : *cluster + 1;
    offset = area().offsetOf(fatfmt::Cluster{*cluster});
  }
  return have;
}

bool Fat64Class::appendCandidate(std::uint64_t offset, EntryId parent) {
  std::vector<std::uint8_t> set(kLongestSet, 0);
  set.resize(readSetAt(offset, set));
  return readEntrySet(set, 0, parent, false) > 0;
}

void Fat64Class::appendFolderPlaceholder(const char* name, bool orphanFolder) {
  const EntryId id = orphanFolder ? catalogue_.orphanFolder(name) : catalogue_.add(name, Catalogue::kFolder);
  if (id == kNoEntry) return;
  ExFatEntryRecord r;
  r.attributes = 0x10;
  records_.push_back(r);
}

}  // namespace quorvel
