#pragma once
// What a scan found, for every kind of file system: one small entry per
// file or folder (parent, flags, size, times), names in one pool, and the
// folder tree as first-child / next-sibling chains. A parser fills it while
// it scans and calls build() once; browsing, saving, search and both front
// ends read it. Content is the parser's: it keeps a side table by entry id.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fs/EntryTypes.h"

namespace quorvel {

// Names in large blocks: one allocation per block, never per entry, and no
// copy of the whole pool while it grows.
class NamePool {
 public:
  // A handle for the stored text; names longer than a block are cut.
  std::uint32_t add(std::string_view text, std::uint16_t& storedLength);
  std::string_view get(std::uint32_t handle, std::uint16_t length) const;
  void clear();

 private:
  static constexpr std::uint32_t kBlockSize = 256 * 1024;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::uint32_t used_ = 0;  // bytes used in the last block
};

class Catalogue {
 public:
  enum Flag : std::uint16_t {
    kFolder = 0x01,
    kDeleted = 0x02,
    kNeverSaved = 0x04,  // holds nothing of the user's however large it claims to be
    kCreated = 0x10,     // which of the three times are known
    kAccessed = 0x20,
    kModified = 0x40,
  };

  // A parent that says "put me under the orphan folder".
  static constexpr EntryId kUnderOrphans = kNoEntry - 1;

  void clear();
  void reserve(std::size_t count);

  // ---- filling, during the scan
  // A new entry; its parent is set later (kNoEntry: not shown at all).
  EntryId add(std::string_view name, std::uint16_t flags);
  // Bare entries up to `count` (no name, no flags, not shown), so that ids
  // can follow the volume's own numbers.
  void resize(std::size_t count);
  // Drops the entries from `count` on (their names stay in the pool).
  void truncate(std::size_t count);
  // Makes an entry bare again.
  void resetEntry(EntryId id);
  std::size_t count() const { return entries_.size(); }
  bool valid(EntryId id) const { return id < entries_.size(); }

  void setParent(EntryId id, EntryId parent) { entries_[id].parent = parent; }
  EntryId parent(EntryId id) const { return entries_[id].parent; }
  void setName(EntryId id, std::string_view text);
  void setFlag(EntryId id, Flag flag, bool on);
  std::uint16_t flags(EntryId id) const { return entries_[id].flags; }
  void setSize(EntryId id, std::uint64_t size) { entries_[id].size = size; }
  void setTimes(EntryId id, const EntryTimes& times);
  // The orphan folder, made now if it is not there yet (a scan that puts
  // finds under it while it reads).
  EntryId orphanFolder(std::string_view name);

  // Links the tree, once, after the last entry: `root` (kNoEntry: none)
  // heads it. An entry whose parent is unusable (not a folder, not shown, out
  // of range, itself) goes under the orphan folder, and so does the lowest
  // entry of every parent cycle. Children list in entry order; the orphan
  // folder, named `orphanFolderName`, is shown only when it holds something,
  // as the root's last child (or alone at the top without a root).
  // `linkOrder`, when given, is the order children list in instead (entries
  // missing from it are not shown).
  void build(EntryId root, std::string_view orphanFolderName, const std::vector<EntryId>* linkOrder = nullptr);

  // ---- browsing, after the build
  std::vector<EntryId> topEntries() const;
  // Finite whatever the volume held: the build left no cycles, and the walk
  // is bounded all the same.
  std::vector<EntryId> children(EntryId folder) const;
  std::string_view name(EntryId id) const;
  bool has(EntryId id, Flag flag) const { return valid(id) && (entries_[id].flags & flag) != 0; }
  bool isFolder(EntryId id) const { return has(id, kFolder); }
  bool isDeleted(EntryId id) const { return has(id, kDeleted); }
  std::uint64_t size(EntryId id) const { return valid(id) ? entries_[id].size : 0; }
  EntryTimes times(EntryId id) const;
  EntryId root() const { return root_; }
  EntryId orphanFolderId() const { return orphans_; }

 private:
  // Laid out without padding: a volume may hold millions.
  struct Entry {
    std::uint64_t size = 0;
    std::int64_t seconds[3] = {};  // created, accessed, modified
    EntryId parent = kNoEntry;
    EntryId firstChild = kNoEntry;
    EntryId nextSibling = kNoEntry;
    std::uint32_t nameHandle = 0;
    std::uint32_t nanoseconds[3] = {};
    std::uint16_t nameLength = 0;
    std::uint16_t flags = 0;
  };
  static_assert(sizeof(Entry) == 64);

  bool shown(EntryId id) const;
  void adoptUnusableParents();
  void cutCycles();
  void linkChains(const std::vector<EntryId>* order);

  std::vector<Entry> entries_;
  NamePool names_;
  EntryId root_ = kNoEntry;
  EntryId orphans_ = kNoEntry;
};

}  // namespace quorvel
