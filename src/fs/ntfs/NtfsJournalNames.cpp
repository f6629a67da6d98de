// NtfsParser: names, folders and deletion times from the change journal.
#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "fs/TextFormats.h"
#include "fs/ntfs/NtfsParser.h"
#include "fs/ntfs/UsnJournal.h"

namespace quorvel {

using namespace ntfsfmt;

namespace {

constexpr std::uint32_t kExtendRecord = 11;
constexpr std::string_view kJournalName = "$UsnJrnl";
constexpr std::u16string_view kJournalStream = u"$J";
// Read in pieces this large; a piece is reread from the last record that
// might not have fitted in it.
constexpr std::size_t kJournalPieceBytes = 1u << 20;

std::uint16_t nextSequence(std::uint16_t s) { return s == 0xFFFF ? 1 : static_cast<std::uint16_t>(s + 1); }

// What the journal last said of one deleted record.
struct JournalFacts {
  std::string name;
  std::uint64_t parentRecord = 0;
  std::uint16_t parentSequence = 0;
  bool folder = false;
  std::optional<FileTime> deleted;
};

}  // namespace

void NtfsParser::addJournalNames(JobContext& job) {
  std::uint32_t journal = kNone;
  for (std::uint32_t i = 0; i < records_.count() && journal == kNone; ++i) {
    const MftEntry& e = records_.at(i);
    if (e.inUse() && e.has(MftEntry::kHasName) && e.parent == kExtendRecord && records_.name(i) == kJournalName)
      journal = i;
  }
  if (journal == kNone) return;
  const std::vector<DataRun> runs = entryAttributes(journal).runs(kData, kJournalStream);

  // Keyed by record number, only for freed records: bounded by the MFT.
  std::unordered_map<std::uint32_t, JournalFacts> facts;
  const auto take = [&](const UsnRecord& r) {
    const bool deletion = (r.reason & kUsnReasonFileDelete) != 0;
    if ((!deletion && (r.reason & kUsnReasonRenameOldName) == 0) || r.fileRecord >= records_.count()) return;
    const auto number = static_cast<std::uint32_t>(r.fileRecord);
    const MftEntry& e = records_.at(number);
    // The freed record must still be the journal's file: a freed record's
    // sequence number is one past the file's.
    if (!e.has(MftEntry::kFileRecord) || e.inUse()) return;
    if (e.sequence != r.fileSequence && e.sequence != nextSequence(r.fileSequence)) return;
    JournalFacts& f = facts[number];
    // A deletion is the last word; an old name only fills in before one.
    if (!deletion && f.deleted) return;
    f.name = r.name;
    f.parentRecord = r.parentRecord;
    f.parentSequence = r.parentSequence;
    f.folder = r.isFolder();
    if (deletion) f.deleted = fromWindowsFileTime(r.timestamp);
  };

  const NtfsVolume v = volume();
  std::vector<std::uint8_t> piece;
  bool stopped = false;
  for (const DataRun& run : runs) {
    // The stream's unused head is sparse: nothing to read there.
    std::uint64_t runBytes = 0;
    if (stopped || run.sparse() || !v.clustersInside(run.lcn, run.length) ||
        !vcnToBytes(run.length, v.clusterSize, runBytes))
      continue;
    const std::uint64_t start = v.byteOffset(run.lcn);
    std::uint64_t at = 0;
    while (at < runBytes) {
      if (!job.checkpoint()) {
        stopped = true;
        break;
      }
      const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(kJournalPieceBytes, runBytes - at));
      piece.resize(size);
      v.read(start + at, piece);
      const bool last = at + size == runBytes;
      std::size_t offset = 0;
      while (size - offset >= 8) {
        if (!last && size - offset < kMaxUsnRecordLength) break;
        UsnRecord record;
        std::size_t length = 8;
        if (decodeUsnRecord(Bytes(piece.data() + offset, size - offset), record, length) == UsnStep::Record)
          take(record);
        offset += length;
      }
      at += last ? size : offset;
    }
  }

  for (const auto& [number, f] : facts) {
    if (f.deleted) deletionTimes_[number] = *f.deleted;
    records_.adoptJournalName(number, f.name, f.parentRecord, f.parentSequence, f.folder);
  }
}

}  // namespace quorvel
