#pragma once
// What NTFS keeps of every MFT record (or every record found by a sector
// scan) beside the shared catalogue, whose entry ids are the same: the
// sequence numbers and parent reference its linking rules need. Names,
// sizes, times and the tree live in the catalogue.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fs/Catalogue.h"
#include "fs/FileSystemParser.h"
#include "fs/ntfs/MftRecord.h"

namespace quorvel::ntfsfmt {

inline constexpr std::uint32_t kNone = 0xFFFFFFFF;

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

  // The parent's MFT record number.
  std::uint32_t parent = kNone;
  std::uint16_t recordFlags = 0;
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

class MftRecordTable {
 public:
  static constexpr const char* kOrphanFolderName = "ORPHAN_ENTRY";
  static constexpr std::uint32_t kDeepFolderLimit = 100000;

  explicit MftRecordTable(Catalogue& catalogue) : catalogue_(catalogue) {}

  void clear();
  void reserve(std::size_t count);
  // Grows the list with bare entries (unreadable records keep their index).
  void resize(std::size_t count);
  void truncate(std::size_t count);
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

  // A name and folder the change journal gives a record the MFT no longer
  // names, or whose folder is lost while the journal's is known. False
  // when the journal adds nothing.
  bool adoptJournalName(std::uint32_t index, std::string_view text, std::uint64_t parentRecord,
                        std::uint16_t parentSequence, bool folder);
  // Whether the entry's parent reference names a folder that is still that
  // folder (not reused since).
  bool parentAcceptable(std::uint32_t i) const;

  std::string_view name(std::uint32_t i) const { return catalogue_.name(i); }
  void setSize(std::uint32_t i, std::uint64_t size) { catalogue_.setSize(i, size); }

  // Finds the root and links the catalogue: by parent references, or (deep)
  // by disk order under the orphan folder.
  void build(bool deep);
  std::uint32_t rootIndex() const { return rootIndex_; }

 private:
  void setName(std::uint32_t i, std::string_view text);
  void takeFileNames(std::uint32_t index, const RecordImage& image, const std::vector<AttributeHeader>& attributes);
  bool linkable(std::uint32_t i) const;
  std::uint32_t findRoot() const;
  void linkDeep(EntryId orphans);

  Catalogue& catalogue_;
  std::vector<MftEntry> entries_;
  std::uint32_t rootIndex_ = kNone;
  bool deep_ = false;
};

}  // namespace quorvel::ntfsfmt
