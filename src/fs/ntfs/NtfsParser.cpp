#include "fs/ntfs/NtfsParser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>

#include "fs/TextFormats.h"
#include "fs/ntfs/DataStream.h"
#include "fs/ntfs/DeepScan.h"
#include "fs/ntfs/MftRecord.h"
#include "fs/ntfs/NtfsExtraction.h"

namespace quorvel {

using namespace ntfsfmt;

namespace {

constexpr std::uint64_t kDefaultClusterSize = 4096;
// The records of the MFT before "$Boot": $MFT is record 0, $Boot record 7.
constexpr std::uint64_t kBootRecordDistance = 7;
constexpr std::int64_t kDefaultCandidateLimit = 3;
// Entry ids are 32-bit and the orphan folder needs one more.
constexpr std::uint64_t kMaxEntries = 0xFFFFFFF0;
// The MFT is read in pieces this large: big enough for sequential reads,
// small beside the catalogue it fills.
constexpr std::uint64_t kMftPieceBytes = 1u << 20;

constexpr const char* kOutOfMemory = "The volume could not be read: there was not enough memory for its catalogue.";
constexpr const char* kSizeUnknown =
    "The volume's size is unknown: its boot sector is damaged and its size text gives none.";

// Finds extension records through a run list: the MFT's, or while the MFT's
// own runs are being gathered, the runs gathered so far.
class MftRunsLookup : public RecordLookup {
 public:
  MftRunsLookup(const NtfsVolume& volume, const std::vector<DataRun>* runs) : volume_(volume), runs_(runs) {}
  bool readRecord(std::uint64_t number, std::span<std::uint8_t> out, const std::vector<DataRun>& gathered) const override {
    return readMftRecord(volume_, runs_ ? *runs_ : gathered, number, out);
  }

 private:
  const NtfsVolume& volume_;
  const std::vector<DataRun>* runs_;
};

// For a record found by a sector scan: its extension records are looked for
// where a contiguous stretch of its MFT would hold them, counted from the
// record's own number. The base reference each one carries confirms it.
class NeighbourLookup : public RecordLookup {
 public:
  NeighbourLookup(const NtfsVolume& volume, std::uint64_t basePosition, std::uint64_t baseNumber)
      : volume_(volume), basePosition_(basePosition), baseNumber_(baseNumber) {}
  bool readRecord(std::uint64_t number, std::span<std::uint8_t> out, const std::vector<DataRun>&) const override {
    const std::uint64_t distance = number > baseNumber_ ? number - baseNumber_ : baseNumber_ - number;
    if (distance > volume_.limitBytes() / volume_.recordSize) return false;
    const std::uint64_t offset = distance * volume_.recordSize;
    if (number < baseNumber_ && offset > basePosition_) return false;
    return volume_.read(number > baseNumber_ ? basePosition_ + offset : basePosition_ - offset, out);
  }

 private:
  const NtfsVolume& volume_;
  std::uint64_t basePosition_;
  std::uint64_t baseNumber_;
};

std::string attributeLetters(std::uint16_t flags) {
  static constexpr std::array<std::pair<std::uint16_t, const char*>, 6> kLetters = {{
      {0x0001, "-R"}, {0x0002, "-H"}, {0x0200, "-S"}, {0x0020, "-A"}, {0x0800, "-C"}, {0x4000, "-E"}}};
  std::string text;
  for (const auto& [bit, letters] : kLetters)
    if (flags & bit) text += letters;
  return text;
}

}  // namespace

const std::vector<std::string>& NtfsParser::sectorsPerClusterChoices() {
  static const std::vector<std::string> choices = {"8", "4", "2", "16", "32", "64"};
  return choices;
}

// ---------------------------------------------------------------- scanning

bool NtfsParser::attachSource(const FileReadSeek& source, const VolumeExtent& volume) {
  view_ = VolumeView(source, volume);
  view_.adviseSequential();
  return true;
}

bool NtfsParser::readBootSector() {
  std::array<std::uint8_t, 512> sector{};
  view_.read(0, sector);
  boot_ = parseBootSector(sector);
  volumeSize_ = 0;
  if (boot_.hasNtfsName) {
    // Total sectors count the volume's own sectors, which need not be 512 bytes.
    const std::uint64_t sectorSize = boot_.sectorSizeValid() ? boot_.bytesPerSector : kSectorSize;
    volumeSize_ = saturatingProduct(boot_.volumeSectors, sectorSize);
  }
  if (volumeSize_ == 0) volumeSize_ = view_.extent().sizeBytes;
  return volumeSize_ != 0;
}

NtfsVolume NtfsParser::volume() const {
  NtfsVolume v;
  v.view = view_.limitedTo(volumeSize_);
  v.clusterSize = clusterSize_ ? clusterSize_ : kDefaultClusterSize;
  v.recordSize = recordSize_ ? recordSize_ : kDefaultRecordSize;
  return v;
}

std::optional<RecordImage> NtfsParser::readRecord(std::uint64_t position, std::vector<std::uint8_t>& buffer) const {
  const NtfsVolume v = volume();
  buffer.assign(v.recordSize, 0);
  v.read(position, buffer);
  return prepareRecord(buffer);
}

void NtfsParser::resetCatalogue() {
  records_.clear();
  deletionTimes_.clear();
  positions_.clear();
  positions_.shrink_to_fit();
  deepLayout_ = false;
}

std::uint64_t NtfsParser::clusterSizeFromMftRecord(const RecordImage& image) {
  // The MFT's allocated size over its clusters gives the cluster size, when
  // its record maps the whole attribute.
  std::vector<AttributeHeader> attributes;
  collectAttributeHeaders(image, attributes);
  for (const AttributeHeader& a : attributes)
    if (a.type == kAttributeList) return 0;
  for (const AttributeHeader& a : attributes) {
    if (a.type != kData || !a.unnamed() || !a.nonResident || a.firstVcn != 0 || a.vcnCount() == 0) continue;
    const std::uint64_t size = a.allocatedSize / a.vcnCount();
    if (a.allocatedSize % a.vcnCount() == 0 && isPowerOfTwo(size) && size >= kMinClusterSize && size <= kMaxClusterSize)
      return size;
    return 0;
  }
  return 0;
}

bool NtfsParser::mftRunsFromRecordAt(std::uint64_t position, bool deriveClusterSize) {
  std::vector<std::uint8_t> buffer;
  if (recordSize_ == 0) {
    // Without a usable boot sector the record says its own size.
    std::optional<RecordImage> probe = readRecord(position, buffer);
    const std::uint32_t size = probe ? recordSizeFromHeader(probe->header) : 0;
    recordSize_ = size ? size : kDefaultRecordSize;
  }
  std::optional<RecordImage> image = readRecord(position, buffer);
  if (!image) return false;

  if (deriveClusterSize) {
    if (const std::uint64_t derived = clusterSizeFromMftRecord(*image)) clusterSize_ = derived;
  }

  const NtfsVolume v = volume();
  const MftRunsLookup lookup(v, nullptr);
  DataStream ds = findUnnamedData(*image, 0, v, &lookup);
  if (ds.resident || ds.runs.empty()) return false;
  mftRuns_ = std::move(ds.runs);
  mftDataSize_ = ds.sizesKnown ? ds.length() : 0;
  return true;
}

void NtfsParser::locateMft(JobContext& job) {
  mftRunKnown_ = false;
  clusterSize_ = boot_.clusterSize() ? boot_.clusterSize() : kDefaultClusterSize;
  if (boot_.valid()) {
    recordSize_ = boot_.recordSize();
    job.setStatus("boot sector is fine.Getting run of mft entry...");
    bool found = false;
    // The mirror holds a copy of the MFT's own record.
    for (const std::uint64_t cluster : {boot_.mftCluster, boot_.mftMirrorCluster}) {
      if (found || cluster == 0 || cluster > volume().limitBytes() / clusterSize_) continue;
      found = mftRunsFromRecordAt(cluster * clusterSize_, false);
    }
    job.setStatus("Got run...");
    if (found) {
      mftRunKnown_ = true;
      return;
    }
  }
  job.setStatus("boot sector corrupt.Scanning for first mft entry...");
  searchForMft(job);
}

void NtfsParser::markMftRecord(std::uint32_t index, const RecordImage& image) {
  // Record 0 is the MFT itself (older headers do not say their number).
  const bool isMft = image.header.ownNumber.value_or(0) == 0 && records_.name(index) == "$MFT";
  if (isMft) records_.at(index).bits |= MftEntry::kMftItself;
}

std::uint32_t NtfsParser::appendFoundRecord(std::uint64_t position, std::span<std::uint8_t> record) {
  const std::optional<RecordImage> image = prepareRecord(record);
  if (!image || records_.count() >= kMaxEntries) return kNone;
  const auto index = static_cast<std::uint32_t>(records_.count());
  records_.resize(index + 1);
  records_.parseRecord(*image, index, clusterSize_, scratch_);
  // A base record whose names moved to extension records is kept until
  // those are looked for.
  const MftEntry& e = records_.at(index);
  if (!e.has(MftEntry::kHasName) && !e.has(MftEntry::kHasAttributeList)) {
    records_.truncate(index);
    return kNone;
  }
  markMftRecord(index, *image);
  // Without a boot sector the MFT's own record tells the cluster size; the
  // MFT usually comes first on disk, before the records sized with it.
  if (!boot_.valid() && !clusterSizeDerived_ && records_.name(index) == "$MFT") {
    if (const std::uint64_t derived = clusterSizeFromMftRecord(*image)) {
      const bool changed = derived != clusterSize_;
      clusterSize_ = derived;
      clusterSizeDerived_ = true;
      records_.parseRecord(*image, index, clusterSize_, scratch_);
      markMftRecord(index, *image);
      if (changed) reparseFoundRecords(index);
    }
  }
  positions_.push_back(position);
  return index;
}

void NtfsParser::reparseFoundRecords(std::uint32_t count) {
  // Their sizes were kept within what their runs map in the cluster size
  // guessed before; contents are read in the derived one.
  std::vector<std::uint8_t> buffer;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::optional<RecordImage> image = readRecord(positions_[i], buffer);
    if (!image) continue;
    records_.parseRecord(*image, i, clusterSize_, scratch_);
    markMftRecord(i, *image);
  }
}

void NtfsParser::searchForMft(JobContext& job) {
  resetCatalogue();
  deepLayout_ = true;
  if (!boot_.valid()) recordSize_ = 0;
  const std::uint64_t chunks = scanChunkCount(volumeSize_);
  job.setProgressRange(0, static_cast<std::int64_t>(chunks));
  bool found = false;
  scanForRecords(
      volume(), volumeSize_, recordSize_, job,
      [&](std::uint64_t position, std::span<std::uint8_t> record) {
        const std::uint32_t index = appendFoundRecord(position, record);
        if (index == kNone || records_.name(index) != "$MFT") return true;
        job.setStatus("found mft entry.getting its run ...");
        found = mftRunsFromRecordAt(position, !boot_.valid());
        job.setStatus("got run ...");
        return !found;
      },
      [&](std::uint64_t chunk) {
        job.setProgress(static_cast<std::int64_t>(chunk));
        return true;
      });
  if (found) {
    // The MFT is read through its runs; what the search parsed is dropped.
    resetCatalogue();
    mftRunKnown_ = true;
  }
}

bool NtfsParser::useCandidate(int k) {
  mftRunKnown_ = false;
  if (k < 0 || static_cast<std::size_t>(k) >= candidates_.size()) return false;
  mftRunKnown_ = mftRunsFromRecordAt(candidates_[static_cast<std::size_t>(k)], false);
  return mftRunKnown_;
}

void NtfsParser::readMftRun(JobContext& job) {
  if (!mftRunKnown_ || job.stopRequested()) return;
  if (clusterSize_ == 0) clusterSize_ = kDefaultClusterSize;
  if (recordSize_ == 0) recordSize_ = kDefaultRecordSize;
  resetCatalogue();
  const NtfsVolume v = volume();
  const std::uint64_t rs = v.recordSize;
  const std::uint64_t cs = v.clusterSize;

  std::uint64_t mapped = 0;
  if (mftRuns_.empty() || !vcnToBytes(mftRuns_.back().endVcn(), cs, mapped)) return;
  if (mftDataSize_ > 0) mapped = std::min(mapped, mftDataSize_);
  const std::uint64_t count = std::min({mapped / rs, v.limitBytes() / rs, kMaxEntries});
  try {
    records_.reserve(static_cast<std::size_t>(count) + 1);  // the orphan folder comes last
  } catch (const std::bad_alloc&) {
    // A damaged size may ask for more than there is; grow as records come.
  }
  job.setProgressRange(0, static_cast<std::int64_t>(count));

  const std::size_t pieceRecords = static_cast<std::size_t>(std::max<std::uint64_t>(1, kMftPieceBytes / rs));
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(pieceRecords, std::max<std::uint64_t>(count, 1)) * rs));
  std::vector<std::uint8_t> single(rs);
  // Bare entries stand in for unreadable records, so that an entry's index
  // stays its record number; they are only added before a readable one.
  const auto parse = [&](std::uint64_t number, std::span<std::uint8_t> bytes) {
    const std::optional<RecordImage> image = prepareRecord(bytes);
    if (!image) return;
    if (number >= records_.count()) records_.resize(number + 1);
    records_.parseRecord(*image, static_cast<std::uint32_t>(number), cs, scratch_);
  };

  for (const DataRun& run : mftRuns_) {
    if (!job.checkpoint()) break;
    job.setStatus("parsing " + std::to_string(run.sparse() ? 0 : run.lcn.value) + " cluster of MFT run.");
    std::uint64_t runStart = 0;
    std::uint64_t runEnd = 0;
    if (run.sparse() || !vcnToBytes(run.vcn, cs, runStart) || !vcnToBytes(run.endVcn(), cs, runEnd)) continue;
    if (!v.clustersInside(run.lcn, 0)) continue;
    const std::uint64_t physicalStart = v.byteOffset(run.lcn);
    // Records wholly inside this run, read in large pieces.
    std::uint64_t number = (runStart + rs - 1) / rs;
    const std::uint64_t last = std::min(count, runEnd / rs);
    bool stopped = false;
    while (number < last) {
      job.setStatus("parsing MFT entry " + std::to_string(number) + "...");
      job.setProgress(static_cast<std::int64_t>(number));
      if (!job.checkpoint()) {
        stopped = true;
        break;
      }
      const std::uint64_t records = std::min<std::uint64_t>(last - number, pieceRecords);
      const std::int64_t got = v.readUpTo(physicalStart + (number * rs - runStart),
                                          std::span<std::uint8_t>(buffer.data(), static_cast<std::size_t>(records * rs)));
      const std::uint64_t whole = got > 0 ? static_cast<std::uint64_t>(got) / rs : 0;
      for (std::uint64_t j = 0; j < whole; ++j)
        parse(number + j, std::span<std::uint8_t>(buffer.data() + j * rs, static_cast<std::size_t>(rs)));
      number += records;
    }
    if (stopped) break;
    // A record that continues in the next run (clusters smaller than records).
    if (runEnd % rs != 0 && runEnd / rs < count && readMftRecord(v, mftRuns_, runEnd / rs, single))
      parse(runEnd / rs, single);
  }
  job.setProgress(static_cast<std::int64_t>(count));
}

void NtfsParser::resolveExtensionRecords(JobContext& job) {
  const NtfsVolume v = volume();
  std::vector<std::uint8_t> buffer(v.recordSize);
  std::vector<std::uint8_t> extension(v.recordSize);
  std::vector<AttributeHeader> attributes;
  for (std::uint32_t i = 0; i < records_.count(); ++i) {
    const MftEntry& e = records_.at(i);
    if (!e.has(MftEntry::kHasAttributeList)) continue;
    const bool needsSize = e.has(MftEntry::kNeedsExtents);
    if (!needsSize && e.has(MftEntry::kLongName)) continue;
    job.checkpoint();  // pauses here; a stop still lets these few records be read
    if (!readEntryRecord(i, buffer)) continue;
    const std::optional<RecordImage> image = prepareRecord(buffer);
    if (!image) continue;

    // The number the extension records name as their base.
    std::optional<std::uint64_t> number = i;
    if (deepLayout_) number = image->header.ownNumber;
    if (!e.has(MftEntry::kLongName) && number) {
      collectAttributeHeaders(*image, attributes);
      const auto list = std::find_if(attributes.begin(), attributes.end(),
                                     [](const AttributeHeader& a) { return a.type == kAttributeList; });
      const MftRunsLookup byRuns(v, &mftRuns_);
      const NeighbourLookup nearby(v, deepLayout_ ? positions_[i] : 0, *number);
      const RecordLookup& lookup = deepLayout_ ? static_cast<const RecordLookup&>(nearby) : byRuns;
      if (list != attributes.end()) {
        for (const AttributeListEntry& entry : attributeListEntries(*image, *list, v)) {
          const std::uint64_t holder = referenceRecord(entry.recordReference);
          if (entry.type != kFileName || holder == *number || !lookup.readRecord(holder, extension, mftRuns_)) continue;
          const std::optional<RecordImage> named = prepareRecord(extension);
          if (!named || !named->header.isExtension() || referenceRecord(named->header.baseReference) != *number) continue;
          records_.adoptFileNames(i, *named, scratch_);
          if (records_.at(i).has(MftEntry::kLongName)) break;
        }
      }
    }
    // The same gathering readContent does, so size and content agree.
    if (needsSize && !records_.at(i).isFolder()) records_.setSize(i, unnamedData(i, *image, v).length());
  }
}

void NtfsParser::buildCatalogue(JobContext& job) {
  resolveExtensionRecords(job);
  if (!deepLayout_ && records_.count() > 0) {
    records_.at(0).bits |= MftEntry::kMftItself;
    addJournalNames(job);
    addIndexSlackNames(job);
  }
  records_.build(deepLayout_);
}

std::int64_t NtfsParser::findMftEntries(std::int64_t limit, JobContext& job) {
  if (limit < 1) limit = kDefaultCandidateLimit;
  clusterSize_ = boot_.clusterSize() ? boot_.clusterSize() : kDefaultClusterSize;
  recordSize_ = boot_.valid() ? boot_.recordSize() : 0;
  mftRunKnown_ = false;
  candidates_.clear();
  const std::uint64_t scanBytes = view_.extent().sizeBytes;
  if (scanBytes == 0) return 0;
  const std::uint64_t chunks = scanChunkCount(scanBytes);
  job.setProgressRange(0, static_cast<std::int64_t>(chunks));

  std::int64_t recordsFound = 0;
  std::vector<AttributeHeader> attributes;
  std::vector<std::uint8_t> buffer;
  const auto nameOf = [&](const RecordImage& image) {
    collectAttributeHeaders(image, attributes);
    return fileNameText(image, chooseFileName(image, attributes));
  };
  scanForRecords(
      volume(), scanBytes, recordSize_, job,
      [&](std::uint64_t position, std::span<std::uint8_t> record) {
        const std::optional<RecordImage> image = prepareRecord(record);
        if (!image) return true;
        ++recordsFound;
        if (image->header.ownNumber.value_or(0) != 0 || nameOf(*image) != "$MFT") return true;
        // The MFT, not its mirror: "$Boot" follows seven records later.
        const std::optional<RecordImage> boot = readRecord(position + kBootRecordDistance * recordSize_, buffer);
        if (!boot || nameOf(*boot).rfind("$Boot", 0) != 0) return true;
        candidates_.push_back(position);
        job.setStatus("MFT ENTRY " + std::to_string(recordsFound) + " Found.Parsing it ...");
        return true;
      },
      [&](std::uint64_t chunk) {
        if (static_cast<std::int64_t>(candidates_.size()) >= limit) return false;
        job.setProgress(static_cast<std::int64_t>(chunk));
        return true;
      });
  job.setProgress(static_cast<std::int64_t>(chunks));
  return static_cast<std::int64_t>(candidates_.size());
}

void NtfsParser::deepScan(JobContext& job) {
  mftRunKnown_ = false;
  clusterSize_ = boot_.clusterSize() ? boot_.clusterSize() : kDefaultClusterSize;
  recordSize_ = boot_.valid() ? boot_.recordSize() : 0;
  resetCatalogue();
  deepLayout_ = true;
  const std::uint64_t chunks = scanChunkCount(volumeSize_);
  job.setProgressRange(0, static_cast<std::int64_t>(chunks));
  std::size_t shown = 0;
  const auto showCount = [&] {
    if (records_.count() == shown) return;
    shown = records_.count();
    job.setStatus("MFT ENTRY " + std::to_string(shown) + " Found.Parsing it ..");
  };
  scanForRecords(
      volume(), volumeSize_, recordSize_, job,
      [&](std::uint64_t position, std::span<std::uint8_t> record) {
        appendFoundRecord(position, record);
        return true;
      },
      [&](std::uint64_t chunk) {
        showCount();
        job.setProgress(static_cast<std::int64_t>(chunk));
        return true;
      });
  showCount();
  job.setProgress(static_cast<std::int64_t>(chunks));
}

CandidateLists NtfsParser::findCandidates(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  attachSource(source, request.volume);
  try {
    readBootSector();
    findMftEntries(request.advanced.maxCandidates, job);
  } catch (const std::exception&) {
    // Out of memory on a damaged volume: offer what was found.
  }
  CandidateLists lists;
  for (std::size_t i = 0; i < candidates_.size(); ++i) lists.tfs.push_back("MFT_ENTRY:" + std::to_string(i));
  lists.sectorsPerCluster = sectorsPerClusterChoices();
  return lists;
}

bool NtfsParser::scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  try {
    return runJob(source, request, job);
  } catch (const std::exception&) {
    resetCatalogue();
    job.showMessage(kOutOfMemory);
    return false;
  }
}

bool NtfsParser::runJob(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  resetCatalogue();
  clusterSizeDerived_ = false;
  mftRunKnown_ = false;
  const bool sameVolume = view_.source() == &source && view_.extent() == request.volume;
  attachSource(source, request.volume);

  if (request.mode == RecoveryMode::Advanced) {
    readBootSector();
    if (!sameVolume || candidates_.empty()) findMftEntries(request.advanced.maxCandidates, job);
    // The user's cluster size decides; a damaged boot sector is why we are here.
    const std::uint64_t chosen = static_cast<std::uint64_t>(std::max(0, request.advanced.sectorsPerCluster)) * kSectorSize;
    clusterSize_ = boot_.clusterSize() ? boot_.clusterSize() : kDefaultClusterSize;
    if (chosen > 0 && chosen <= kMaxClusterSize) clusterSize_ = chosen;
    useCandidate(request.advanced.tfs);
    readMftRun(job);
    buildCatalogue(job);
    return true;
  }

  if (!readBootSector()) {
    job.showMessage(kSizeUnknown);
    return false;
  }
  if (request.mode == RecoveryMode::Deep) {
    job.setStatus(" scanning for mft entries in deep mode ....");
    deepScan(job);
  } else {
    job.setStatus(" ParsingBasedOnMFT is going on....");
    locateMft(job);
  }
  readMftRun(job);
  buildCatalogue(job);
  return true;
}

// ---------------------------------------------------------------- catalogue

RowTexts NtfsParser::formatRow(EntryId id) const {
  RowTexts row = FileSystemParser::formatRow(id);
  if (records_.valid(id)) row.attributes = attributeLetters(records_.at(id).fileAttributes);
  return row;
}

DataStream NtfsParser::unnamedData(EntryId id, const RecordImage& image, const NtfsVolume& v) const {
  if (!deepLayout_) {
    const MftRunsLookup lookup(v, &mftRuns_);
    return findUnnamedData(image, id, v, &lookup);
  }
  if (!image.header.ownNumber || id >= positions_.size()) return findUnnamedData(image, std::nullopt, v, nullptr);
  const NeighbourLookup lookup(v, positions_[id], *image.header.ownNumber);
  return findUnnamedData(image, *image.header.ownNumber, v, &lookup);
}

bool NtfsParser::readEntryRecord(EntryId id, std::vector<std::uint8_t>& buffer) const {
  const NtfsVolume v = volume();
  buffer.assign(v.recordSize, 0);
  if (!deepLayout_) return readMftRecord(v, mftRuns_, id, buffer);
  if (id >= positions_.size()) return false;
  // A found record may run past the volume's end: the scan parsed it with
  // zeros for the missing part, whose fix-ups then leave only the strides
  // that were read; reading it back the same way gives the same entry.
  v.read(positions_[id], buffer);
  return true;
}

std::optional<FileTime> NtfsParser::deletionTime(EntryId id) const {
  const auto found = deletionTimes_.find(id);
  if (found == deletionTimes_.end()) return std::nullopt;
  return found->second;
}

RecordAttributes NtfsParser::entryAttributes(EntryId id) const {
  std::vector<std::uint8_t> buffer;
  if (deepLayout_ || !readEntryRecord(id, buffer)) return RecordAttributes({}, id, volume(), nullptr);
  const NtfsVolume v = volume();
  const MftRunsLookup lookup(v, &mftRuns_);
  return RecordAttributes(std::move(buffer), id, v, &lookup);
}

bool NtfsParser::readContent(EntryId id, ContentSink& sink) const {
  try {
    return streamEntry(id, sink);
  } catch (const std::exception&) {
    return false;
  }
}

bool NtfsParser::streamEntry(EntryId id, ContentSink& sink) const {
  if (catalogue_.isFolder(id)) return true;
  if (!records_.valid(id)) return false;
  const MftEntry& e = records_.at(id);
  if (!e.has(MftEntry::kFileRecord)) return false;
  std::vector<std::uint8_t> buffer;
  if (!readEntryRecord(id, buffer)) return false;
  const std::optional<RecordImage> image = prepareRecord(buffer);
  if (!image) return false;
  const NtfsVolume v = volume();
  return streamContent(unnamedData(id, *image, v), v, sink);
}

std::unique_ptr<FileSystemParser> makeNtfsParser() { return std::make_unique<NtfsParser>(); }

}  // namespace quorvel
