#pragma once
// What ext keeps beside the shared catalogue: every inode slot that holds a
// mode (in inode order) and, per catalogue entry, the inode its name names.
// Names, the tree, sizes and times live in the catalogue; this table links
// names to inodes and folders, and gives unnamed inodes their place under
// the orphan folder.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fs/Catalogue.h"

namespace quorvel::extfmt {

inline constexpr std::uint32_t kNone = 0xFFFFFFFF;

// One inode slot that holds a mode, in inode order.
struct InodeInfo {
  enum Bit : std::uint8_t {
    kAllocated = 0x01,  // set in the group's inode bitmap
    kHasMap = 0x02,     // the block area maps something, or holds inline data
    kNamed = 0x04,      // some directory entry names it
    kFromJournal = 0x08,  // deleted; its map, size and times come from the journal
  };
  std::uint32_t number = 0;
  std::uint16_t mode = 0;
  std::uint8_t bits = 0;
  std::uint32_t folderEntry = kNone;  // a directory: the entry its children hang under
  std::uint64_t size = 0;
  std::int64_t changed = 0;  // seconds; the nanoseconds beside them
  std::int64_t accessed = 0;
  std::int64_t modified = 0;
  std::uint32_t changedNs = 0;
  std::uint32_t accessedNs = 0;
  std::uint32_t modifiedNs = 0;

  bool has(Bit b) const { return (bits & b) != 0; }
};

// What a catalogue entry names, by entry id.
struct ExtName {
  enum Bit : std::uint8_t {
    kRemovedName = 0x02,  // found in a directory's slack, or in a removed directory
    kReallocated = 0x04,  // a removed name whose inode now belongs to another file
    kSynthetic = 0x08,    // the root, the orphan folder, a name made for an unnamed inode
  };
  // While names are gathered: the inode number; after the build: the
  // position of its InodeInfo, or kNone.
  std::uint32_t inode = 0;
  std::uint16_t mode = 0;  // the inode's, else the type the directory entry gave
  std::uint8_t bits = 0;

  bool has(Bit b) const { return (bits & b) != 0; }
};

class ExtNameTable {
 public:
  static constexpr const char* kRootName = "ROOT";
  static constexpr const char* kOrphanFolderName = "ORPHAN_ENTRY";

  explicit ExtNameTable(Catalogue& catalogue) : catalogue_(catalogue) {}

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

  // Links names to inodes and folders, gives unnamed inodes with a mode a
  // place under the orphan folder, and builds the catalogue.
  // Inodes below `firstInode` other than the root are the volume's own.
  void build(std::uint32_t rootInode, std::uint32_t firstInode);

  // ---- after the build
  const ExtName& at(EntryId id) const { return names_[id]; }
  bool valid(EntryId id) const { return id < names_.size(); }
  // The inode behind an entry; none for synthetic folders and reused inodes.
  const InodeInfo* inodeOf(EntryId id) const;
  std::size_t inodeCount() const { return inodes_.size(); }

 private:
  EntryId addEntry(std::uint32_t inode, std::string_view displayName, std::uint16_t mode, std::uint8_t bits, bool folder);
  bool isFolder(EntryId id) const { return catalogue_.isFolder(id); }
  bool isDeleted(EntryId id) const;
  void claimFolders(EntryId names, bool removedNames);
  void resolveParents(EntryId names, EntryId orphans);
  void addOrphans(std::uint32_t rootInode, std::uint32_t firstInode, EntryId orphans);
  void resolveInodes();
  void fillCatalogue();

  Catalogue& catalogue_;
  std::vector<InodeInfo> inodes_;
  std::vector<ExtName> names_;
};

// Raw name bytes as UTF-8: valid sequences kept, every other byte U+FFFD.
std::string displayName(std::string_view raw);

}  // namespace quorvel::extfmt
