#include "fs/ext/ExtNameTable.h"

#include <algorithm>

#include "fs/Utf8.h"
#include "fs/ext/ExtInode.h"

namespace quorvel::extfmt {

namespace {

std::string unnamedInodeName(std::uint32_t number) { return "inode_" + std::to_string(number); }

std::optional<FileTime> timeOf(std::int64_t seconds, std::uint32_t ns) {
  if (seconds == 0 && ns == 0) return std::nullopt;
  return FileTime{seconds, ns};
}

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

void ExtNameTable::clear() {
  inodes_.clear();
  inodes_.shrink_to_fit();
  names_.clear();
  names_.shrink_to_fit();
  catalogue_.clear();
}

void ExtNameTable::expect(std::size_t inodes) {
  try {
    // Removed inodes that keep a mode come on top of those in use.
    inodes_.reserve(inodes + inodes / 16 + 16);
    names_.reserve(inodes + inodes / 16 + 16);
    catalogue_.reserve(inodes + inodes / 16 + 16);
  } catch (const std::exception&) {
    // The lists grow as they are filled instead.
  }
}

InodeInfo* ExtNameTable::findInode(std::uint32_t number) {
  const auto it = std::lower_bound(inodes_.begin(), inodes_.end(), number,
                                   [](const InodeInfo& i, std::uint32_t n) { return i.number < n; });
  return it != inodes_.end() && it->number == number ? &*it : nullptr;
}

const InodeInfo* ExtNameTable::findInode(std::uint32_t number) const {
  return const_cast<ExtNameTable*>(this)->findInode(number);
}

EntryId ExtNameTable::addEntry(std::uint32_t inode, std::string_view shown, std::uint16_t mode, std::uint8_t bits,
                               bool folder) {
  const EntryId id = catalogue_.add(shown, folder ? Catalogue::kFolder : 0);
  if (id == kNoEntry) return kNoEntry;
  names_.push_back({inode, mode, bits});
  return id;
}

void ExtNameTable::addName(std::uint32_t directory, std::uint32_t inode, std::string_view rawName,
                           std::uint16_t typeHint, bool removed) {
  const EntryId id = addEntry(inode, displayName(rawName), typeHint, removed ? ExtName::kRemovedName : 0, false);
  // Until the build, the parent is the directory's inode number.
  if (id != kNoEntry) catalogue_.setParent(id, directory);
}

bool ExtNameTable::isDeleted(EntryId id) const {
  const ExtName& e = names_[id];
  if (e.has(ExtName::kSynthetic)) return false;
  if (e.has(ExtName::kRemovedName) || e.has(ExtName::kReallocated)) return true;
  return e.inode >= inodes_.size() || !inodes_[e.inode].has(InodeInfo::kAllocated);
}

const InodeInfo* ExtNameTable::inodeOf(EntryId id) const {
  if (!valid(id)) return nullptr;
  const ExtName& e = names_[id];
  if (e.has(ExtName::kReallocated) || e.has(ExtName::kSynthetic) || e.inode >= inodes_.size()) return nullptr;
  return &inodes_[e.inode];
}

void ExtNameTable::resolveInodes() {
  // Rows ask for sizes and times of every entry: a position, not a search.
  for (ExtName& e : names_) {
    const InodeInfo* i = findInode(e.inode);
    e.inode = i ? static_cast<std::uint32_t>(i - inodes_.data()) : kNone;
  }
}

void ExtNameTable::claimFolders(EntryId names, bool removedNames) {
  for (EntryId id = 0; id < names; ++id) {
    const ExtName& e = names_[id];
    if (!isFolder(id) || e.has(ExtName::kReallocated) || e.has(ExtName::kRemovedName) != removedNames) continue;
    InodeInfo* i = findInode(e.inode);
    if (i && (i->mode & kTypeMask) == kTypeDirectory && i->folderEntry == kNone) i->folderEntry = id;
  }
}

void ExtNameTable::resolveParents(EntryId names, EntryId orphans) {
  for (EntryId id = 0; id < names; ++id) {
    InodeInfo* directory = findInode(catalogue_.parent(id));
    if (!directory) {
      catalogue_.setParent(id, orphans);
      continue;
    }
    if (directory->folderEntry == kNone) {
      // A folder that no name reaches: it goes under the orphan folder.
      const EntryId made =
          addEntry(directory->number, unnamedInodeName(directory->number), directory->mode, 0, true);
      if (made == kNoEntry) {
        catalogue_.setParent(id, orphans);
        continue;
      }
      catalogue_.setParent(made, orphans);
      directory->folderEntry = made;
      directory->bits |= InodeInfo::kNamed;
    }
    catalogue_.setParent(id, directory->folderEntry);
  }
}

void ExtNameTable::addOrphans(std::uint32_t rootInode, std::uint32_t firstInode, EntryId orphans) {
  for (InodeInfo& i : inodes_) {
    if (i.has(InodeInfo::kNamed) || i.folderEntry != kNone || i.number == rootInode || i.number < firstInode) continue;
    // A deleted inode whose content is gone is listed all the same: the
    // user sees that something was deleted.
    if (!isKnownType(i.mode)) continue;
    const bool folder = (i.mode & kTypeMask) == kTypeDirectory;
    const EntryId id = addEntry(i.number, unnamedInodeName(i.number), i.mode, 0, folder);
    if (id == kNoEntry) return;
    catalogue_.setParent(id, orphans);
    if (folder) i.folderEntry = id;
  }
}

void ExtNameTable::fillCatalogue() {
  for (EntryId id = 0; id < names_.size(); ++id) {
    catalogue_.setFlag(id, Catalogue::kDeleted, isDeleted(id));
    const InodeInfo* i = inodeOf(id);
    if (!i) continue;
    const std::uint16_t type = i->mode & kTypeMask;
    // A deleted file without a map has no bytes left to give.
    const bool gone = !i->has(InodeInfo::kAllocated) && !i->has(InodeInfo::kHasMap);
    if (!isFolder(id) && (type == kTypeRegular || type == kTypeSymlink)) catalogue_.setSize(id, gone ? 0 : i->size);
    // The creation column shows the inode's change time.
    catalogue_.setTimes(id, {timeOf(i->changed, i->changedNs), timeOf(i->accessed, i->accessedNs),
                             timeOf(i->modified, i->modifiedNs)});
  }
}

void ExtNameTable::build(std::uint32_t rootInode, std::uint32_t firstInode) {
  const auto names = static_cast<EntryId>(names_.size());
  const EntryId root = addEntry(rootInode, kRootName, kTypeDirectory, ExtName::kSynthetic, true);
  const EntryId orphans = root == kNoEntry ? kNoEntry : catalogue_.orphanFolder(kOrphanFolderName);
  if (orphans == kNoEntry) {
    // No ids left: the names stay as they are, with no tree.
    catalogue_.truncate(names);
    names_.resize(names);
    for (EntryId id = 0; id < names; ++id) catalogue_.setParent(id, kNoEntry);
    resolveInodes();
    fillCatalogue();
    catalogue_.build(kNoEntry, kOrphanFolderName);
    return;
  }
  names_.push_back({0, kTypeDirectory, ExtName::kSynthetic});
  if (InodeInfo* r = findInode(rootInode)) {
    r->folderEntry = root;
    r->bits |= InodeInfo::kNamed;
  }
  for (EntryId id = 0; id < names; ++id) {
    ExtName& e = names_[id];
    InodeInfo* i = findInode(e.inode);
    if (i) {
      i->bits |= InodeInfo::kNamed;
      // A removed name whose inode is in use again names another file now
      // (or a file renamed since): its content is not this name's.
      if (e.has(ExtName::kRemovedName) && i->has(InodeInfo::kAllocated))
        e.bits |= ExtName::kReallocated;
      else if (isKnownType(i->mode))
        e.mode = i->mode;
    }
    if ((e.mode & kTypeMask) == kTypeDirectory) catalogue_.setFlag(id, Catalogue::kFolder, true);
  }
  claimFolders(names, false);
  claimFolders(names, true);
  resolveParents(names, orphans);
  addOrphans(rootInode, firstInode, orphans);
  catalogue_.setParent(root, kNoEntry);
  resolveInodes();
  fillCatalogue();
  catalogue_.build(root, kOrphanFolderName);
}

}  // namespace quorvel::extfmt
