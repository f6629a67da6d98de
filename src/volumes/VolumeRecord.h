#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "fs/FileSystemId.h"
#include "io/VolumeView.h"

namespace quorvel {

// One found volume, as the volume list shows it and a parser receives it.
struct VolumeRecord {
  // The kind as the list shows it: "NTFS", "FAT16", "FAT32", "FAT64",
  // "FAT12", "extX", "HFS+", "Unknown", a GPT partition's name, ...
  std::string kind;
  std::string volumeName;  // "Unknown" for a volume image; empty otherwise
  std::string label;       // decimal number of the volume
  std::string sizeText;    // starts with the size in MiB; parsers read it back
  std::int64_t startSector = 0;  // absolute in the source
  // The exact size where discovery knows it (a table entry, a boot sector);
  // 0 when only the size text says how large the volume is.
  std::uint64_t sizeBytes = 0;
  // The registry kind the volume is read as; set where the record is made
  // (or where a user names the kind). Empty when `kind` names none.
  std::optional<FileSystemId> fileSystem{};
  // Discovery found a volume but could not tell its kind ("Unknown",
  // "UNKNOWN"): the volume list will not go on with it.
  bool kindUnknown = false;

  bool operator==(const VolumeRecord&) const = default;
};

// "%d   MB": the size texts of NTFS volumes, MBR entries and volume images.
std::string sizeTextWide(std::int64_t mebibytes);
// "%lld  MB": the size texts of FAT-family and HFS+ volumes found by reading them.
std::string sizeTextNarrow(std::int64_t mebibytes);

// The size text's leading MiB number in bytes, saturating; 0 when the text
// starts with no number.
std::uint64_t sizeTextBytes(const std::string& sizeText);

// The volume's first byte in the source; 0 for a start sector that names
// none (negative, or too large for a byte offset).
std::int64_t volumeStartByte(const VolumeRecord& volume);

// Where the volume lies, as a parser reads it: the exact size, else the
// size text's MiB; 0 (unknown: up to the source's end) when neither says.
VolumeExtent volumeExtent(const VolumeRecord& volume);

inline std::int64_t bytesToMebibytes(std::uint64_t bytes) {
  return static_cast<std::int64_t>(bytes / 1048576);
}

}  // namespace quorvel
