#include "fs/ext/ExtCatalogue.h"

#include <algorithm>

#include "fs/Utf8.h"
#include "fs/ext/ExtInode.h"

namespace quorvel::extfmt {

namespace {
constexpr std::size_t kMaxNamePool = 0xFFFF0000u;

std::string unnamedInodeName(std::uint32_t number) { return "inode_" + std::to_string(number); }
}  // namespace

std::string displayName(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size();) {
    char32_t cp = 0;
    const std::size_t length = decodeUtf8(raw, i, cp);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(raw.substr(i, length));
      i += length;
    }
  }
  return out;
}

void ExtCatalogue::clear() {
  inodes_.clear();
  inodes_.shrink_to_fit();
  entries_.clear();
  entries_.shrink_to_fit();
  names_.clear();
  names_.shrink_to_fit();
  root_ = orphans_ = kNone;
}

void ExtCatalogue::expect(std::size_t inodes) {
  try {
    // Removed inodes that keep a mode come on top of those in use.
    inodes_.reserve(inodes + inodes / 16 + 16);
    entries_.reserve(inodes + inodes / 16 + 16);
    names_.reserve(16 * inodes);
  } catch (const std::exception&) {
    // The lists grow as they are filled instead.
  }
}

InodeInfo* ExtCatalogue::findInode(std::uint32_t number) {
  const auto it = std::lower_bound(inodes_.begin(), inodes_.end(), number,
                                   [](const InodeInfo& i, std::uint32_t n) { return i.number < n; });
  return it != inodes_.end() && it->number == number ? &*it : nullptr;
}

const InodeInfo* ExtCatalogue::findInode(std::uint32_t number) const {
  return const_cast<ExtCatalogue*>(this)->findInode(number);
}

std::uint32_t ExtCatalogue::addEntry(std::uint32_t inode, std::string_view shown, std::uint16_t mode, std::uint8_t bits) {
  if (entries_.size() >= kNone - 1) return kNone;
  ExtEntry e;
  e.inode = inode;
  e.mode = mode;
  e.bits = bits;
  const std::size_t length = std::min<std::size_t>(shown.size(), 0xFFFF);
  if (names_.size() + length <= kMaxNamePool) {
    e.nameOffset = static_cast<std::uint32_t>(names_.size());
    e.nameLength = static_cast<std::uint16_t>(length);
    names_.append(shown.substr(0, length));
  }
  entries_.push_back(e);
  return static_cast<std::uint32_t>(entries_.size() - 1);
}

void ExtCatalogue::addName(std::uint32_t directory, std::uint32_t inode, std::string_view rawName, std::uint16_t typeHint,
                           bool removed) {
  const std::uint32_t id = addEntry(inode, displayName(rawName), typeHint, removed ? ExtEntry::kRemovedName : 0);
  if (id != kNone) entries_[id].parent = directory;
}

void ExtCatalogue::setName(EntryId id, std::string_view text) {
  if (!valid(id) || names_.size() + text.size() > kMaxNamePool) return;
  entries_[id].nameOffset = static_cast<std::uint32_t>(names_.size());
  entries_[id].nameLength = static_cast<std::uint16_t>(std::min<std::size_t>(text.size(), 0xFFFF));
  names_.append(text.substr(0, entries_[id].nameLength));
}

bool ExtCatalogue::isDeleted(EntryId id) const {
  const ExtEntry& e = entries_[id];
  if (e.has(ExtEntry::kSynthetic)) return false;
  if (e.has(ExtEntry::kRemovedName) || e.has(ExtEntry::kReallocated)) return true;
  return e.inode >= inodes_.size() || !inodes_[e.inode].has(InodeInfo::kAllocated);
}

const InodeInfo* ExtCatalogue::inodeOf(EntryId id) const {
  if (!valid(id)) return nullptr;
  const ExtEntry& e = entries_[id];
  if (e.has(ExtEntry::kReallocated) || e.has(ExtEntry::kSynthetic) || e.inode >= inodes_.size()) return nullptr;
  return &inodes_[e.inode];
}

void ExtCatalogue::resolveInodes() {
  // Rows ask for sizes and times of every entry: a position, not a search.
  for (ExtEntry& e : entries_) {
    const InodeInfo* i = findInode(e.inode);
    e.inode = i ? static_cast<std::uint32_t>(i - inodes_.data()) : kNone;
  }
}

void ExtCatalogue::claimFolders(bool removedNames) {
  for (std::uint32_t id = 0; id < root_; ++id) {
    ExtEntry& e = entries_[id];
    if (!e.has(ExtEntry::kFolder) || e.has(ExtEntry::kReallocated) || e.has(ExtEntry::kRemovedName) != removedNames)
      continue;
    InodeInfo* i = findInode(e.inode);
    if (i && (i->mode & kTypeMask) == kTypeDirectory && i->folderEntry == kNone) i->folderEntry = id;
  }
}

void ExtCatalogue::resolveParents() {
  for (std::uint32_t id = 0; id < root_; ++id) {
    InodeInfo* directory = findInode(entries_[id].parent);
    if (!directory) {
      entries_[id].parent = orphans_;
      continue;
    }
    if (directory->folderEntry == kNone) {
      // A folder that no name reaches: it goes under the orphan folder.
      const std::uint32_t made = addEntry(directory->number, unnamedInodeName(directory->number), directory->mode, ExtEntry::kFolder);
      if (made == kNone) {
        entries_[id].parent = orphans_;
        continue;
      }
      entries_[made].parent = orphans_;
      directory->folderEntry = made;
      directory->bits |= InodeInfo::kNamed;
    }
    entries_[id].parent = directory->folderEntry;
  }
}

void ExtCatalogue::addOrphans(std::uint32_t rootInode, std::uint32_t firstInode) {
  for (InodeInfo& i : inodes_) {
    if (i.has(InodeInfo::kNamed) || i.folderEntry != kNone || i.number == rootInode || i.number < firstInode) continue;
    if (!isKnownType(i.mode) || !(i.has(InodeInfo::kAllocated) || i.has(InodeInfo::kHasMap))) continue;
    const bool folder = (i.mode & kTypeMask) == kTypeDirectory;
    const std::uint32_t id = addEntry(i.number, unnamedInodeName(i.number), i.mode, folder ? ExtEntry::kFolder : 0);
    if (id == kNone) return;
    entries_[id].parent = orphans_;
    if (folder) i.folderEntry = id;
  }
}

void ExtCatalogue::cutCycles() {
  // 0 unseen, 1 on the path being walked, 2 known to end at the top.
  std::vector<std::uint8_t> state(entries_.size(), 0);
  std::vector<std::uint32_t> path;
  for (std::uint32_t s = 0; s < entries_.size(); ++s) {
    path.clear();
    std::uint32_t v = s;
    while (v != kNone && state[v] == 0) {
      state[v] = 1;
      path.push_back(v);
      v = entries_[v].parent;
    }
    if (v != kNone && state[v] == 1) entries_[v].parent = orphans_;  // v lies on a cycle: it heads the rest
    for (const std::uint32_t p : path) state[p] = 2;
  }
}

void ExtCatalogue::linkChains() {
  for (std::uint32_t id = static_cast<std::uint32_t>(entries_.size()); id-- > 0;) {
    ExtEntry& e = entries_[id];
    if (e.parent == kNone) continue;
    e.nextSibling = entries_[e.parent].firstChild;
    entries_[e.parent].firstChild = id;
  }
}

void ExtCatalogue::build(std::uint32_t rootInode, std::uint32_t firstInode) {
  const std::uint32_t names = static_cast<std::uint32_t>(entries_.size());
  root_ = addEntry(rootInode, kRootName, kTypeDirectory, ExtEntry::kFolder | ExtEntry::kSynthetic);
  orphans_ = addEntry(0, kOrphanFolderName, kTypeDirectory, ExtEntry::kFolder | ExtEntry::kSynthetic);
  if (root_ == kNone || orphans_ == kNone) {
    entries_.resize(names);
    root_ = orphans_ = kNone;
    resolveInodes();
    return;
  }
  if (InodeInfo* root = findInode(rootInode)) {
    root->folderEntry = root_;
    root->bits |= InodeInfo::kNamed;
  }
  for (std::uint32_t id = 0; id < names; ++id) {
    ExtEntry& e = entries_[id];
    InodeInfo* i = findInode(e.inode);
    if (i) {
      i->bits |= InodeInfo::kNamed;
      // A removed name whose inode is in use again names another file now
      // (or a file renamed since): its content is not this name's.
      if (e.has(ExtEntry::kRemovedName) && i->has(InodeInfo::kAllocated))
        e.bits |= ExtEntry::kReallocated;
      else if (isKnownType(i->mode))
        e.mode = i->mode;
    }
    if ((e.mode & kTypeMask) == kTypeDirectory) e.bits |= ExtEntry::kFolder;
  }
  claimFolders(false);
  claimFolders(true);
  resolveParents();
  addOrphans(rootInode, firstInode);
  entries_[root_].parent = kNone;
  entries_[orphans_].parent = kNone;
  cutCycles();
  linkChains();
  resolveInodes();
}

std::vector<EntryId> ExtCatalogue::children(EntryId folder) const {
  std::vector<EntryId> out;
  if (!valid(folder)) return out;
  for (std::uint32_t c = entries_[folder].firstChild; c < entries_.size() && out.size() < entries_.size();
       c = entries_[c].nextSibling)
    out.push_back(c);
  return out;
}

std::vector<EntryId> ExtCatalogue::topEntries() const {
  if (root_ == kNone) return {};
  std::vector<EntryId> out = children(root_);
  out.push_back(orphans_);
  return out;
}

}  // namespace quorvel::extfmt
