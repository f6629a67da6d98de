#pragma once
// exFAT on disk: the boot sector and the directory entries of a file's
// entry set (file, stream extension, file name), decoded in one place.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "io/Endian.h"

namespace quorvel::exfatfmt {

// Boot sector fields, as stored.
struct BootSector {
  std::uint64_t volumeLength = 0;      // sectors
  std::uint32_t fatOffset = 0;         // sectors
  std::uint32_t fatLength = 0;         // sectors
  std::uint32_t clusterHeapOffset = 0; // sectors
  std::uint32_t clusterCount = 0;
  std::uint32_t rootCluster = 0;
  std::uint16_t volumeFlags = 0;       // bit 0: the second FAT is the active one
  std::uint8_t bytesPerSectorShift = 0;
  std::uint8_t sectorsPerClusterShift = 0;
  std::uint8_t fatCount = 0;
};

bool hasExFatName(Bytes sector);  // "EXFAT   " at byte 3
// An exFAT boot sector by its jump and name: the size it claims, else nothing.
std::optional<std::uint64_t> sniffBootSector(Bytes sector);
BootSector decodeBootSector(Bytes sector);

// Where everything lies, in bytes from the volume's start.
struct ExFatGeometry {
  std::uint32_t bytesPerSector = 0;
  std::uint32_t clusterSize = 0;
  std::uint64_t fatOffset = 0;    // the active FAT
  std::uint64_t fatBytes = 0;
  std::uint64_t heapOffset = 0;   // cluster 2
  std::uint32_t clusterCount = 0;
  std::uint32_t rootCluster = 0;
  std::uint64_t volumeBytes = 0;
};

// Nothing when the shifts lie outside the format's ranges, there are not
// one or two FATs, or the regions do not fit in the volume.
std::optional<ExFatGeometry> exFatGeometry(const BootSector& boot);

inline constexpr std::size_t kEntrySize = 32;

namespace entryType {
inline constexpr std::uint8_t file = 0x85;
inline constexpr std::uint8_t stream = 0xC0;
inline constexpr std::uint8_t fileName = 0xC1;
inline constexpr std::uint8_t inUse = 0x80;  // cleared when the set is deleted
}  // namespace entryType

struct FileEntry {
  std::uint8_t type = 0;
  std::uint8_t secondaryCount = 0;
  std::uint16_t setChecksum = 0;
  std::uint16_t attributes = 0;
  std::uint32_t createTimestamp = 0;
  std::uint32_t modifiedTimestamp = 0;
  std::uint32_t accessedTimestamp = 0;
  std::uint8_t create10ms = 0;
  std::uint8_t modified10ms = 0;
  std::uint8_t createUtcOffset = 0;
  std::uint8_t modifiedUtcOffset = 0;
  std::uint8_t accessedUtcOffset = 0;
};

struct StreamEntry {
  std::uint8_t type = 0;
  std::uint8_t flags = 0;  // bit 1: no FAT chain, the data is one run
  std::uint8_t nameLength = 0;
  std::uint64_t validDataLength = 0;
  std::uint32_t firstCluster = 0;
  std::uint64_t dataLength = 0;
  bool noFatChain() const { return flags & 0x02; }
};

FileEntry decodeFileEntry(Bytes slot);
StreamEntry decodeStreamEntry(Bytes slot);

// The checksum over a whole entry set, as the file entry stores it. The
// in-use bits count as set, so a deleted set still checks.
std::uint16_t entrySetChecksum(Bytes set);

}  // namespace quorvel::exfatfmt
