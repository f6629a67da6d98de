// NtfsParser: deleted names from the slack of folder indexes.
#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <string_view>
#include <tuple>

#include "fs/TextFormats.h"
#include "fs/ntfs/IndexSlack.h"
#include "fs/ntfs/NtfsParser.h"

namespace quorvel {

using namespace ntfsfmt;

namespace {

constexpr std::u16string_view kFolderIndexName = u"$I30";
// Entry ids are 32-bit and the orphan folder needs one more.
constexpr std::size_t kMaxCatalogueEntries = 0xFFFFFFF0;
// A folder's bitmap holds one bit per index block; more than this is damage.
constexpr std::uint64_t kMaxBitmapBytes = 1u << 20;

std::uint16_t nextSequence(std::uint16_t s) { return s == 0xFFFF ? 1 : static_cast<std::uint16_t>(s + 1); }

bool isLongName(const IndexName& n) { return n.nameSpace != kNameSpaceDos; }

std::uint64_t nameAndTimeKey(const IndexName& n) {
  return std::hash<std::string_view>{}(n.name) ^ (n.created * 0x9E3779B97F4A7C15ull);
}

}  // namespace

void NtfsParser::addIndexSlackNames(JobContext& job) {
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  const auto folders = static_cast<std::uint32_t>(records_.count());
  // Pairs, not a map of lists: a few bytes per record, not dozens.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> childrenOf;
  for (std::uint32_t i = 0; i < folders; ++i) {
    const MftEntry& e = records_.at(i);
    if (e.has(MftEntry::kFileRecord) && e.has(MftEntry::kHasName) && e.parent != kNone) childrenOf.emplace_back(e.parent, i);
  }
  std::sort(childrenOf.begin(), childrenOf.end());
  for (std::uint32_t i = 0; i < folders; ++i) {
    const MftEntry& e = records_.at(i);
    if (!e.has(MftEntry::kFileRecord) || !e.has(MftEntry::kHasName) || !e.inUse() || !e.isFolder()) continue;
    if (!job.checkpoint()) return;
    addSlackNamesOf(i, now, childrenOf);
  }
}

void NtfsParser::addSlackNamesOf(std::uint32_t folder, std::int64_t nowSeconds,
                                 const std::vector<std::pair<std::uint32_t, std::uint32_t>>& childrenOf) {
  const RecordAttributes attributes = entryAttributes(folder);
  const Bytes rootValue = attributes.residentValue(kIndexRoot, kFolderIndexName);
  if (rootValue.empty()) return;

  const SlackRules rules = slackRulesFor(folder, nowSeconds);
  std::vector<IndexName> found;
  // Copies of names of files still in use: a copy of them whose reference
  // is lost, and their DOS aliases, are no deletions either. A busy folder
  // holds thousands, so only a hash of name and creation time is kept.
  std::vector<std::uint64_t> inUseKeys;
  std::vector<std::uint64_t> inUseLongCreated;
  const auto takeNode = [&](const IndexNodeParts& parts) {
    for (IndexName& n : slackIndexNames(parts.slack, rules)) {
      // Most slack of a busy folder is stale copies of its live entries
      // (left by node splits): a name whose record is in use with the same
      // sequence number is the live file's, renamed or not, never a deletion.
      const std::uint64_t number = referenceRecord(n.fileReference);
      if (n.fileReference != 0 && number < records_.count()) {
        const MftEntry& r = records_.at(static_cast<std::uint32_t>(number));
        if (r.has(MftEntry::kFileRecord) && r.inUse() && r.sequence == referenceSequence(n.fileReference)) {
          inUseKeys.push_back(nameAndTimeKey(n));
          if (isLongName(n)) inUseLongCreated.push_back(n.created);
          continue;
        }
      }
      found.push_back(std::move(n));
    }
  };
  if (const auto parts = indexRootParts(rootValue)) takeNode(*parts);

  const std::uint32_t blockSize = indexBlockSize(rootValue);
  const std::vector<DataRun> runs = attributes.runs(kIndexAllocation, kFolderIndexName);
  if (blockSize != 0 && !runs.empty()) {
    // The bitmap says which blocks are in use; without one every block is.
    std::vector<std::uint8_t> bitmap;
    bool haveBitmap = false;
    NtfsVolume v = volume();
    if (const AttributeHeader* b = attributes.find(kBitmap, kFolderIndexName).attribute) {
      if (!b->nonResident) {
        const Bytes value = attributes.residentValue(kBitmap, kFolderIndexName);
        bitmap.assign(value.begin(), value.end());
        haveBitmap = true;
      } else if (b->realSize <= kMaxBitmapBytes) {
        const std::vector<DataRun> bitmapRuns = attributes.runs(kBitmap, kFolderIndexName);
        NtfsVolume whole = v;
        whole.recordSize = static_cast<std::uint32_t>(b->realSize);
        bitmap.resize(static_cast<std::size_t>(b->realSize));
        haveBitmap = whole.recordSize != 0 && readMftRecord(whole, bitmapRuns, 0, bitmap);
      }
    }
    std::uint64_t mapped = 0;
    if (!vcnToBytes(runs.back().endVcn(), v.clusterSize, mapped)) mapped = 0;
    const std::uint64_t blocks = std::min(mapped, v.limitBytes()) / blockSize;
    // Index blocks are read as numbered pieces of the allocation, as MFT
    // records are of the MFT.
    NtfsVolume blockReader = v;
    blockReader.recordSize = blockSize;
    std::vector<std::uint8_t> block(blockSize);
    for (std::uint64_t k = 0; k < blocks; ++k) {
      if (!readMftRecord(blockReader, runs, k, block)) continue;
      const bool inUse = !haveBitmap || (k / 8 < bitmap.size() && ((bitmap[k / 8] >> (k % 8)) & 1) != 0);
      const std::uint32_t usable = applyFixups(block);
      // A block in use must read whole; a free one keeps whatever it held.
      if (inUse && usable != blockSize) continue;
      if (const auto parts = indexBlockParts(Bytes(block.data(), block.size()), inUse)) takeNode(*parts);
    }
  }

  if (found.empty()) return;

  // A header left in front of a key may be another entry's: when it names a
  // freed record of this folder that holds another name, the key is taken
  // as one whose reference is lost.
  // A reference beyond the MFT or without a sequence number is no file's.
  for (IndexName& n : found) {
    const std::uint64_t number = referenceRecord(n.fileReference);
    if (number >= records_.count() || referenceSequence(n.fileReference) == 0) n.fileReference = 0;
    if (n.fileReference == 0) continue;
    const MftEntry& r = records_.at(static_cast<std::uint32_t>(number));
    const std::string_view held = records_.name(static_cast<std::uint32_t>(number));
    if (r.has(MftEntry::kFileRecord) && !r.inUse() && r.parent == folder && !held.empty() && held != n.name &&
        (r.sequence == referenceSequence(n.fileReference) ||
         r.sequence == nextSequence(referenceSequence(n.fileReference))))
      n.fileReference = 0;
  }
  // Names whose reference survived first, and long names before DOS
  // aliases, so that copies and aliases find what they stand beside.
  std::stable_sort(found.begin(), found.end(), [](const IndexName& a, const IndexName& b) {
    return std::make_tuple(a.fileReference == 0, !isLongName(a)) < std::make_tuple(b.fileReference == 0, !isLongName(b));
  });
  // Live index entries need no decoding: a slack copy of one names a record
  // in use, which the rename rule below passes over, and a copy whose
  // reference is lost is told by the names the folder's records hold.
  std::set<std::pair<std::string, std::uint64_t>> byReference;  // slack (name, reference)
  std::set<std::pair<std::string, std::uint64_t>> byCreation;   // slack (name, created) with a reference
  std::set<std::uint64_t> longNamed;
  std::set<std::uint64_t> longCreated(inUseLongCreated.begin(), inUseLongCreated.end());
  std::sort(inUseKeys.begin(), inUseKeys.end());
  // The names the folder's own records hold, live or freed.
  std::set<std::string_view> recordNames;
  const auto first = std::lower_bound(childrenOf.begin(), childrenOf.end(), std::make_pair(folder, std::uint32_t{0}));
  for (auto it = first; it != childrenOf.end() && it->first == folder; ++it) recordNames.insert(records_.name(it->second));

  for (const IndexName& n : found) {
    if (n.fileReference != 0) {
      if (!byReference.emplace(n.name, n.fileReference).second) continue;
      byCreation.emplace(n.name, n.created);
    } else {
      // Without its reference a name is only told from a copy of a name the
      // folder holds by its name: a deleted namesake of a live file is lost.
      if (recordNames.count(n.name) || std::binary_search(inUseKeys.begin(), inUseKeys.end(), nameAndTimeKey(n)) ||
          !byCreation.emplace(n.name, n.created).second)
        continue;
    }
    if (!isLongName(n)) {
      if (n.fileReference != 0 ? longNamed.count(n.fileReference) != 0 : longCreated.count(n.created) != 0) continue;
    } else {
      if (n.fileReference != 0) longNamed.insert(n.fileReference);
      longCreated.insert(n.created);
    }
    // A freed record that still holds this name here is listed already,
    // with its content, by the record's own entry.
    const std::uint64_t number = referenceRecord(n.fileReference);
    const std::uint16_t sequence = referenceSequence(n.fileReference);
    if (n.fileReference != 0 && number < records_.count()) {
      const MftEntry& r = records_.at(static_cast<std::uint32_t>(number));
      const bool sameFile = r.sequence == sequence || (!r.inUse() && r.sequence == nextSequence(sequence));
      if (r.has(MftEntry::kFileRecord) && sameFile && r.parent == folder &&
          records_.name(static_cast<std::uint32_t>(number)) == n.name)
        continue;
      // The file is still there under another name: a rename, not a deletion.
      if (r.has(MftEntry::kFileRecord) && r.inUse() && r.sequence == sequence) continue;
    }
    if (catalogue_.count() >= kMaxCatalogueEntries) return;
    // Only the name is left: its record is another file's now, or unknown,
    // so the entry never takes content.
    std::uint16_t flags = Catalogue::kDeleted | Catalogue::kNeverSaved;
    if (n.isFolder()) flags |= Catalogue::kFolder;
    const EntryId id = catalogue_.add(n.name, flags);
    catalogue_.setParent(id, folder);
    catalogue_.setSize(id, n.isFolder() ? 0 : n.realSize);
    catalogue_.setTimes(id, {fromWindowsFileTime(n.created), fromWindowsFileTime(n.accessed),
                             fromWindowsFileTime(n.modified)});
  }
}

}  // namespace quorvel
