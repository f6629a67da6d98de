#include "fs/fat/FatDirectoryParser.h"

#include <algorithm>
#include <array>
#include <map>

#include "fs/fatfamily/FatTimes.h"
#include "io/Arithmetic.h"

namespace quorvel {

using namespace fatfmt;

namespace {
constexpr const char* kLinkingStatus = "maintaining tree Structure in vector...";
constexpr const char* kTreeStatus = "Creating Tree Structure....";
constexpr const char* kTreeDoneStatus = "Tree Structure Created.";

FatEntryKind entryKindOf(FatWidth width) {
  switch (width) {
    case FatWidth::Fat12: return FatEntryKind::Fat12;
    case FatWidth::Fat16: return FatEntryKind::Fat16;
    case FatWidth::Fat32: break;
  }
  return FatEntryKind::Fat32;
}
}  // namespace

void FatDirectoryParser::clearRecords() {
  records_.clear();
  catalogue_.clear();
}

void FatDirectoryParser::dropRecordsFrom(std::size_t count) {
  if (count < records_.size()) records_.resize(count);
  catalogue_.truncate(count);
}

bool FatDirectoryParser::scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  clearRecords();
  geometry_.reset();
  setDriveFormatted(request.advanced.formatted);
  attachSource(source, request.volume);
  if (request.mode == RecoveryMode::Advanced) return scanAdvanced(request, job);
  if (!checkBootSector()) {
    job.showMessage(wrongFormatMessage());
    return false;
  }
  readFat();
  job.setStatus(walkStatus());
  parseRootDirectory(job);
  job.setStatus(kLinkingStatus);
  linkParentChild();
  job.setStatus(kTreeStatus);
  job.setStatus(kTreeDoneStatus);
  job.setProgressRange(0, 100);
  job.setProgress(100);
  return true;
}

bool FatDirectoryParser::checkBootSector() {
  std::array<std::uint8_t, 512> sector{};
  if (!volume().read(0, sector)) return false;
  geometry_ = fatGeometry(decodeBiosParameterBlock(sector), volume().size());
  if (geometry_ && !takesWidth(geometry_->width)) geometry_.reset();
  return geometry_.has_value();
}

void FatDirectoryParser::readFat() {
  if (!geometry_) return;
  const FatGeometry& g = *geometry_;
  setLayout(g.fatOffset, g.fatBytes, entryKindOf(g.width), g.clusterCount, g.dataOffset, g.clusterSize);
}

std::vector<std::uint8_t> FatDirectoryParser::readRootDirectory() {
  if (!geometry_) return {};
  const FatGeometry& g = *geometry_;
  if (g.width == FatWidth::Fat32) {
    // The root is a cluster chain like any folder, starting where the boot sector says.
    const Placement root{g.rootCluster, driveFormatted() ? g.clusterSize : maxFolderBytes_, driveFormatted()};
    return area().readAll(root, &folderClaims());
  }
  std::vector<std::uint8_t> bytes(g.rootBytes, 0);
  volume().read(g.rootOffset, bytes);
  return bytes;
}

bool FatDirectoryParser::parseRootDirectory(JobContext& job) {
  clearRecords();
  appendFolderPlaceholder(kDummyEntryName, false);
  const std::vector<std::uint8_t> root = readRootDirectory();
  return walkFolders(root, job);
}

void FatDirectoryParser::parseDirectoryCluster(Bytes directory, EntryId folder, bool insideDeletedFolder) {
  // A deleted folder's cluster may have been reused: it still is a folder
  // only when it starts with its own "." entry.
  if ((insideDeletedFolder || chainsDoubted()) && folder != 0) {
    if (classifySlot(directory.first(std::min(directory.size(), kSlotSize))) != SlotKind::Dot) return;
    const ShortEntry dot = decodeShortEntry(directory);
    if (dot.firstCluster(geometry_->width) != records_[folder].firstCluster) return;
  }
  LongNameAssembler longName;
  bool pastEnd = false;
  for (std::size_t offset = 0; offset + kSlotSize <= directory.size(); offset += kSlotSize) {
    const Bytes slot = directory.subspan(offset, kSlotSize);
    const SlotKind kind = classifySlot(slot);
    if (kind == SlotKind::LongName) {
      longName.add(slot);
      continue;
    }
    if (kind != SlotKind::Folder && kind != SlotKind::File) {
      // The first never-used slot ends the live directory; what follows
      // are leftovers of an earlier use of the cluster.
      if (kind == SlotKind::NeverUsed) pastEnd = true;
      longName.reset();
      continue;
    }
    const ShortEntry entry = decodeShortEntry(slot);
    std::optional<std::string> name = longName.assembleLongName(entry);
    // Whatever a deleted folder holds is gone with it.
    appendEntry(entry, name ? *name : shortNameText(entry), folder, kind == SlotKind::Folder,
                pastEnd || insideDeletedFolder);
  }
}

bool FatDirectoryParser::continuesFolder(Bytes cluster) const {
  bool holdsEntries = false;
  for (std::size_t offset = 0; offset + kSlotSize <= cluster.size(); offset += kSlotSize) {
    switch (classifySlot(cluster.subspan(offset, kSlotSize))) {
      case SlotKind::LongName:
      case SlotKind::Folder:
      case SlotKind::File:
        holdsEntries = true;
        break;
      case SlotKind::NeverUsed:
        break;
      // Another folder's start, a label, or bytes no directory holds.
      case SlotKind::Dot:
      case SlotKind::VolumeLabel:
      case SlotKind::Invalid:
        return false;
    }
  }
  return holdsEntries;
}

void FatDirectoryParser::appendEntry(const ShortEntry& e, const std::string& name, EntryId parent, bool folder,
                                     bool afterEnd) {
  const EntryTimes times{localTimeToFileTime(decodeDosDateTime(e.creationDate, e.creationTime), e.creationTenths),
                         localTimeToFileTime(decodeDosDateTime(e.accessDate, 0)),
                         localTimeToFileTime(decodeDosDateTime(e.writeDate, e.writeTime))};
  if (addToCatalogue(name, parent, folder, e.deleted() || afterEnd, e.size, times) == kNoEntry) return;
  FatEntryRecord r;
  r.firstCluster = e.firstCluster(geometry_->width);
  r.attributes = e.attributes;
  r.creationTenths = e.creationTenths;
  r.creationTime = e.creationTime;
  r.creationDate = e.creationDate;
  r.accessDate = e.accessDate;
  r.firstClusterHigh = e.firstClusterHigh;
  r.writeTime = e.writeTime;
  r.writeDate = e.writeDate;
  r.firstClusterLow = e.firstClusterLow;
  records_.push_back(r);
}

RowTexts FatDirectoryParser::formatRow(EntryId id) const {
  if (id >= records_.size()) return {};
  const FatEntryRecord& r = records_[id];
  return {rowTimeText(decodeDosDateTime(r.creationDate, r.creationTime)), rowDateText(decodeDosDateTime(r.accessDate, 0)),
          rowTimeText(decodeDosDateTime(r.writeDate, r.writeTime)), attributeText(r.attributes)};
}

// ---------------------------------------------------------------- advanced mode: the FAT-copy search, then the tree rebuilt from a directory-entry scan
using namespace fatfmt;

namespace {
constexpr std::uint32_t kSectorBytes = 512;
constexpr std::uint32_t kGuessedRootBytes = 512 * kSlotSize;  // 512 root entries
constexpr std::uint64_t kBackupBootSector = 6;                // FAT32
constexpr std::uint64_t kFat12Clusters = 4085;
constexpr const char* kBuildStatus = "Maintaining directory Structure in AdvanceScanning";

// Where cluster 2 lies by the "." entries: each opens the first cluster of
// its folder and names that cluster. The offset most of them agree on.
std::optional<std::uint64_t> dataStartFromDots(const std::vector<DotSlot>& dots, std::uint32_t clusterSize) {
  std::map<std::uint64_t, std::size_t> votes;
  for (const DotSlot& dot : dots) {
    const std::uint64_t before = (std::uint64_t{dot.cluster} - 2) * clusterSize;
    if (dot.offset < before || (dot.offset - before) % kSectorBytes != 0) continue;
    ++votes[dot.offset - before];
  }
  std::optional<std::uint64_t> best;
  std::size_t bestVotes = 0;
  for (const auto& [start, count] : votes)
    if (count > bestVotes) best = start, bestVotes = count;
  return best;
}

std::uint64_t clusterLimit(FatWidth width) { return width == FatWidth::Fat32 ? 0x0FFFFFF5ull : 0xFFF5ull; }
}  // namespace

FatWidth FatDirectoryParser::advancedWidth() const {
  return copyKind() == FatCopyKind::Fat32 ? FatWidth::Fat32 : FatWidth::Fat16;
}

void FatDirectoryParser::searchFatCopies(std::size_t limit, JobContext& job) {
  fatCopies_ = findFatCopies(volume(), copyKind(), limit, job);
  searched_ = volume().extent();
}

CandidateLists FatDirectoryParser::findCandidates(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  attachSource(source, request.volume);
  const bool bootValid = checkBootSector();
  if (copyKind() == FatCopyKind::Fat16) job.setStatus("Finding Fat entries....");
  searchFatCopies(static_cast<std::size_t>(std::max(1, request.advanced.maxCandidates)), job);
  CandidateLists lists;
  lists.tfs = numberedItems(copyItemPrefix(), fatCopies_.size());
  std::optional<std::uint32_t> bootValue;
  if (bootValid) bootValue = geometry()->clusterSize / geometry()->bytesPerSector;
  lists.sectorsPerCluster = clusterSizeChoices(copyKind(), bootValue);
  return lists;
}

bool FatDirectoryParser::scanAdvanced(const ScanRequest& request, JobContext& job) {
  std::uint32_t sectorsPerCluster = static_cast<std::uint32_t>(std::max(0, request.advanced.sectorsPerCluster));
  // None chosen: the boot sector's, where it still has one.
  if (sectorsPerCluster == 0 && request.advanced.sectorsPerCluster == 0 && checkBootSector())
    sectorsPerCluster = geometry()->clusterSize / geometry()->bytesPerSector;
  if (sectorsPerCluster == 0 || sectorsPerCluster > 128 || !isPowerOfTwo(sectorsPerCluster)) {
    job.showMessage("Sectors per cluster must be a power of two from 1 to 128, not " +
                    std::to_string(request.advanced.sectorsPerCluster) + ".");
    return false;
  }
  const std::uint64_t clusterSize = std::uint64_t{sectorsPerCluster} * kSectorBytes;
  if (volume().size() / clusterSize < 1) {
    job.showMessage("The volume is smaller than one cluster of " + std::to_string(clusterSize) + " bytes.");
    return false;
  }
  if (fatCopies_.empty() || !(searched_ == volume().extent()))
    searchFatCopies(static_cast<std::size_t>(std::max(1, request.advanced.maxCandidates)), job);
  std::optional<std::uint64_t> fatCopy;
  const int chosen = request.advanced.tfs;
  if (chosen >= 0 && static_cast<std::size_t>(chosen) < fatCopies_.size()) fatCopy = fatCopies_[static_cast<std::size_t>(chosen)];
  setChainsDoubted(true);

  const std::uint64_t clusterCount = std::min(volume().size() / clusterSize, clusterLimit(advancedWidth()));
  const SlotScanResult found = scanDirectorySlots(volume(), advancedWidth(), clusterCount, job);
  // Stop during the searches ends them; the tree is still built from what they found.
  job.beginPhase();
  if (!prepareFromFatCopy(fatCopy, sectorsPerCluster, found, job)) return false;

  job.setStatus(kBuildStatus);
  clearRecords();
  // A fixed root whose place was guessed is not read as a whole: only the
  // entries the scan found in it are taken.
  if (rootGuessed_) {
    buildFromCandidates({}, found.entries, job, geometry_->rootOffset, geometry_->rootOffset + geometry_->rootBytes);
  } else {
    const std::vector<std::uint8_t> root = readRootDirectory();
    buildFromCandidates(root, found.entries, job);
  }
  job.setStatus(advancedTreeStatus());
  linkParentChild();
  job.setProgressRange(0, 100);
  job.setProgress(100);
  return true;
}

bool FatDirectoryParser::prepareFromFatCopy(std::optional<std::uint64_t> fatCopy, std::uint32_t sectorsPerCluster,
                                            const SlotScanResult& found, JobContext& job) {
  const FatWidth width = advancedWidth();
  const std::uint32_t clusterSize = sectorsPerCluster * kSectorBytes;
  // A valid boot sector of the chosen cluster size knows the layout; a
  // re-formatted volume's new one may not describe the old volume.
  std::optional<FatGeometry> boot;
  if (checkBootSector() && geometry_->clusterSize == clusterSize) boot = geometry_;
  if (!boot && width == FatWidth::Fat32) {
    std::array<std::uint8_t, kSectorBytes> sector{};
    if (volume().read(kBackupBootSector * kSectorBytes, sector)) {
      const std::optional<FatGeometry> backup = fatGeometry(decodeBiosParameterBlock(sector), volume().size());
      if (backup && backup->width == FatWidth::Fat32 && backup->clusterSize == clusterSize) boot = backup;
    }
  }

  rootGuessed_ = !boot && width == FatWidth::Fat16;
  FatGeometry g;
  g.width = width;
  g.bytesPerSector = kSectorBytes;
  g.clusterSize = clusterSize;
  g.volumeBytes = volume().size();
  if (boot) {
    g = *boot;
  } else {
    const std::uint64_t clusters = volume().size() / clusterSize;
    std::optional<std::uint64_t> dataStart = dataStartFromDots(found.dots, clusterSize);
    if (!dataStart && width == FatWidth::Fat16) {
      // Two FATs of two bytes per cluster behind a 4,096-byte reserved area.
      const std::uint64_t fatBytes = 2 * clusters - (2 * clusters) % kSectorBytes + kSectorBytes;
      dataStart = 2 * (fatBytes + 2048) + kGuessedRootBytes;
    }
    if (!dataStart) dataStart = found.labelOffset;
    if (!dataStart && !found.entries.empty()) dataStart = found.entries.front() >= kSlotSize ? found.entries.front() - kSlotSize : 0;
    g.dataOffset = dataStart.value_or(0);
    if (width == FatWidth::Fat16) {
      g.rootBytes = kGuessedRootBytes;
      g.rootOffset = g.dataOffset >= kGuessedRootBytes ? g.dataOffset - kGuessedRootBytes : 0;
    } else {
      g.rootCluster = 2;
    }
    if (g.dataOffset >= volume().size()) {
      job.showMessage("No cluster of " + std::to_string(clusterSize) + " bytes fits in the volume.");
      return false;
    }
    g.clusterCount = static_cast<std::uint32_t>(std::min((volume().size() - g.dataOffset) / clusterSize, clusterLimit(width)));
    // The FAT standard tells FAT12 from FAT16 by the cluster count alone.
    if (width == FatWidth::Fat16 && g.clusterCount < kFat12Clusters) g.width = FatWidth::Fat12;
  }
  if (g.clusterCount == 0) {
    job.showMessage("No cluster of " + std::to_string(clusterSize) + " bytes fits in the volume.");
    return false;
  }
  const std::uint64_t entryBits = g.width == FatWidth::Fat32 ? 32 : g.width == FatWidth::Fat16 ? 16 : 12;
  g.fatOffset = fatCopy.value_or(boot ? boot->fatOffset : 0);
  g.fatBytes = ((std::uint64_t{g.clusterCount} + 2) * entryBits + 7) / 8;
  // Without any FAT, chains end at once and files are read as runs.
  if (!fatCopy && !boot) g.fatBytes = 0;
  geometry_ = g;
  readFat();
  return true;
}

bool FatDirectoryParser::appendCandidate(std::uint64_t offset, EntryId parent) {
  constexpr std::uint64_t kLongNameReach = LongNameAssembler::kMaxSlots * kSlotSize;
  const std::uint64_t start = offset >= kLongNameReach ? offset - kLongNameReach : 0;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(offset - start) + kSlotSize);
  if (!volume().read(start, bytes)) return false;
  const Bytes all(bytes);
  const std::size_t at = static_cast<std::size_t>(offset - start);
  const SlotKind kind = classifySlot(all.subspan(at, kSlotSize));
  if (kind != SlotKind::Folder && kind != SlotKind::File) return false;
  // The long-name slots right before the entry, in disk order.
  std::size_t runStart = at;
  while (runStart >= kSlotSize && classifySlot(all.subspan(runStart - kSlotSize, kSlotSize)) == SlotKind::LongName)
    runStart -= kSlotSize;
  LongNameAssembler longName;
  for (std::size_t k = runStart; k < at; k += kSlotSize) longName.add(all.subspan(k, kSlotSize));
  const ShortEntry entry = decodeShortEntry(all.subspan(at, kSlotSize));
  std::optional<std::string> name = longName.assembleLongName(entry);
  appendEntry(entry, name ? *name : shortNameText(entry), parent, kind == SlotKind::Folder, false);
  return true;
}

void FatDirectoryParser::appendFolderPlaceholder(const char* name, bool orphanFolder) {
  const EntryId id = orphanFolder ? catalogue_.orphanFolder(name) : catalogue_.add(name, Catalogue::kFolder);
  if (id == kNoEntry) return;
  FatEntryRecord r;
  r.attributes = orphanFolder ? attribute::directory : attribute::longName;
  records_.push_back(r);
}

}  // namespace quorvel
