#pragma once
#include <cstdint>
#include <string>

#include "io/Endian.h"

namespace quorvel {

// What the first sector of a volume, or the sector 1024 bytes into it, says.
enum class VolumeKind { None, Ntfs, Fat12, Fat16, Fat32, ExFat, FatUnknown, HfsPlus, Ext };

struct VolumeClass {
  VolumeKind kind = VolumeKind::None;
  std::uint64_t sizeBytes = 0;  // 0 when the structure does not say
};

// The kind text that volume records carry ("NTFS", "FAT64", "UNKNOWN", ...).
std::string kindText(VolumeKind kind);

// The status line's "found ..." text for a kind.
std::string foundStatusText(VolumeKind kind);

struct BootSectorOptions {
  // The sector scan also wants the "NTFS" OEM name: a bare jump plus a
  // sector size is too weak a sign among millions of sectors.
  bool requireNtfsName = false;
};

// Classifies a boot sector (at least 512 bytes): NTFS, exFAT, FAT12/16/32
// by cluster count, "UNKNOWN" for a FAT-like sector whose layout is not
// usable, or None.
VolumeClass classifyBootSector(Bytes sector, BootSectorOptions options = {});

// Classifies the sector that starts 1024 bytes into a volume: an HFS+ or
// HFSX volume header, or an ext2/3/4 superblock. With primaryOnly, a backup
// ext superblock (block group other than 0) is not taken for a volume.
VolumeClass classifyVolumeHeader(Bytes sector, bool primaryOnly = true);

}  // namespace quorvel
