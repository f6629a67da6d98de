#include "fs/fat/FatFamilyParser.h"

#include <algorithm>
#include <deque>

#include "fs/TextFormats.h"

namespace quorvel {

using fatfmt::FatFamilyRecord;
using fatfmt::Placement;

// ---------------------------------------------------------------- catalogue

std::vector<EntryId> FatFamilyParser::topEntries() const {
  if (recordCount() == 0) return {};
  return children(0);
}

std::vector<EntryId> FatFamilyParser::children(EntryId folder) const {
  std::vector<EntryId> out;
  const std::size_t count = recordCount();
  if (folder >= count || !common(folder).folder) return out;
  // Every record sits in one chain at most once, so count bounds the walk.
  std::size_t steps = count;
  for (EntryId child = common(folder).firstChild; child < count && steps-- > 0; child = common(child).nextSibling)
    if (common(child).listed) out.push_back(child);
  return out;
}

std::string FatFamilyParser::name(EntryId id) const { return id < recordCount() ? common(id).name : std::string(); }

bool FatFamilyParser::isFolder(EntryId id) const { return id < recordCount() && common(id).folder; }

bool FatFamilyParser::isDeleted(EntryId id) const { return id < recordCount() && common(id).deleted; }

std::uint64_t FatFamilyParser::size(EntryId id) const {
  return id < recordCount() && !common(id).folder ? common(id).size : 0;
}

std::string FatFamilyParser::formatSize(EntryId id) const { return sizeText(size(id)); }

void FatFamilyParser::rename(EntryId id, const std::string& newName) {
  if (id < recordCount()) commonRecord(id).name = newName;
}

bool FatFamilyParser::readContent(EntryId id, ContentSink& sink) const {
  if (id >= recordCount()) return false;
  const FatFamilyRecord& record = common(id);
  if (record.folder) return true;
  return area_.read(placementOf(record), sink).complete;
}

Placement FatFamilyParser::placementOf(const FatFamilyRecord& record) const {
  Placement p;
  p.firstCluster = record.firstCluster;
  if (record.folder) {
    // A freed folder's chain is gone; its first cluster is all that is sure.
    const bool firstClusterOnly = chainGone(record);
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
  p.contiguous = driveFormatted_ || record.noFatChain ||
                 ((record.deleted || chainsDoubted_) && !chainCovers(record.firstCluster, record.size));
  p.length = record.size;
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

void FatFamilyParser::linkParentChild() {
  const std::size_t count = recordCount();
  std::vector<EntryId> lastChild(count, kNoEntry);
  for (std::size_t i = 0; i < count; ++i) {
    FatFamilyRecord& record = commonRecord(static_cast<EntryId>(i));
    record.firstChild = kNoEntry;
    record.nextSibling = kNoEntry;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t p = common(static_cast<EntryId>(i)).parentIndex;
    if (p >= count || p == i || !common(p).folder) continue;
    if (lastChild[p] == kNoEntry)
      commonRecord(p).firstChild = static_cast<EntryId>(i);
    else
      commonRecord(lastChild[p]).nextSibling = static_cast<EntryId>(i);
    lastChild[p] = static_cast<EntryId>(i);
  }
}

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
      const FatFamilyRecord& r = common(static_cast<EntryId>(i));
      if (!r.folder || !r.listed) continue;
      const bool gone = insideDeleted || r.deleted;
      (gone ? deleted : live).push_back({static_cast<EntryId>(i), gone});
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
    const Placement placement = placementOf(common(next.folder));
    const bool readAgain = !next.insideDeleted && fatfmt::isClaimed(claims_, placement.firstCluster);
    std::vector<std::uint8_t> bytes = area_.readAll(placement, readAgain ? &secondReads : &claims_);
    if (chainGone(common(next.folder)) && !readAgain && bytes.size() == area_.clusterSize())
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
  appendFolderPlaceholder(fatfmt::kDummyEntryName, 0, false);
  const EntryId orphans = static_cast<EntryId>(recordCount());
  appendFolderPlaceholder(kOrphanEntryName, 0, true);
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
    const FatFamilyRecord& record = common(static_cast<EntryId>(recordCount() - 1));
    if (record.folder) (void)area_.readAll(placementOf(record), &inside);
    dropRecordsFrom(before);
    if (!job.checkpoint()) break;
  }

  // What no walk reached: the top of each surviving subtree, under "ORPHAN ENTRY".
  const auto adopt = [&](bool insideFolders) {
    for (const std::uint64_t offset : candidates) {
      const std::optional<std::uint32_t> cluster = clusterOf(offset);
      if (!cluster && !insideFolders && offset >= rootAreaBegin && offset < rootAreaEnd) {
        const std::size_t before = recordCount();
        if (appendCandidate(offset, 0) && common(static_cast<EntryId>(before)).folder && !walkFoldersFrom(before, job))
          return false;
        continue;
      }
      if (!cluster || fatfmt::isClaimed(claims_, *cluster) || fatfmt::isClaimed(inside, *cluster) != insideFolders)
        continue;
      const std::size_t before = recordCount();
      if (!appendCandidate(offset, orphans)) continue;
      // A folder is walked at once, so that what it holds is not taken again.
      if (common(static_cast<EntryId>(before)).folder && !walkFoldersFrom(before, job)) return false;
    }
    return true;
  };
  if (!adopt(false)) return false;
  // Candidates inside folders that no walk read (their folder's cluster was
  // reused, or folders named each other).
  if (!adopt(true)) return false;
  if (common(orphans).firstChild == kNoEntry) {
    bool any = false;
    for (std::size_t i = orphans + 1; i < recordCount() && !any; ++i) any = common(static_cast<EntryId>(i)).parentIndex == orphans;
    commonRecord(orphans).listed = any;
  }
  return true;
}

}  // namespace quorvel
