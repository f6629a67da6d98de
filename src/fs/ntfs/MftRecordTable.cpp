#include "fs/ntfs/MftRecordTable.h"

#include <algorithm>
#include <cstring>

#include "fs/Utf16.h"
#include "fs/TextFormats.h"
#include "fs/ntfs/DataStream.h"

namespace quorvel::ntfsfmt {

namespace {

constexpr std::uint64_t kNegativeParentBit = 1ull << 47;
constexpr std::uint32_t kRootRecord = 5;

// Sequence numbers skip 0 when they wrap.
std::uint16_t nextSequence(std::uint16_t s) { return s == 0xFFFF ? 1 : static_cast<std::uint16_t>(s + 1); }

}  // namespace

ChosenName chooseFileName(const RecordImage& image, const std::vector<AttributeHeader>& attributes) {
  ChosenName best;
  int bestRank = 0;
  for (const AttributeHeader& a : attributes) {
    if (a.type != kFileName || a.nonResident) continue;
    const FileNameValue fn = parseFileName(residentValue(image, a));
    if (!fn.valid || fn.nameLength == 0) continue;
    const int rank = fn.nameSpace == kNameSpaceDos ? 1 : 2;
    if (rank >= bestRank) {
      bestRank = rank;
      best.attribute = &a;
      best.value = fn;
    }
  }
  return best;
}

std::string fileNameText(const RecordImage& image, const ChosenName& chosen) {
  if (!chosen.attribute) return {};
  const Bytes value = residentValue(image, *chosen.attribute);
  return utf16leToUtf8(value.subspan(chosen.value.nameOffset, 2u * chosen.value.nameLength), chosen.value.nameLength);
}

void MftRecordTable::clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  catalogue_.clear();
  rootIndex_ = kNone;
  deep_ = false;
}

void MftRecordTable::reserve(std::size_t count) {
  entries_.reserve(count);
  catalogue_.reserve(count);
}

void MftRecordTable::resize(std::size_t count) {
  entries_.resize(count);
  catalogue_.resize(count);
}

void MftRecordTable::truncate(std::size_t count) {
  if (count < entries_.size()) entries_.resize(count);
  catalogue_.truncate(count);
}

void MftRecordTable::setName(std::uint32_t i, std::string_view text) {
  MftEntry& e = entries_[i];
  catalogue_.setName(i, text);
  if (!catalogue_.name(i).empty())
    e.bits |= MftEntry::kHasName;
  else
    e.bits &= static_cast<std::uint8_t>(~MftEntry::kHasName);
}

void MftRecordTable::parseRecord(const RecordImage& image, std::uint32_t index, std::uint64_t clusterSize,
                               std::vector<AttributeHeader>& scratch) {
  MftEntry& e = entries_[index];
  e = MftEntry{};
  catalogue_.resetEntry(index);
  e.bits = MftEntry::kFileRecord;
  e.recordFlags = image.header.flags;
  e.sequence = image.header.sequence;
  // Extension records only carry attributes of their base record.
  if (image.header.isExtension()) return;

  collectAttributeHeaders(image, scratch);
  bool timesTaken = false;
  for (const AttributeHeader& a : scratch) {
    if (a.type == kStandardInformation && !a.nonResident && !timesTaken) {
      const StandardInformation si = parseStandardInformation(residentValue(image, a));
      if (si.valid) {
        catalogue_.setTimes(index, {fromWindowsFileTime(si.created), fromWindowsFileTime(si.accessed),
                                    fromWindowsFileTime(si.modified)});
        timesTaken = true;
      }
    } else if (a.type == kAttributeList) {
      e.bits |= MftEntry::kHasAttributeList;
    }
  }
  takeFileNames(index, image, scratch);
  // With an attribute list the size is only sure once every extent is seen.
  if (e.isFolder())
    catalogue_.setSize(index, 0);
  else if (e.has(MftEntry::kHasAttributeList))
    e.bits |= MftEntry::kNeedsExtents;
  else
    catalogue_.setSize(index, unnamedDataSize(image, scratch, clusterSize).value_or(0));
}

void MftRecordTable::takeFileNames(std::uint32_t index, const RecordImage& image,
                                 const std::vector<AttributeHeader>& attributes) {
  MftEntry& e = entries_[index];
  for (const AttributeHeader& a : attributes) {
    if (a.type != kFileName || a.nonResident) continue;
    const FileNameValue fn = parseFileName(residentValue(image, a));
    if (!fn.valid) continue;
    if (fn.isFolder()) e.kind = 'D';
    e.fileAttributes = static_cast<std::uint16_t>(fn.fileAttributes);
  }
  const ChosenName chosen = chooseFileName(image, attributes);
  const std::string text = fileNameText(image, chosen);
  if (text.empty()) return;
  const bool longName = chosen.value.nameSpace != kNameSpaceDos;
  if (e.has(MftEntry::kHasName) && (e.has(MftEntry::kLongName) || !longName)) return;
  if (longName) e.bits |= MftEntry::kLongName;
  const std::uint64_t parent = referenceRecord(chosen.value.parentReference);
  e.bits &= static_cast<std::uint8_t>(~MftEntry::kParentLost);
  e.parent = kNone;
  if ((parent & kNegativeParentBit) != 0 || parent >= kNone)
    e.bits |= MftEntry::kParentLost;
  else
    e.parent = static_cast<std::uint32_t>(parent);
  e.parentSequence = referenceSequence(chosen.value.parentReference);
  setName(index, text);
}

void MftRecordTable::adoptFileNames(std::uint32_t index, const RecordImage& extension,
                                  std::vector<AttributeHeader>& scratch) {
  if (entries_[index].has(MftEntry::kLongName)) return;
  collectAttributeHeaders(extension, scratch);
  takeFileNames(index, extension, scratch);
  if (entries_[index].isFolder()) catalogue_.setSize(index, 0);
}

bool MftRecordTable::adoptJournalName(std::uint32_t index, std::string_view text, std::uint64_t parentRecord,
                                      std::uint16_t parentSequence, bool folder) {
  MftEntry& e = entries_[index];
  if (text.empty() || !e.has(MftEntry::kFileRecord) || parentRecord >= kNone) return false;
  const bool named = e.has(MftEntry::kHasName);
  // A named record keeps its own name; it only moves when its folder is
  // lost and the journal's is sound.
  if (named && parentAcceptable(index)) return false;
  const MftEntry kept = e;
  e.parent = static_cast<std::uint32_t>(parentRecord);
  e.parentSequence = parentSequence;
  e.bits &= static_cast<std::uint8_t>(~MftEntry::kParentLost);
  if (named) {
    if (parentAcceptable(index)) return true;
    e = kept;
    return false;
  }
  if (folder) e.kind = 'D';
  e.bits |= MftEntry::kLongName;
  setName(index, text);
  if (e.isFolder()) catalogue_.setSize(index, 0);
  return true;
}

bool MftRecordTable::linkable(std::uint32_t i) const {
  const MftEntry& e = entries_[i];
  return e.has(MftEntry::kFileRecord) && e.has(MftEntry::kHasName) && !e.has(MftEntry::kMftItself);
}

std::uint32_t MftRecordTable::findRoot() const {
  const auto isRoot = [this](std::uint32_t i) { return linkable(i) && entries_[i].isFolder() && name(i) == "."; };
  if (!deep_ && kRootRecord < entries_.size() && isRoot(kRootRecord)) return kRootRecord;
  for (std::uint32_t i = 0; i < entries_.size(); ++i)
    if (isRoot(i)) return i;
  return kNone;
}

bool MftRecordTable::parentAcceptable(std::uint32_t i) const {
  const MftEntry& e = entries_[i];
  const std::uint32_t p = e.parent;
  if (e.has(MftEntry::kParentLost) || p == kNone || p >= entries_.size() || p == i) return false;
  const MftEntry& parent = entries_[p];
  if (!linkable(p) || !parent.isFolder()) return false;
  // A folder record reused since the child was written is not its parent; a
  // freed one has its sequence number bumped once.
  return e.parentSequence == 0 || e.parentSequence == parent.sequence ||
         (!parent.inUse() && parent.sequence == nextSequence(e.parentSequence));
}

void MftRecordTable::linkDeep(EntryId orphans) {
  // Records found on disk carry parents from whichever MFT they came from:
  // folders go under the orphan folder, files into the folder found last
  // before them (or the orphan folder, where files before any folder stay).
  EntryId prev = orphans;
  std::uint32_t laterFolders = 0;
  bool firstFolder = true;
  for (std::uint32_t i = 0; i < entries_.size(); ++i) {
    if (!linkable(i) || i == rootIndex_) continue;
    if (entries_[i].isFolder() && (firstFolder || laterFolders < kDeepFolderLimit)) {
      if (!firstFolder) ++laterFolders;
      firstFolder = false;
      catalogue_.setParent(i, orphans);
      prev = i;
      continue;
    }
    catalogue_.setParent(i, prev);
  }
}

void MftRecordTable::build(bool deep) {
  deep_ = deep;
  rootIndex_ = findRoot();
  for (std::uint32_t i = 0; i < entries_.size(); ++i) {
    const MftEntry& e = entries_[i];
    catalogue_.setFlag(i, Catalogue::kFolder, e.isFolder());
    catalogue_.setFlag(i, Catalogue::kDeleted, !e.inUse());
    // The bad-cluster file spans the whole volume and holds nothing.
    catalogue_.setFlag(i, Catalogue::kNeverSaved, catalogue_.name(i) == "$BadClus");
    catalogue_.setParent(i, kNoEntry);
  }
  const EntryId orphans = catalogue_.orphanFolder(kOrphanFolderName);
  if (deep) {
    linkDeep(orphans);
    catalogue_.build(kNoEntry, kOrphanFolderName);
    return;
  }
  for (std::uint32_t i = 0; i < entries_.size(); ++i) {
    if (!linkable(i) || i == rootIndex_) continue;
    catalogue_.setParent(i, parentAcceptable(i) ? entries_[i].parent : Catalogue::kUnderOrphans);
  }
  catalogue_.build(rootIndex_ == kNone ? kNoEntry : rootIndex_, kOrphanFolderName);
}

}  // namespace quorvel::ntfsfmt
