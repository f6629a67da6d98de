#pragma once
// The FAT12/16/32 boot sector: its parameter block decoded in one place, and
// the volume layout (FAT, fixed root, cluster area) that follows from it.
#include <cstdint>
#include <optional>

#include "io/Endian.h"

namespace quorvel::fatfmt {

enum class FatWidth { Fat12, Fat16, Fat32 };

// The BIOS parameter block, as stored (offsets in FatLayout.cpp).
struct BiosParameterBlock {
  std::uint32_t bytesPerSector = 0;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t reservedSectors = 0;
  std::uint32_t fatCount = 0;
  std::uint32_t rootEntryCount = 0;
  std::uint64_t volumeSectors = 0;
  std::uint32_t sectorsPerFat16 = 0;  // 0 means the FAT32 layout
  std::uint32_t sectorsPerFat32 = 0;
  std::uint32_t rootCluster = 0;      // FAT32 only
};

BiosParameterBlock decodeBiosParameterBlock(Bytes bootSector);

// Where everything lies, in bytes from the volume's start.
struct FatGeometry {
  FatWidth width = FatWidth::Fat16;
  std::uint32_t bytesPerSector = 0;
  std::uint32_t clusterSize = 0;
  std::uint64_t fatOffset = 0;      // the first FAT
  std::uint64_t fatBytes = 0;       // one FAT
  std::uint64_t rootOffset = 0;     // FAT12/16: the fixed root directory
  std::uint32_t rootBytes = 0;
  std::uint32_t rootCluster = 0;    // FAT32: the root directory's first cluster
  std::uint64_t dataOffset = 0;     // cluster 2
  std::uint32_t clusterCount = 0;   // clusters 2 .. clusterCount + 1 exist
  std::uint64_t volumeBytes = 0;
};

// The layout, or nothing when the parameter block cannot describe a volume
// (sizes that are not powers of two, no FAT, metadata larger than the volume).
// FAT12 against FAT16 by cluster count, as the FAT standard says; a 16-bit
// sectors-per-FAT of 0 means FAT32 whatever the count, as the kernel does.
// Some formatters of large volumes leave both sector counts 0: the size is
// then `fallbackBytes` (the partition's or the source's), else as much as
// the FAT can map.
std::optional<FatGeometry> fatGeometry(const BiosParameterBlock& bpb, std::uint64_t fallbackBytes = 0);

// The boot-sector jump of the FAT family and exFAT: 0xEB with one of the
// displacements their formatters write.
bool hasFamilyJump(Bytes sector);
// A FAT12/16/32 boot sector (not exFAT's) whose parameter block describes a
// volume: its layout. Formatters write many OEM names ("MSDOS5.0",
// "mkfs.fat", "MSWIN4.1"), so the parameter block decides.
std::optional<FatGeometry> sniffBootSector(Bytes sector);
// A sector with the family's jump and the "MSDO" name whose parameter block
// is unusable: a damaged FAT boot sector.
bool looksLikeDamagedBootSector(Bytes sector);

}  // namespace quorvel::fatfmt
