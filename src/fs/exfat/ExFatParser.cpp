#include "fs/exfat/ExFatParser.h"

#include <algorithm>
#include <array>
#include <bit>

#include "fs/Utf16.h"
#include "fs/exfat/ExFatHeapSearch.h"
#include "fs/exfat/ExFatSetScan.h"
#include "fs/fat/FatDirectoryEntry.h"
#include "fs/fatfamily/FatCopySearch.h"
#include "fs/fatfamily/FatTimes.h"

namespace quorvel {

using namespace exfatfmt;
using fatfmt::Placement;

namespace {
constexpr const char* kCantReadFile = "cant read file";
constexpr const char* kNotExFat = "Selected Drive is not in exFat Format";
constexpr const char* kRootError = "error...";
constexpr const char* kProcessingStatus = "processing file and directory entries...";
constexpr const char* kWalkStatus = "Finding Fat64 File And Directory entries recursively....";
constexpr const char* kTreeStatus = "creating tree Structure...";

constexpr std::uint64_t kMaxDirectoryBytes = 256 * 1024 * 1024;  // the format's own limit
constexpr std::uint16_t kDirectoryAttribute = 0x10;
constexpr std::size_t kUnitsPerNameEntry = 15;
constexpr std::size_t kNameOffset = 2;
constexpr std::uint8_t kSecondaryCategory = 0x40;  // type bit 6: a secondary entry

// NameLength units, zero units included: a name does not end at a zero.
std::string nameText(Bytes units, std::size_t count) {
  std::string name;
  std::size_t start = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (le16(units, 2 * i) != 0) continue;
    name += utf16leToUtf8(units.subspan(2 * start), i - start);
    name += '\0';
    start = i + 1;
  }
  name += utf16leToUtf8(units.subspan(2 * start), count - start);
  return name;
}
}  // namespace

ExFatParser::ExFatParser() { maxFolderBytes_ = kMaxDirectoryBytes; }

void ExFatParser::clearRecords() {
  records_.clear();
  catalogue_.clear();
}

void ExFatParser::dropRecordsFrom(std::size_t count) {
  if (count < records_.size()) records_.resize(count);
  catalogue_.truncate(count);
}

bool ExFatParser::scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  clearRecords();
  geometry_.reset();
  setDriveFormatted(request.advanced.formatted);
  attachSource(source, request.volume);
  setVolumeSize();
  if (request.mode == RecoveryMode::Advanced) return scanAdvanced(request, job);
  if (!checkBootSector(job)) {
    job.showMessage(kNotExFat);
    return false;
  }
  const auto root = readRootDirectory();
  job.setStatus(kProcessingStatus);
  job.setStatus(kWalkStatus);
  if (!root) job.showMessage(kRootError);
  parseRootDirectory(root ? Bytes(*root) : Bytes(), job);
  linkParentChild();
  job.setStatus(kTreeStatus);
  job.setProgressRange(0, 100);
  job.setProgress(100);
  return true;
}

bool ExFatParser::setVolumeSize() {
  volumeSize_ = volume().extent().sizeBytes;
  return volumeSize_ > 0;
}

bool ExFatParser::checkBootSector(JobContext& job) {
  std::array<std::uint8_t, 512> sector{};
  if (!volume().read(0, sector)) {
    job.showMessage(kCantReadFile);
    return false;
  }
  if (!hasExFatName(sector)) return false;
  geometry_ = exFatGeometry(decodeBootSector(sector));
  if (!geometry_) return false;
  const ExFatGeometry& g = *geometry_;
  setLayout(g.fatOffset, g.fatBytes, fatfmt::FatEntryKind::ExFat, g.clusterCount, g.heapOffset, g.clusterSize);
  return true;
}

std::optional<std::vector<std::uint8_t>> ExFatParser::readRootDirectory() {
  if (!geometry_ || !fat().isCluster(geometry_->rootCluster)) return std::nullopt;
  const std::uint64_t length = driveFormatted() ? geometry_->clusterSize : kMaxDirectoryBytes;
  return area().readAll(Placement{geometry_->rootCluster, length, driveFormatted()}, &folderClaims());
}

bool ExFatParser::parseRootDirectory(Bytes root, JobContext& job) {
  clearRecords();
  appendFolderPlaceholder(fatfmt::kDummyEntryName, false);
  return walkFolders(root, job);
}

void ExFatParser::parseDirectoryCluster(Bytes directory, EntryId folder, bool insideDeletedFolder) {
  bool pastEnd = false;
  for (std::size_t offset = 0; offset + kEntrySize <= directory.size();) {
    const std::uint8_t type = directory[offset];
    // The first never-used slot ends the live folder; sets behind it are
    // leftovers, as stale as those of a deleted folder.
    if (type == 0x00) pastEnd = true;
    if ((type & ~entryType::inUse) == (entryType::file & ~entryType::inUse)) {
      // A stale cluster of a deleted folder must prove its sets by checksum.
      const std::size_t slots = readEntrySet(directory, offset, folder, insideDeletedFolder || pastEnd);
      if (slots > 0) {
        offset += slots * kEntrySize;
        continue;
      }
    }
    offset += kEntrySize;
  }
}

std::size_t ExFatParser::readEntrySet(Bytes directory, std::size_t offset, EntryId parent, bool insideDeletedFolder) {
  const FileEntry file = decodeFileEntry(directory.subspan(offset, kEntrySize));
  const bool deleted = !(file.type & entryType::inUse);
  // A set is a file entry, one stream entry and 1 to 17 name entries.
  if (file.secondaryCount < 2 || file.secondaryCount > 18) return 0;
  const std::size_t setBytes = (std::size_t{file.secondaryCount} + 1) * kEntrySize;
  if (offset + setBytes > directory.size()) return 0;
  const Bytes set = directory.subspan(offset, setBytes);
  // The secondary entries share the file entry's in-use state.
  const auto ofThisSet = [deleted](std::uint8_t type) {
    return static_cast<std::uint8_t>(deleted ? type & ~entryType::inUse : type);
  };
  const StreamEntry stream = decodeStreamEntry(set.subspan(kEntrySize, kEntrySize));
  if (stream.type != ofThisSet(entryType::stream)) return 0;
  const std::size_t nameEntries = (std::size_t{stream.nameLength} + kUnitsPerNameEntry - 1) / kUnitsPerNameEntry;
  if (stream.nameLength == 0 || nameEntries + 1 > file.secondaryCount) return 0;
  std::vector<std::uint8_t> units;
  units.reserve(nameEntries * kUnitsPerNameEntry * 2);
  for (std::size_t k = 0; k < nameEntries; ++k) {
    const Bytes entry = set.subspan((k + 2) * kEntrySize, kEntrySize);
    if (entry[0] != ofThisSet(entryType::fileName)) return 0;
    units.insert(units.end(), entry.begin() + kNameOffset, entry.end());
  }
  // A primary entry inside the count starts the next set: the count is wrong.
  for (std::size_t k = nameEntries + 2; k <= file.secondaryCount; ++k)
    if (!(set[k * kEntrySize] & kSecondaryCategory)) return 0;
  // A stale cluster of a deleted folder, and a deleted set whose slots may
  // have been reused, must prove themselves by their checksum.
  // So must every set when the tree is rebuilt from a damaged volume.
  if ((insideDeletedFolder || deleted || chainsDoubted()) && entrySetChecksum(set) != file.setChecksum) return 0;

  const bool folder = file.attributes & kDirectoryAttribute;
  const EntryTimes times{fatfmt::exFatTimeToFileTime(file.createTimestamp, file.create10ms, file.createUtcOffset),
                         fatfmt::exFatTimeToFileTime(file.accessedTimestamp, 0, file.accessedUtcOffset),
                         fatfmt::exFatTimeToFileTime(file.modifiedTimestamp, file.modified10ms, file.modifiedUtcOffset)};
  // Valid data beyond the allocation would read other files' clusters.
  const std::uint64_t size = std::min(stream.validDataLength, stream.dataLength);
  if (addToCatalogue(nameText(units, stream.nameLength), parent, folder, deleted || insideDeletedFolder, size, times) ==
      kNoEntry)
    return 0;
  ExFatEntryRecord r;
  r.allocated = stream.dataLength;
  r.firstCluster = stream.firstCluster;
  r.noFatChain = stream.noFatChain();
  r.entryType = file.type;
  r.attributes = file.attributes;
  r.createTimestamp = file.createTimestamp;
  r.modifiedTimestamp = file.modifiedTimestamp;
  r.accessedTimestamp = file.accessedTimestamp;
  r.create10ms = file.create10ms;
  r.modified10ms = file.modified10ms;
  r.createUtcOffset = file.createUtcOffset;
  r.modifiedUtcOffset = file.modifiedUtcOffset;
  r.accessedUtcOffset = file.accessedUtcOffset;
  r.streamEntryType = stream.type;
  r.generalSecondaryFlags = stream.flags;
  r.nameLength = stream.nameLength;
  r.validDataLength = stream.validDataLength;
  r.dataLength = stream.dataLength;
  records_.push_back(r);
  return file.secondaryCount + 1;
}

RowTexts ExFatParser::formatRow(EntryId id) const {
  if (id >= records_.size()) return {};
  const ExFatEntryRecord& r = records_[id];
  return {fatfmt::rowTimeText(fatfmt::decodeExFatTimestamp(r.createTimestamp)),
          fatfmt::rowTimeText(fatfmt::decodeExFatTimestamp(r.accessedTimestamp)),
          fatfmt::rowTimeText(fatfmt::decodeExFatTimestamp(r.modifiedTimestamp)),
          fatfmt::attributeText(static_cast<std::uint8_t>(r.attributes))};
}

std::unique_ptr<FileSystemParser> makeExFatParser() { return std::make_unique<ExFatParser>(); }

// ---------------------------------------------------------------- advanced mode: the FAT-copy and heap-offset searches, then the tree rebuilt from an entry-set scan
using namespace exfatfmt;
using fatfmt::Placement;

namespace {
constexpr std::uint32_t kSectorBytes = 512;
constexpr std::uint32_t kLargestShift = 16;  // 32 MiB clusters, the format's limit
constexpr std::uint64_t kClusterLimit = 0xFFFFFFF5ull;
constexpr std::size_t kLongestSet = 19 * kEntrySize;
}  // namespace

void ExFatParser::searchVolume(std::size_t limit, JobContext& job) {
  job.setStatus("Finding Fat64 entries....");
  fatCopies_ = fatfmt::findFatCopies(volume(), fatfmt::FatCopyKind::ExFat, limit, job);
  // Each search is a phase of its own: Stop ends the one under way and keeps
  // what the other found.
  job.beginPhase();
  const HeapClues clues = gatherHeapClues(volume(), job);
  const std::size_t wanted = limit + 1;
  heapFinds_ = heapCandidates(volume(), clues, fatCopies_, wanted, job);
  // The boot sector's heap, where it has one, is the first choice.
  if (geometry_) {
    const auto shift = static_cast<unsigned>(std::countr_zero(geometry_->clusterSize / kSectorBytes));
    const std::uint64_t bootHeap = geometry_->heapOffset;
    std::erase_if(heapFinds_, [&](const HeapCandidate& c) { return c.offset == bootHeap; });
    heapFinds_.insert(heapFinds_.begin(),
                      HeapCandidate{bootHeap, shift, kBootSectorSays | weighHeap(volume(), clues, bootHeap, shift)});
    if (heapFinds_.size() > wanted) heapFinds_.resize(wanted);
  }
  heapOffsets_.clear();
  for (const HeapCandidate& c : heapFinds_) heapOffsets_.push_back(c.offset);
  searched_ = volume().extent();
}

CandidateLists ExFatParser::findCandidates(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  attachSource(source, request.volume);
  setVolumeSize();
  geometry_.reset();
  checkBootSector(job);
  searchVolume(static_cast<std::size_t>(std::max(1, request.advanced.maxCandidates)), job);
  CandidateLists lists;
  lists.tfs = fatfmt::numberedItems("FAT64_ENTRY:", fatCopies_.size());
  lists.heapOffsets = fatfmt::numberedItems("HEAP_OFFSET_ENTRY:", heapOffsets_.size());
  for (const HeapCandidate& c : heapFinds_) lists.heapFinds.push_back({c.offset, evidenceNames(c.evidence)});
  // The cluster size the first heap's evidence fits goes first, the boot
  // sector's when there is one.
  std::optional<std::uint32_t> firstShift;
  if (!heapFinds_.empty() && heapFinds_.front().shift) firstShift = *heapFinds_.front().shift;
  lists.sectorsPerCluster = fatfmt::clusterSizeChoices(fatfmt::FatCopyKind::ExFat, firstShift);
  return lists;
}

bool ExFatParser::scanAdvanced(const ScanRequest& request, JobContext& job) {
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

std::size_t ExFatParser::readSetAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
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

bool ExFatParser::appendCandidate(std::uint64_t offset, EntryId parent) {
  std::vector<std::uint8_t> set(kLongestSet, 0);
  set.resize(readSetAt(offset, set));
  return readEntrySet(set, 0, parent, false) > 0;
}

void ExFatParser::appendFolderPlaceholder(const char* name, bool orphanFolder) {
  const EntryId id = orphanFolder ? catalogue_.orphanFolder(name) : catalogue_.add(name, Catalogue::kFolder);
  if (id == kNoEntry) return;
  ExFatEntryRecord r;
  r.attributes = 0x10;
  records_.push_back(r);
}

}  // namespace quorvel
