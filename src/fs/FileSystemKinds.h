#pragma once
// Every file-system kind the system knows, one row each: the texts volume
// records name it by, how its first structure is recognised, the parser that
// reads it, its recovery modes, the advanced inputs it asks for and its fuzz
// target. Classification, the parser choice, the wizard's screens, the
// command line and the fuzz harness read this table, by FileSystemId; a text
// is turned into a kind only here (findFileSystemKind), where a user named it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/FileSystemId.h"
#include "fs/FileSystemParser.h"
#include "io/Endian.h"

namespace quorvel {

// A search among millions of sectors wants stronger signs than a look at a
// volume's first sector does.
enum class SniffContext { VolumeStart, SectorScan };

// What a recognised structure says: the kind text a volume record carries,
// the size the volume claims (0 when it does not say), and the volume
// list's status text for the find.
struct Recognition {
  std::string kindText;
  std::uint64_t sizeBytes = 0;
  std::string foundStatus;
};

// The inputs the advanced-input screen asks for before an Advanced scan.
struct AdvancedInputs {
  bool candidates = false;     // a searched list of file-system candidates
  bool clusterSize = false;    // "Sector Per Cluster :"
  bool heapOffset = false;     // "Heap Offset :"
  bool formattedFlag = false;  // "Is Drive Formated..?"
};

struct FileSystemKind {
  FileSystemId id;
  // The texts that name the kind, letter case ignored. The first is the one
  // a volume record of this kind carries unless the sniff says otherwise.
  std::vector<std::string_view> kindTexts;
  // Where the recognised structure lies in the volume: 0 for a boot sector,
  // 1024 for a superblock or volume header.
  std::uint32_t sniffOffset = 0;
  // Looks at 512 bytes taken at sniffOffset.
  std::optional<Recognition> (*sniff)(Bytes sector, SniffContext context) = nullptr;
  // The parser; null while the kind is recognised but cannot yet be read.
  std::unique_ptr<FileSystemParser> (*create)() = nullptr;
  // The recovery modes the kind offers; its parser runs each of them.
  std::vector<RecoveryMode> modes;
  AdvancedInputs advanced;
  // The name of the kind's fuzz target ("fuzz_" + name) and of its folder
  // of kept inputs under tests/regressions.
  std::string_view fuzzTarget;

  bool offers(RecoveryMode mode) const;
};

// Every row, in the order sniffs are tried.
const std::vector<FileSystemKind>& fileSystemKinds();

const FileSystemKind& fileSystemKind(FileSystemId id);

// The row one of whose texts equals `kindText` (letter case and surrounding
// white space ignored); null for any other text. For texts a user typed or
// picked; a record made by discovery carries its kind's id.
const FileSystemKind* findFileSystemKind(std::string_view kindText);
std::optional<FileSystemId> fileSystemNamed(std::string_view kindText);

// The first row whose sniff at `offset` recognises the sector.
struct Sniffed {
  const FileSystemKind* kind = nullptr;  // null for a damaged boot sector
  Recognition found;
};
std::optional<Sniffed> sniffSector(Bytes sector, std::uint32_t offset, SniffContext context);

// What a volume's first sector is: a boot sector of a row, else one that
// looks like the FAT family's but holds no usable layout, classified
// "UNKNOWN" with no kind (never read by a parser).
std::optional<Sniffed> sniffBootSector(Bytes sector, SniffContext context);

// The parser for a kind, when the kind has one and offers `mode`; null
// otherwise, and for no kind ("not a valid drive.").
std::unique_ptr<FileSystemParser> parserFor(std::optional<FileSystemId> kind, RecoveryMode mode);

}  // namespace quorvel
