#pragma once
// Hand-made boot sectors and volume headers, each valid unless a test spoils
// one field on purpose.
#include <cstdint>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace quorvel::test {

using Sector = std::vector<std::uint8_t>;

inline Sector ntfsBootSector(std::uint64_t totalSectors) {
  Sector s(512);
  s[0] = 0xEB, s[1] = 0x52, s[2] = 0x90;
  putText(s, 3, "NTFS    ");
  putLe16(s, 0x0B, 512);
  s[0x0D] = 8;
  putLe64(s, 0x28, totalSectors);
  s[510] = 0x55, s[511] = 0xAA;
  return s;
}

inline Sector exfatBootSector(std::uint64_t volumeLength) {
  Sector s(512);
  s[0] = 0xEB, s[1] = 0x76, s[2] = 0x90;
  putText(s, 3, "EXFAT   ");
  putLe64(s, 0x48, volumeLength);
  s[0x6C] = 9;  // 512-byte sectors
  s[0x6D] = 3;
  s[510] = 0x55, s[511] = 0xAA;
  return s;
}

struct FatLayout {
  std::uint16_t sectorsPerFat16 = 0;  // 0: the FAT32 layout
  std::uint32_t sectorsPerFat32 = 0;
  std::uint32_t totalSectors = 0;
  std::uint8_t sectorsPerCluster = 1;
  std::uint16_t rootEntries = 0;
  std::uint16_t reserved = 1;
  std::string oem = "mkfs.fat";
};

inline Sector fatBootSector(const FatLayout& l) {
  Sector s(512);
  s[0] = 0xEB, s[1] = l.sectorsPerFat16 == 0 ? 0x58 : 0x3C, s[2] = 0x90;
  putText(s, 3, l.oem);
  putLe16(s, 0x0B, 512);
  s[0x0D] = l.sectorsPerCluster;
  putLe16(s, 0x0E, l.reserved);
  s[0x10] = 2;
  putLe16(s, 0x11, l.rootEntries);
  if (l.totalSectors < 65536 && l.sectorsPerFat16 != 0)
    putLe16(s, 0x13, static_cast<std::uint16_t>(l.totalSectors));
  else
    putLe32(s, 0x20, l.totalSectors);
  putLe16(s, 0x16, l.sectorsPerFat16);
  putLe32(s, 0x24, l.sectorsPerFat32);
  s[510] = 0x55, s[511] = 0xAA;
  return s;
}

inline Sector fat32BootSector(std::uint32_t totalSectors) {
  return fatBootSector({.sectorsPerFat32 = totalSectors / 128 + 1, .totalSectors = totalSectors, .reserved = 32});
}

inline Sector fat16BootSector(std::uint32_t totalSectors) {
  return fatBootSector({.sectorsPerFat16 = static_cast<std::uint16_t>(totalSectors / 256 + 1),
                        .totalSectors = totalSectors, .sectorsPerCluster = 4, .rootEntries = 512});
}

// The sector 1024 bytes into an HFS+ volume.
inline Sector hfsPlusHeader(std::uint32_t blockSize, std::uint32_t totalBlocks, const char* signature = "H+") {
  Sector s(512);
  putText(s, 0, signature);
  s[3] = 4;
  putBe32(s, 0x28, blockSize);
  putBe32(s, 0x2C, totalBlocks);
  return s;
}

// The sector 1024 bytes into an ext volume: its superblock.
inline Sector extSuperblock(std::uint32_t blocks, std::uint32_t logBlockSize = 2, std::uint16_t group = 0) {
  Sector s(512);
  putLe32(s, 0, 1024);  // inodes
  putLe32(s, 4, blocks);
  putLe32(s, 20, logBlockSize == 0 ? 1 : 0);
  putLe32(s, 24, logBlockSize);
  putLe32(s, 32, 8192 << logBlockSize);
  putLe32(s, 40, 1024);
  putLe16(s, 56, 0xEF53);
  putLe16(s, 90, group);
  return s;
}

}  // namespace quorvel::test
