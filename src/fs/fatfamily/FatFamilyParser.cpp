#include "fs/fatfamily/FatFamilyParser.h"

#include <algorithm>
#include <deque>

#include "fs/TextFormats.h"

namespace quorvel {

using fatfmt::FatFamilyRecord;
using fatfmt::Placement;

// ---------------------------------------------------------------- catalogue

EntryId FatFamilyParser::addToCatalogue(std::string_view name, EntryId parent, bool folder, bool deleted,
                                        std::uint64_t size, const EntryTimes& times) {
  const EntryId id = catalogue_.add(name, (folder ? Catalogue::kFolder : 0) | (deleted ? Catalogue::kDeleted : 0));
  if (id == kNoEntry) return id;
  catalogue_.setParent(id, parent);
  catalogue_.setSize(id, folder ? 0 : size);
  catalogue_.setTimes(id, times);
  return id;
}

bool FatFamilyParser::readContent(EntryId id, ContentSink& sink) const {
  if (catalogue_.isFolder(id)) return true;
  if (id >= recordCount()) return false;
  return area_.read(placementOf(id), sink).complete;
}

Placement FatFamilyParser::placementOf(EntryId id) const {
  const FatFamilyRecord& record = common(id);
  Placement p;
  p.firstCluster = record.firstCluster;
  if (catalogue_.isFolder(id)) {
    // A freed folder's chain is gone; its first cluster is all that is sure.
    const bool firstClusterOnly = chainGone(id);
    p.contiguous = firstClusterOnly || record.noFatChain;
    // A run is as long as its entry says, an empty one included: past that
    // lie other folders' clusters.
    p.length = firstClusterOnly ? area_.clusterSize() : record.noFatChain ? record.allocated : maxFolderBytes_;
    if (p.length > maxFolderBytes_) p.length = maxFolderBytes_;
    return p;
  }
  // A freed file's chain is usually zero: its clusters are then taken to
  // follow each other. Some drivers leave the chain; where it still covers
  // the whole size it is the better guess.
  const std::uint64_t size = catalogue_.size(id);
  p.contiguous = driveFormatted_ || record.noFatChain ||
                 ((catalogue_.isDeleted(id) || chainsDoubted_) && !chainCovers(record.firstCluster, size));
  p.length = size;
  return p;
}

bool FatFamilyParser::chainCovers(std::uint32_t first, std::uint64_t length) const {
  const std::uint64_t clusterSize = area_.clusterSize();
  if (clusterSize == 0 || !fat_.isCluster(first)) return false;
  const std::uint64_t needed = (length + clusterSize - 1) / clusterSize;
  if (needed > fat_.clusterCount()) return false;
  std::uint32_t cluster = first;
  for (std::uint64_t k = 1; k < needed; ++k) {
    const std::optional<std::uint32_t> next = fat_.nextCluster(cluster);
    // A chain that comes back to its start is a cycle, not a file.
    if (!next || *next == first) return false;
    cluster = *next;
  }
  return true;
}

void FatFamilyParser::readOnFreedFolder(std::uint32_t firstCluster, std::vector<std::uint8_t>& bytes) {
  const std::uint64_t clusterSize = area_.clusterSize();
  if (clusterSize == 0) return;
  std::vector<std::uint8_t> next(clusterSize);
  for (std::uint64_t cluster = std::uint64_t{firstCluster} + 1; bytes.size() + clusterSize <= maxFolderBytes_; ++cluster) {
    // A cluster in use belongs to a live file or folder now.
    if (!fat_.isCluster(cluster) || fat_.entry(static_cast<std::uint32_t>(cluster)) != 0) return;
    if (fatfmt::isClaimed(claims_, static_cast<std::uint32_t>(cluster))) return;
    if (!volume_.read(area_.offsetOf(fatfmt::Cluster{static_cast<std::uint32_t>(cluster)}), next)) return;
    if (!continuesFolder(next)) return;
    bytes.insert(bytes.end(), next.begin(), next.end());
    if (cluster < claims_.size()) claims_[static_cast<std::size_t>(cluster)] = true;
  }
}

// ---------------------------------------------------------------- linking

void FatFamilyParser::linkParentChild() { catalogue_.build(recordCount() > 0 ? 0 : kNoEntry, kOrphanEntryName); }

// ---------------------------------------------------------------- the walk

void FatFamilyParser::attachSource(const FileReadSeek& source, const VolumeExtent& volume) {
  volume_ = VolumeView(source, volume);
}

void FatFamilyParser::setLayout(std::uint64_t fatOffset, std::uint64_t fatBytes, fatfmt::FatEntryKind kind,
                                std::uint32_t clusterCount, std::uint64_t firstClusterOffset, std::uint32_t clusterSize) {
  fat_ = fatfmt::FatTable(volume_, fatOffset, fatBytes, kind, clusterCount);
  area_ = fatfmt::ClusterArea(volume_, &fat_, firstClusterOffset, clusterSize);
  // Clusters beyond the end of the source hold no folder; the boot sector
  // alone must not decide how much memory the claims take.
  std::uint64_t claimable = std::uint64_t{clusterCount} + 2;
  if (clusterSize > 0) {
    const std::uint64_t end = volume_.size();
    const std::uint64_t present = end > firstClusterOffset ? (end - firstClusterOffset) / clusterSize + 3 : 2;
    claimable = std::min(claimable, present);
  }
  claims_.assign(static_cast<std::size_t>(claimable), false);
}

bool FatFamilyParser::walkFolders(Bytes rootDirectory, JobContext& job) {
  const std::size_t before = recordCount();
  parseDirectoryCluster(rootDirectory, 0, false);
  return walkFoldersFrom(before, job);
}

bool FatFamilyParser::walkFoldersFrom(std::size_t firstRecord, JobContext& job) {
  struct Pending {
    EntryId folder;
    bool insideDeleted;
  };
  std::deque<Pending> live;
  std::deque<Pending> deleted;
  const auto queueNewFolders = [&](std::size_t from, bool insideDeleted) {
    for (std::size_t i = from; i < recordCount(); ++i) {
      const auto id = static_cast<EntryId>(i);
      if (!catalogue_.isFolder(id) || id == 0 || id == catalogue_.orphanFolderId()) continue;
      const bool gone = insideDeleted || catalogue_.isDeleted(id);
      (gone ? deleted : live).push_back({id, gone});
    }
  };

  // Clusters read again for a live folder that starts where an earlier one read.
  fatfmt::ClusterClaims secondReads(claims_.size(), false);

  std::size_t before = firstRecord;
  queueNewFolders(before, false);
  std::int64_t walked = 0;
  job.setProgressRange(0, 100);
  while (!live.empty() || !deleted.empty()) {
    if (!job.checkpoint()) return false;
    std::deque<Pending>& queue = live.empty() ? deleted : live;
    const Pending next = queue.front();
    queue.pop_front();
    const Placement placement = placementOf(next.folder);
    const bool readAgain = !next.insideDeleted && fatfmt::isClaimed(claims_, placement.firstCluster);
    std::vector<std::uint8_t> bytes = area_.readAll(placement, readAgain ? &secondReads : &claims_);
    if (chainGone(next.folder) && !readAgain && bytes.size() == area_.clusterSize())
      readOnFreedFolder(placement.firstCluster, bytes);
    before = recordCount();
    parseDirectoryCluster(bytes, next.folder, next.insideDeleted);
    queueNewFolders(before, next.insideDeleted);
    // The total is not known ahead; the bar creeps towards its end.
    ++walked;
    job.setProgress(99 - 99 * 64 / (64 + walked));
  }
  return true;
}

// ---------------------------------------------------------------- advanced mode

bool FatFamilyParser::buildFromCandidates(Bytes rootDirectory, const std::vector<std::uint64_t>& candidates,
                                          JobContext& job, std::uint64_t rootAreaBegin, std::uint64_t rootAreaEnd) {
  appendFolderPlaceholder(fatfmt::kDummyEntryName, false);
  const EntryId orphans = static_cast<EntryId>(recordCount());
  appendFolderPlaceholder(kOrphanEntryName, true);
  // The tree the root still holds, claiming every cluster it reads.
  if (!walkFolders(rootDirectory, job)) return false;

  // The clusters of every folder a candidate names. A candidate lying in
  // one of them is reached by that folder's walk, wherever in the volume
  // the folder's own entry lies; taking it alone first would tear it from
  // its folder.
  fatfmt::ClusterClaims inside(folderClaims().size(), false);
  const auto clusterOf = [&](std::uint64_t offset) { return area_.clusterAt(offset); };
  for (const std::uint64_t offset : candidates) {
    const std::optional<std::uint32_t> cluster = clusterOf(offset);
    if (!cluster || fatfmt::isClaimed(claims_, *cluster)) continue;
    const std::size_t before = recordCount();
    if (!appendCandidate(offset, orphans)) continue;
    const auto last = static_cast<EntryId>(recordCount() - 1);
    if (catalogue_.isFolder(last)) (void)area_.readAll(placementOf(last), &inside);
    dropRecordsFrom(before);
    if (!job.checkpoint()) break;
  }

  // What no walk reached: the top of each surviving subtree, under "ORPHAN ENTRY".
  const auto adopt = [&](bool insideFolders) {
    for (const std::uint64_t offset : candidates) {
      const std::optional<std::uint32_t> cluster = clusterOf(offset);
      if (!cluster && !insideFolders && offset >= rootAreaBegin && offset < rootAreaEnd) {
        const std::size_t before = recordCount();
        if (appendCandidate(offset, 0) && catalogue_.isFolder(static_cast<EntryId>(before)) && !walkFoldersFrom(before, job))
          return false;
        continue;
      }
      if (!cluster || fatfmt::isClaimed(claims_, *cluster) || fatfmt::isClaimed(inside, *cluster) != insideFolders)
        continue;
      const std::size_t before = recordCount();
      if (!appendCandidate(offset, orphans)) continue;
      // A folder is walked at once, so that what it holds is not taken again.
      if (catalogue_.isFolder(static_cast<EntryId>(before)) && !walkFoldersFrom(before, job)) return false;
    }
    return true;
  };
  if (!adopt(false)) return false;
  // Candidates inside folders that no walk read (their folder's cluster was
  // reused, or folders named each other).
  return adopt(true);
}

}  // namespace quorvel
