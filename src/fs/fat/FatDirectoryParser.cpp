#include "fs/fat/FatDirectoryParser.h"

#include <array>

#include "fs/fat/FatTimes.h"

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

}  // namespace quorvel
