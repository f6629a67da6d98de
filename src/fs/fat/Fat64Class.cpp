#include "fs/fat/Fat64Class.h"

#include <algorithm>
#include <array>

#include "fs/Utf16.h"
#include "fs/fat/FatDirectoryEntry.h"
#include "fs/fat/FatTimes.h"

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

Fat64Class::Fat64Class() { maxFolderBytes_ = kMaxDirectoryBytes; }

void Fat64Class::clearRecords() {
  records_.clear();
  catalogue_.clear();
}

void Fat64Class::dropRecordsFrom(std::size_t count) {
  if (count < records_.size()) records_.resize(count);
  catalogue_.truncate(count);
}

bool Fat64Class::scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
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

bool Fat64Class::setVolumeSize() {
  volumeSize_ = volume().extent().sizeBytes;
  return volumeSize_ > 0;
}

bool Fat64Class::checkBootSector(JobContext& job) {
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

std::optional<std::vector<std::uint8_t>> Fat64Class::readRootDirectory() {
  if (!geometry_ || !fat().isCluster(geometry_->rootCluster)) return std::nullopt;
  const std::uint64_t length = driveFormatted() ? geometry_->clusterSize : kMaxDirectoryBytes;
  return area().readAll(Placement{geometry_->rootCluster, length, driveFormatted()}, &folderClaims());
}

bool Fat64Class::parseRootDirectory(Bytes root, JobContext& job) {
  clearRecords();
  appendFolderPlaceholder(fatfmt::kDummyEntryName, false);
  return walkFolders(root, job);
}

void Fat64Class::parseDirectoryCluster(Bytes directory, EntryId folder, bool insideDeletedFolder) {
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

std::size_t Fat64Class::readEntrySet(Bytes directory, std::size_t offset, EntryId parent, bool insideDeletedFolder) {
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

RowTexts Fat64Class::formatRow(EntryId id) const {
  if (id >= records_.size()) return {};
  const ExFatEntryRecord& r = records_[id];
  return {fatfmt::rowTimeText(fatfmt::decodeExFatTimestamp(r.createTimestamp)),
          fatfmt::rowTimeText(fatfmt::decodeExFatTimestamp(r.accessedTimestamp)),
          fatfmt::rowTimeText(fatfmt::decodeExFatTimestamp(r.modifiedTimestamp)),
          fatfmt::attributeText(static_cast<std::uint8_t>(r.attributes))};
}

std::unique_ptr<FileSystemParser> makeExFatParser() { return std::make_unique<Fat64Class>(); }

}  // namespace quorvel
