#pragma once
// The ext catalogue: what the scan keeps of every inode in use (or deleted
// with a mode), one record per name, names in one pool, and the folder tree
// as first-child / next-sibling chains under the root and "ORPHAN_ENTRY".
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/FileSystemParser.h"

namespace quorvel::extfmt {

inline constexpr std::uint32_t kNone = 0xFFFFFFFF;

// One inode slot that holds a mode, in inode order.
struct InodeInfo {
  enum Bit : std::uint8_t {
    kAllocated = 0x01,  // set in the group's inode bitmap
    kHasMap = 0x02,     // the block area maps something, or holds inline data
    kNamed = 0x04,      // some directory entry names it
  };
  std::uint32_t number = 0;
  std::uint16_t mode = 0;
  std::uint8_t bits = 0;
  std::uint32_t folderEntry = kNone;  // a directory: the record its children hang under
  std::uint64_t size = 0;
  std::int64_t changed = 0;  // seconds; the nanoseconds beside them
  std::int64_t accessed = 0;
  std::int64_t modified = 0;
  std::uint32_t changedNs = 0;
  std::uint32_t accessedNs = 0;
  std::uint32_t modifiedNs = 0;

  bool has(Bit b) const { return (bits & b) != 0; }
};

// One catalogue record: a name and the inode it names.
struct ExtEntry {
  enum Bit : std::uint8_t {
    kFolder = 0x01,
    kRemovedName = 0x02,   // found in a directory's slack, or in a removed directory
    kReallocated = 0x04,   // a removed name whose inode now belongs to another file
    kSynthetic = 0x08,     // the root, the orphan folder, a name made for an unnamed inode
  };
  // While names are gathered: the inode number; after the build: the
  // position of its InodeInfo, or kNone.
  std::uint32_t inode = 0;
  std::uint32_t parent = kNone;  // while names are gathered: the directory's inode number
  std::uint32_t firstChild = kNone;
  std::uint32_t nextSibling = kNone;
  std::uint32_t nameOffset = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t mode = 0;  // the inode's, else the type the directory entry gave
  std::uint8_t bits = 0;

  bool has(Bit b) const { return (bits & b) != 0; }
};

class ExtCatalogue {
 public:
  static constexpr const char* kRootName = "ROOT";
  static constexpr const char* kOrphanFolderName = "ORPHAN_ENTRY";

  void clear();

  // ---- gathering, in inode order
  // Room for about this many inodes and names, so that the lists do not
  // grow by doubling (a hint: a damaged count only costs a regrowth).
  void expect(std::size_t inodes);
  void addInode(const InodeInfo& info) { inodes_.push_back(info); }
  InodeInfo* findInode(std::uint32_t number);
  const InodeInfo* findInode(std::uint32_t number) const;
  // A name a directory holds; the name bytes are shown as UTF-8.
  void addName(std::uint32_t directory, std::uint32_t inode, std::string_view rawName, std::uint16_t typeHint, bool removed);

  // Links names to inodes and folders, gives unnamed inodes with a mode and
  // a map a place under the orphan folder, cuts cycles, builds the chains.
  // Inodes below `firstInode` other than the root are the volume's own.
  void build(std::uint32_t rootInode, std::uint32_t firstInode);

  // ---- after the build
  std::size_t count() const { return entries_.size(); }
  bool valid(EntryId id) const { return id < entries_.size(); }
  const ExtEntry& at(EntryId id) const { return entries_[id]; }
  std::string_view name(EntryId id) const { return std::string_view(names_).substr(entries_[id].nameOffset, entries_[id].nameLength); }
  void setName(EntryId id, std::string_view text);
  bool isFolder(EntryId id) const { return entries_[id].has(ExtEntry::kFolder); }
  bool isDeleted(EntryId id) const;
  // The inode behind a record; none for synthetic folders and reused inodes.
  const InodeInfo* inodeOf(EntryId id) const;
  std::vector<EntryId> children(EntryId folder) const;
  std::vector<EntryId> topEntries() const;
  std::size_t inodeCount() const { return inodes_.size(); }

 private:
  std::uint32_t addEntry(std::uint32_t inode, std::string_view displayName, std::uint16_t mode, std::uint8_t bits);
  void claimFolders(bool removedNames);
  void resolveParents();
  void addOrphans(std::uint32_t rootInode, std::uint32_t firstInode);
  void cutCycles();
  void linkChains();
  void resolveInodes();

  std::vector<InodeInfo> inodes_;
  std::vector<ExtEntry> entries_;
  std::string names_;
  std::uint32_t root_ = kNone;
  std::uint32_t orphans_ = kNone;
};

// Raw name bytes as UTF-8: valid sequences kept, every other byte U+FFFD.
std::string displayName(std::string_view raw);

}  // namespace quorvel::extfmt
