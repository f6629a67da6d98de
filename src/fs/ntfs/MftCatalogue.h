#pragma once
// The NTFS catalogue: one small MftEntry per MFT record (or per record found
// by a sector scan), names in one shared pool, and the folder tree as
// first-child / next-sibling chains.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/ntfs/MftRecord.h"

namespace quorvel::ntfsfmt {

inline constexpr std::uint32_t kNone = 0xFFFFFFFF;

// Names in large blocks: one allocation per block, never per entry, and no
// copy of the whole pool while it grows.
class NamePool {
 public:
  // A handle for the stored text; names longer than a block are cut.
  std::uint32_t add(std::string_view text, std::uint16_t& storedLength);
  std::string_view get(std::uint32_t handle, std::uint16_t length) const;
  void clear() { blocks_.clear(); used_ = 0; }

 private:
  static constexpr std::uint32_t kBlockSize = 256 * 1024;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::uint32_t used_ = 0;  // bytes used in the last block
};

struct MftEntry {
  enum Bit : std::uint8_t {
    kFileRecord = 0x01,    // the record reads as "FILE"
    kHasName = 0x02,
    kOrphan = 0x04,        // its parent could not be linked
    kParentLost = 0x08,    // the parent reference itself is unusable
    kNeedsExtents = 0x10,  // the size lies in extension records
    kMftItself = 0x20,     // the MFT's own record: never in any folder
    kHasAttributeList = 0x40,
    kLongName = 0x80,      // the name is a Win32 or POSIX one, not a DOS alias
  };

  std::uint64_t size = 0;      // bytes of the unnamed data attribute
  std::uint64_t created = 0;   // Windows file times from standard information
  std::uint64_t modified = 0;
  std::uint64_t accessed = 0;
  std::uint32_t nameHandle = 0;
  std::uint16_t nameLength = 0;
  std::uint16_t recordFlags = 0;
  // Before linking: the parent's MFT record number; after: its catalogue index.
  std::uint32_t parent = kNone;
  std::uint32_t firstChild = kNone;
  std::uint32_t nextSibling = kNone;
  std::uint16_t sequence = 0;
  std::uint16_t parentSequence = 0;
  std::uint16_t fileAttributes = 0;  // low 16 bits, for the attribute letters
  std::uint8_t kind = 0;             // 'D' for a folder
  std::uint8_t bits = 0;

  bool has(Bit b) const { return (bits & b) != 0; }
  bool isFolder() const { return kind == 'D'; }
  bool inUse() const { return (recordFlags & kRecordInUse) != 0; }
};

// The file-name attribute that names a record: a long (Win32 or POSIX) name
// over a DOS 8.3 alias, the later one among equals.
struct ChosenName {
  const AttributeHeader* attribute = nullptr;
  FileNameValue value;
};
ChosenName chooseFileName(const RecordImage& image, const std::vector<AttributeHeader>& attributes);
std::string fileNameText(const RecordImage& image, const ChosenName& chosen);

class MftCatalogue {
 public:
  static constexpr const char* kOrphanFolderName = "ORPHAN_ENTRY";
  static constexpr std::uint32_t kDeepFolderLimit = 100000;

  void clear();
  void reserve(std::size_t count) { entries_.reserve(count); }
  // Grows the list with bare entries (unreadable records keep their index).
  void resize(std::size_t count) { entries_.resize(count); }
  void truncate(std::size_t count) {
    if (count < entries_.size()) entries_.resize(count);
  }
  std::size_t count() const { return entries_.size(); }
  MftEntry& at(std::uint32_t i) { return entries_[i]; }
  const MftEntry& at(std::uint32_t i) const { return entries_[i]; }
  bool valid(EntryId id) const { return id < entries_.size(); }

  // Decodes one fixed-up record into entry `index`.
  void parseRecord(const RecordImage& image, std::uint32_t index, std::uint64_t clusterSize,
                   std::vector<AttributeHeader>& scratch);

  // Names from an extension record, for a base record without a long name of
  // its own (file-name attributes move out when a record fills up).
  void adoptFileNames(std::uint32_t index, const RecordImage& extension, std::vector<AttributeHeader>& scratch);

  std::string_view name(std::uint32_t i) const { return names_.get(entries_[i].nameHandle, entries_[i].nameLength); }
  void setName(std::uint32_t i, std::string_view text);

  // Appends the orphan folder, finds the root and builds the chains: by
  // parent references, or (deep) by disk order under the orphan folder.
  void build(bool deep);
  std::uint32_t orphanIndex() const { return orphanIndex_; }
  std::uint32_t rootIndex() const { return rootIndex_; }

  std::vector<EntryId> children(EntryId folder) const;
  std::vector<EntryId> topEntries() const;

 private:
  void takeFileNames(std::uint32_t index, const RecordImage& image, const std::vector<AttributeHeader>& attributes);
  bool linkable(std::uint32_t i) const;
  std::uint32_t findRoot() const;
  bool parentAcceptable(std::uint32_t i) const;
  void cutCycles();
  void linkToParent(std::uint32_t i);
  void relinkOrphans();
  void relinkDeep();
  void makeOrphan(std::uint32_t i);

  std::vector<MftEntry> entries_;
  NamePool names_;
  std::uint32_t orphanIndex_ = kNone;
  std::uint32_t rootIndex_ = kNone;
  bool deep_ = false;
};

}  // namespace quorvel::ntfsfmt
