#include "fs/ntfs/MftCatalogue.h"

#include <algorithm>
#include <cstring>

#include "fs/Utf16.h"
#include "fs/ntfs/DataStream.h"

namespace quorvel::ntfsfmt {

namespace {

constexpr std::uint64_t kNegativeParentBit = 1ull << 47;
constexpr std::uint32_t kRootRecord = 5;

// Sequence numbers skip 0 when they wrap.
std::uint16_t nextSequence(std::uint16_t s) { return s == 0xFFFF ? 1 : static_cast<std::uint16_t>(s + 1); }

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string_view cutUtf8(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

std::uint32_t NamePool::add(std::string_view text, std::uint16_t& storedLength) {
  text = cutUtf8(text, std::min<std::size_t>(kBlockSize, 0xFFFF));
  storedLength = static_cast<std::uint16_t>(text.size());
  if (text.empty()) return 0;
  if (blocks_.empty() || kBlockSize - used_ < text.size()) {
    blocks_.push_back(std::make_unique<char[]>(kBlockSize));
    used_ = 0;
  }
  const auto block = static_cast<std::uint32_t>(blocks_.size() - 1);
  std::memcpy(blocks_.back().get() + used_, text.data(), text.size());
  const std::uint32_t handle = block * kBlockSize + used_;
  used_ += static_cast<std::uint32_t>(text.size());
  return handle;
}

std::string_view NamePool::get(std::uint32_t handle, std::uint16_t length) const {
  if (length == 0) return {};
  const std::uint32_t block = handle / kBlockSize;
  const std::uint32_t offset = handle % kBlockSize;
  if (block >= blocks_.size() || offset + length > kBlockSize) return {};
  return {blocks_[block].get() + offset, length};
}

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

void MftCatalogue::clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  names_.clear();
  orphanIndex_ = kNone;
  rootIndex_ = kNone;
  deep_ = false;
}

void MftCatalogue::setName(std::uint32_t i, std::string_view text) {
  MftEntry& e = entries_[i];
  e.nameHandle = names_.add(text, e.nameLength);
  if (e.nameLength > 0)
    e.bits |= MftEntry::kHasName;
  else
    e.bits &= static_cast<std::uint8_t>(~MftEntry::kHasName);
}

void MftCatalogue::parseRecord(const RecordImage& image, std::uint32_t index, std::uint64_t clusterSize,
                               std::vector<AttributeHeader>& scratch) {
  MftEntry& e = entries_[index];
  e = MftEntry{};
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
        e.created = si.created;
        e.modified = si.modified;
        e.accessed = si.accessed;
        timesTaken = true;
      }
    } else if (a.type == kAttributeList) {
      e.bits |= MftEntry::kHasAttributeList;
    }
  }
  takeFileNames(index, image, scratch);
  // With an attribute list the size is only sure once every extent is seen.
  if (e.isFolder())
    e.size = 0;
  else if (e.has(MftEntry::kHasAttributeList))
    e.bits |= MftEntry::kNeedsExtents;
  else
    e.size = unnamedDataSize(image, scratch, clusterSize).value_or(0);
}

void MftCatalogue::takeFileNames(std::uint32_t index, const RecordImage& image,
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

void MftCatalogue::adoptFileNames(std::uint32_t index, const RecordImage& extension,
                                  std::vector<AttributeHeader>& scratch) {
  if (entries_[index].has(MftEntry::kLongName)) return;
  collectAttributeHeaders(extension, scratch);
  takeFileNames(index, extension, scratch);
  if (entries_[index].isFolder()) entries_[index].size = 0;
}

bool MftCatalogue::linkable(std::uint32_t i) const {
  const MftEntry& e = entries_[i];
  return i != orphanIndex_ && e.has(MftEntry::kFileRecord) && e.has(MftEntry::kHasName) && !e.has(MftEntry::kMftItself);
}

std::uint32_t MftCatalogue::findRoot() const {
  const auto isRoot = [this](std::uint32_t i) { return linkable(i) && entries_[i].isFolder() && name(i) == "."; };
  if (!deep_ && kRootRecord < orphanIndex_ && isRoot(kRootRecord)) return kRootRecord;
  for (std::uint32_t i = 0; i < orphanIndex_; ++i)
    if (isRoot(i)) return i;
  return kNone;
}

bool MftCatalogue::parentAcceptable(std::uint32_t i) const {
  const MftEntry& e = entries_[i];
  const std::uint32_t p = e.parent;
  if (e.has(MftEntry::kParentLost) || p == kNone || p >= orphanIndex_ || p == i) return false;
  const MftEntry& parent = entries_[p];
  if (!linkable(p) || !parent.isFolder()) return false;
  // A folder record reused since the child was written is not its parent; a
  // freed one has its sequence number bumped once.
  return e.parentSequence == 0 || e.parentSequence == parent.sequence ||
         (!parent.inUse() && parent.sequence == nextSequence(e.parentSequence));
}

void MftCatalogue::makeOrphan(std::uint32_t i) {
  entries_[i].parent = kNone;
  entries_[i].bits |= MftEntry::kOrphan;
}

void MftCatalogue::cutCycles() {
  // 0 unseen, 1 on the path being walked, 2 known to end at a root or orphan.
  std::vector<std::uint8_t> state(entries_.size(), 0);
  for (std::uint32_t s = 0; s < entries_.size(); ++s) {
    if (state[s] != 0) continue;
    std::uint32_t v = s;
    while (v != kNone && state[v] == 0) {
      state[v] = 1;
      v = entries_[v].parent;
    }
    std::uint32_t cut = kNone;
    if (v != kNone && state[v] == 1) {
      // v lies on a cycle: free its lowest entry, which then heads the rest.
      cut = v;
      for (std::uint32_t w = entries_[v].parent; w != v; w = entries_[w].parent) cut = std::min(cut, w);
    }
    for (std::uint32_t w = s; w != kNone && state[w] == 1; w = entries_[w].parent) state[w] = 2;
    if (cut != kNone) makeOrphan(cut);
  }
}

void MftCatalogue::linkToParent(std::uint32_t i) {
  // Called from the last entry to the first, so chains read in record order.
  MftEntry& e = entries_[i];
  MftEntry& parent = entries_[e.parent];
  e.nextSibling = parent.firstChild;
  parent.firstChild = i;
}

void MftCatalogue::relinkOrphans() {
  MftEntry& folder = entries_[orphanIndex_];
  for (std::uint32_t i = 0; i < orphanIndex_; ++i) {
    MftEntry& e = entries_[i];
    if (!e.has(MftEntry::kOrphan) || !linkable(i)) continue;
    e.parent = orphanIndex_;
    e.nextSibling = folder.firstChild;
    folder.firstChild = i;
  }
}

void MftCatalogue::relinkDeep() {
  for (MftEntry& e : entries_) e.parent = e.firstChild = e.nextSibling = kNone;
  // Records found on disk carry parents from whichever MFT they came from:
  // folders go under the orphan folder, files into the folder found last
  // before them (or the orphan folder, where files before any folder stay).
  std::uint32_t prev = orphanIndex_;
  std::uint32_t laterFolders = 0;
  bool firstFolder = true;
  const auto putUnder = [this](std::uint32_t i, std::uint32_t folder) {
    entries_[i].parent = folder;
    entries_[i].nextSibling = entries_[folder].firstChild;
    entries_[folder].firstChild = i;
  };
  for (std::uint32_t i = 0; i < orphanIndex_; ++i) {
    if (!linkable(i) || i == rootIndex_) continue;
    if (entries_[i].isFolder() && (firstFolder || laterFolders < kDeepFolderLimit)) {
      if (!firstFolder) ++laterFolders;
      firstFolder = false;
      putUnder(i, orphanIndex_);
      prev = i;
      continue;
    }
    putUnder(i, prev);
  }
}

void MftCatalogue::build(bool deep) {
  deep_ = deep;
  MftEntry orphan;
  orphan.kind = 'D';
  orphan.recordFlags = kRecordInUse;
  orphan.bits = MftEntry::kFileRecord;
  entries_.push_back(orphan);
  orphanIndex_ = static_cast<std::uint32_t>(entries_.size() - 1);
  setName(orphanIndex_, kOrphanFolderName);
  rootIndex_ = findRoot();

  if (deep) {
    relinkDeep();
    return;
  }
  for (std::uint32_t i = 0; i < orphanIndex_; ++i) {
    if (!linkable(i) || i == rootIndex_) {
      entries_[i].parent = kNone;
      continue;
    }
    if (!parentAcceptable(i)) makeOrphan(i);
  }
  cutCycles();
  for (std::uint32_t i = orphanIndex_; i-- > 0;)
    if (entries_[i].parent != kNone) linkToParent(i);
  relinkOrphans();

  if (rootIndex_ == kNone) return;
  // The orphan folder is the root's last child.
  MftEntry& folder = entries_[orphanIndex_];
  folder.parent = rootIndex_;
  std::uint32_t* link = &entries_[rootIndex_].firstChild;
  for (std::size_t steps = 0; *link != kNone && steps < entries_.size(); ++steps) link = &entries_[*link].nextSibling;
  *link = orphanIndex_;
}

std::vector<EntryId> MftCatalogue::children(EntryId folder) const {
  std::vector<EntryId> out;
  if (folder >= entries_.size()) return out;
  // Chains are built without loops; the bound still guards any walk.
  for (std::uint32_t c = entries_[folder].firstChild; c < entries_.size() && out.size() < entries_.size();
       c = entries_[c].nextSibling)
    out.push_back(c);
  return out;
}

std::vector<EntryId> MftCatalogue::topEntries() const {
  if (orphanIndex_ == kNone) return {};
  if (deep_ || rootIndex_ == kNone) return {orphanIndex_};
  std::vector<EntryId> out = children(rootIndex_);
  if (std::find(out.begin(), out.end(), orphanIndex_) == out.end()) out.push_back(orphanIndex_);
  return out;
}

}  // namespace quorvel::ntfsfmt
