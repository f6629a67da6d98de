#include "volumes/BootSector.h"

#include <gtest/gtest.h>

#include "volumes/BootSectorBuilders.h"

namespace quorvel {
namespace {

using namespace test;

struct BootCase {
  const char* name;
  Sector sector;
  VolumeKind kind;
  std::uint64_t sizeBytes;
};
void PrintTo(const BootCase& c, std::ostream* os) { *os << c.name; }


Sector spoiled(Sector s, std::size_t offset, std::uint8_t value) {
  s[offset] = value;
  return s;
}

class ClassifyBootSector : public ::testing::TestWithParam<BootCase> {};

TEST_P(ClassifyBootSector, KindAndSize) {
  const BootCase& c = GetParam();
  const VolumeClass found = classifyBootSector(c.sector);
  EXPECT_EQ(kindText(found.kind), kindText(c.kind));
  EXPECT_EQ(found.sizeBytes, c.sizeBytes);
}

// FAT types are decided by the cluster count, whatever the formatter's
// OEM name or sectors per FAT.
INSTANTIATE_TEST_SUITE_P(
    Cases, ClassifyBootSector,
    ::testing::Values(
        BootCase{"Ntfs", ntfsBootSector(204800), VolumeKind::Ntfs, 204800ull * 512},
        BootCase{"NtfsWith4096ByteSectors", [] { auto s = ntfsBootSector(1000); s[0x0B] = 0; s[0x0C] = 0x10; return s; }(),
                 VolumeKind::None, 0},
        BootCase{"ExFat", exfatBootSector(409600), VolumeKind::ExFat, 409600ull * 512},
        BootCase{"Fat32FromMkfs", fat32BootSector(2097152), VolumeKind::Fat32, 2097152ull * 512},
        BootCase{"Fat16FromMkfs", fat16BootSector(65536 * 2), VolumeKind::Fat16, 131072ull * 512},
        BootCase{"Fat16With16BitTotal", fat16BootSector(40000), VolumeKind::Fat16, 40000ull * 512},
        BootCase{"Fat12ByClusterCount", fatBootSector({.sectorsPerFat16 = 9, .totalSectors = 2880, .rootEntries = 224}),
                 VolumeKind::Fat12, 2880ull * 512},
        BootCase{"Fat12EvenWith200SectorsPerFat",
                 fatBootSector({.sectorsPerFat16 = 200, .totalSectors = 4000, .rootEntries = 512}), VolumeKind::Fat12,
                 4000ull * 512},
        BootCase{"Fat16Edge4085Clusters",
                 fatBootSector({.sectorsPerFat16 = 16, .totalSectors = 1 + 32 + 32 + 4085, .rootEntries = 512}),
                 VolumeKind::Fat16, (1 + 32 + 32 + 4085) * 512ull},
        BootCase{"Fat12Edge4084Clusters",
                 fatBootSector({.sectorsPerFat16 = 16, .totalSectors = 1 + 32 + 32 + 4084, .rootEntries = 512}),
                 VolumeKind::Fat12, (1 + 32 + 32 + 4084) * 512ull},
        BootCase{"MsdosNameWithBrokenLayout",
                 fatBootSector({.sectorsPerFat16 = 200, .totalSectors = 40000, .sectorsPerCluster = 3, .oem = "MSDOS5.0"}),
                 VolumeKind::FatUnknown, 0},
        BootCase{"OtherNameWithBrokenLayout",
                 fatBootSector({.sectorsPerFat16 = 200, .totalSectors = 40000, .sectorsPerCluster = 3}), VolumeKind::None, 0},
        BootCase{"NoSectorsPerFatAtAll", fatBootSector({.totalSectors = 40000, .oem = "MSDOS5.0"}), VolumeKind::FatUnknown, 0},
        BootCase{"TotalSmallerThanMetadata", fatBootSector({.sectorsPerFat16 = 200, .totalSectors = 300}), VolumeKind::None, 0},
        BootCase{"NoJump", spoiled(ntfsBootSector(204800), 0, 0xE9), VolumeKind::None, 0},
        BootCase{"UnknownDisplacement", spoiled(fat16BootSector(40000), 1, 0x50), VolumeKind::None, 0},
        BootCase{"Zeros", Sector(512), VolumeKind::None, 0},
        BootCase{"TooShort", Sector(100, 0xEB), VolumeKind::None, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClassifyBootSector, NtfsNameRequiredOnlyWhenAsked) {
  Sector s = ntfsBootSector(204800);
  putText(s, 3, "XXXX");
  EXPECT_EQ(classifyBootSector(s).kind, VolumeKind::Ntfs);
  EXPECT_EQ(classifyBootSector(s, {.requireNtfsName = true}).kind, VolumeKind::None);
}

TEST(ClassifyBootSector, HugeCountsSaturateInsteadOfWrapping) {
  const VolumeClass found = classifyBootSector(ntfsBootSector(~0ull));
  EXPECT_EQ(found.sizeBytes, ~0ull);
}

struct HeaderCase {
  const char* name;
  Sector sector;
  bool primaryOnly;
  VolumeKind kind;
  std::uint64_t sizeBytes;
};
void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }


class ClassifyVolumeHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ClassifyVolumeHeader, KindAndSize) {
  const HeaderCase& c = GetParam();
  const VolumeClass found = classifyVolumeHeader(c.sector, c.primaryOnly);
  EXPECT_EQ(kindText(found.kind), kindText(c.kind));
  EXPECT_EQ(found.sizeBytes, c.sizeBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClassifyVolumeHeader,
    ::testing::Values(
        HeaderCase{"HfsPlus", hfsPlusHeader(4096, 25600), true, VolumeKind::HfsPlus, 104857600},
        HeaderCase{"Hfsx", hfsPlusHeader(4096, 25600, "HX"), true, VolumeKind::HfsPlus, 104857600},
        HeaderCase{"HfsBlockSizeNotPowerOfTwo", hfsPlusHeader(1000, 25600), true, VolumeKind::None, 0},
        HeaderCase{"HfsVersionHighByteSet", spoiled(hfsPlusHeader(4096, 25600), 2, 1), true, VolumeKind::None, 0},
        HeaderCase{"Ext4KiBBlocks", extSuperblock(25600), true, VolumeKind::Ext, 104857600},
        HeaderCase{"Ext1KiBBlocks", extSuperblock(102400, 0), true, VolumeKind::Ext, 104857600},
        HeaderCase{"ExtBackupIgnoredForVolumes", extSuperblock(25600, 2, 3), true, VolumeKind::None, 0},
        HeaderCase{"ExtBackupWhenAsked", extSuperblock(25600, 2, 3), false, VolumeKind::Ext, 104857600},
        HeaderCase{"ExtFirstDataBlockWrong", spoiled(extSuperblock(25600), 20, 1), true, VolumeKind::None, 0},
        HeaderCase{"ExtBlockSizeAbsurd", extSuperblock(25600, 20), true, VolumeKind::None, 0},
        HeaderCase{"Zeros", Sector(512), true, VolumeKind::None, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClassifyVolumeHeader, Ext64BitBlockCountUsesHighWord) {
  Sector s = extSuperblock(0);
  putLe32(s, 96, 0x80);   // 64-bit feature
  putLe32(s, 0x150, 1);   // high word of the block count
  EXPECT_EQ(classifyVolumeHeader(s).sizeBytes, (1ull << 32) * 4096);
}

}  // namespace
}  // namespace quorvel
