#include "fs/FileSystemKinds.h"

#include <gtest/gtest.h>

#include "fs/ext/ExtSuperblock.h"

#include "volumes/BootSectorBuilders.h"

namespace quorvel {
namespace {

using namespace test;

struct BootCase {
  const char* name;
  Sector sector;
  const char* kind;  // the kind text; empty: not recognised
  std::uint64_t sizeBytes;
};
void PrintTo(const BootCase& c, std::ostream* os) { *os << c.name; }


Sector spoiled(Sector s, std::size_t offset, std::uint8_t value) {
  s[offset] = value;
  return s;
}

// What volume classification makes of a sector at a volume's start (offset
// 0) or 1024 bytes into it.
Recognition classify(const Sector& s, std::uint32_t offset, SniffContext context = SniffContext::VolumeStart) {
  const auto found = offset == 0 ? sniffBootSector(s, context) : sniffSector(s, offset, context);
  return found ? found->found : Recognition{};
}

class ClassifyBootSector : public ::testing::TestWithParam<BootCase> {};

TEST_P(ClassifyBootSector, KindAndSize) {
  const BootCase& c = GetParam();
  const Recognition found = classify(c.sector, 0);
  EXPECT_EQ(found.kindText, c.kind);
  EXPECT_EQ(found.sizeBytes, c.sizeBytes);
}

// FAT types are decided by the cluster count, whatever the formatter's
// OEM name or sectors per FAT.
INSTANTIATE_TEST_SUITE_P(
    Cases, ClassifyBootSector,
    ::testing::Values(
        BootCase{"Ntfs", ntfsBootSector(204800), "NTFS", 204800ull * 512},
        BootCase{"NtfsWith4096ByteSectors", [] { auto s = ntfsBootSector(1000); s[0x0B] = 0; s[0x0C] = 0x10; return s; }(),
                 "", 0},
        BootCase{"ExFat", exfatBootSector(409600), "FAT64", 409600ull * 512},
        BootCase{"Fat32FromMkfs", fat32BootSector(2097152), "FAT32", 2097152ull * 512},
        BootCase{"Fat16FromMkfs", fat16BootSector(65536 * 2), "FAT16", 131072ull * 512},
        BootCase{"Fat16With16BitTotal", fat16BootSector(40000), "FAT16", 40000ull * 512},
        BootCase{"Fat12ByClusterCount", fatBootSector({.sectorsPerFat16 = 9, .totalSectors = 2880, .rootEntries = 224}),
                 "FAT12", 2880ull * 512},
        BootCase{"Fat12EvenWith200SectorsPerFat",
                 fatBootSector({.sectorsPerFat16 = 200, .totalSectors = 4000, .rootEntries = 512}), "FAT12",
                 4000ull * 512},
        BootCase{"Fat16Edge4085Clusters",
                 fatBootSector({.sectorsPerFat16 = 16, .totalSectors = 1 + 32 + 32 + 4085, .rootEntries = 512}),
                 "FAT16", (1 + 32 + 32 + 4085) * 512ull},
        BootCase{"Fat12Edge4084Clusters",
                 fatBootSector({.sectorsPerFat16 = 16, .totalSectors = 1 + 32 + 32 + 4084, .rootEntries = 512}),
                 "FAT12", (1 + 32 + 32 + 4084) * 512ull},
        BootCase{"MsdosNameWithBrokenLayout",
                 fatBootSector({.sectorsPerFat16 = 200, .totalSectors = 40000, .sectorsPerCluster = 3, .oem = "MSDOS5.0"}),
                 "UNKNOWN", 0},
        BootCase{"OtherNameWithBrokenLayout",
                 fatBootSector({.sectorsPerFat16 = 200, .totalSectors = 40000, .sectorsPerCluster = 3}), "", 0},
        BootCase{"NoSectorsPerFatAtAll", fatBootSector({.totalSectors = 40000, .oem = "MSDOS5.0"}), "UNKNOWN", 0},
        BootCase{"TotalSmallerThanMetadata", fatBootSector({.sectorsPerFat16 = 200, .totalSectors = 300}), "", 0},
        BootCase{"NoJump", spoiled(ntfsBootSector(204800), 0, 0xE9), "", 0},
        BootCase{"UnknownDisplacement", spoiled(fat16BootSector(40000), 1, 0x50), "", 0},
        BootCase{"Zeros", Sector(512), "", 0},
        BootCase{"TooShort", Sector(100, 0xEB), "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClassifyBootSector, NtfsNameRequiredOnlyWhenAsked) {
  Sector s = ntfsBootSector(204800);
  putText(s, 3, "XXXX");
  EXPECT_EQ(classify(s, 0).kindText, "NTFS");
  EXPECT_EQ(classify(s, 0, SniffContext::SectorScan).kindText, "");
}

TEST(ClassifyBootSector, HugeCountsSaturateInsteadOfWrapping) {
  const Recognition found = classify(ntfsBootSector(~0ull), 0);
  EXPECT_EQ(found.sizeBytes, ~0ull);
}

struct HeaderCase {
  const char* name;
  Sector sector;
  bool primaryOnly;  // ext: only a superblock of block group 0 starts a volume
  const char* kind;  // the kind text; empty: not recognised
  std::uint64_t sizeBytes;
};
void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }


class ClassifyVolumeHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ClassifyVolumeHeader, KindAndSize) {
  const HeaderCase& c = GetParam();
  Recognition found = classify(c.sector, 1024);
  // Backup superblocks are for the ext parser's own search, not for volumes.
  if (!c.primaryOnly)
    if (auto size = extfmt::sniffSuperblock(c.sector, false)) found = Recognition{"extX", *size, ""};
  EXPECT_EQ(found.kindText, c.kind);
  EXPECT_EQ(found.sizeBytes, c.sizeBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClassifyVolumeHeader,
    ::testing::Values(
        HeaderCase{"HfsPlus", hfsPlusHeader(4096, 25600), true, "HFS+", 104857600},
        HeaderCase{"Hfsx", hfsPlusHeader(4096, 25600, "HX"), true, "HFS+", 104857600},
        HeaderCase{"HfsBlockSizeNotPowerOfTwo", hfsPlusHeader(1000, 25600), true, "", 0},
        HeaderCase{"HfsVersionHighByteSet", spoiled(hfsPlusHeader(4096, 25600), 2, 1), true, "", 0},
        HeaderCase{"Ext4KiBBlocks", extSuperblock(25600), true, "extX", 104857600},
        HeaderCase{"Ext1KiBBlocks", extSuperblock(102400, 0), true, "extX", 104857600},
        HeaderCase{"ExtBackupIgnoredForVolumes", extSuperblock(25600, 2, 3), true, "", 0},
        HeaderCase{"ExtBackupWhenAsked", extSuperblock(25600, 2, 3), false, "extX", 104857600},
        HeaderCase{"ExtFirstDataBlockWrong", spoiled(extSuperblock(25600), 20, 1), true, "", 0},
        HeaderCase{"ExtBlockSizeAbsurd", extSuperblock(25600, 20), true, "", 0},
        HeaderCase{"Zeros", Sector(512), true, "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClassifyVolumeHeader, Ext64BitBlockCountUsesHighWord) {
  Sector s = extSuperblock(0);
  putLe32(s, 96, 0x80);   // 64-bit feature
  putLe32(s, 0x150, 1);   // high word of the block count
  EXPECT_EQ(classify(s, 1024).sizeBytes, (1ull << 32) * 4096);
}

// Every row recognises its own structure and no other row takes it for its own.
TEST(FileSystemKinds, EachStructureIsRecognisedByOneRowOnly) {
  const struct {
    const char* name;
    Sector sector;
    std::uint32_t offset;
    FileSystemId id;
  } cases[] = {
      {"NTFS", ntfsBootSector(204800), 0, FileSystemId::Ntfs},
      {"FAT16", fat16BootSector(65536 * 2), 0, FileSystemId::Fat16},
      {"FAT12", fatBootSector({.sectorsPerFat16 = 9, .totalSectors = 2880, .rootEntries = 224}), 0,
       FileSystemId::Fat16},
      {"FAT32", fat32BootSector(2097152), 0, FileSystemId::Fat32},
      {"exFAT", exfatBootSector(409600), 0, FileSystemId::ExFat},
      {"HFS+", hfsPlusHeader(4096, 25600), 1024, FileSystemId::HfsPlus},
      {"ext", extSuperblock(25600), 1024, FileSystemId::Ext},
  };
  for (const auto& c : cases) {
    for (const FileSystemKind& row : fileSystemKinds()) {
      const bool mine = row.id == c.id;
      const bool taken = row.sniffOffset == c.offset && row.sniff(c.sector, SniffContext::VolumeStart).has_value();
      EXPECT_EQ(taken, mine) << c.name << " by the row of " << row.kindTexts.front();
    }
  }
}

TEST(FileSystemKinds, KindTextsNameOneRowEach) {
  const struct {
    const char* text;
    std::optional<FileSystemId> id;
  } cases[] = {
      {"NTFS", FileSystemId::Ntfs},     {"ntfs", FileSystemId::Ntfs},     {"  NTFS ", FileSystemId::Ntfs},
      {"FAT16", FileSystemId::Fat16},   {"fat", FileSystemId::Fat16},     {"FAT12", FileSystemId::Fat16},
      {"FAT32", FileSystemId::Fat32},   {"fat32", FileSystemId::Fat32},   {"FAT64", FileSystemId::ExFat},
      {"exFAT", FileSystemId::ExFat},   {"eXFAT", FileSystemId::ExFat},   {"extX", FileSystemId::Ext},
      {"HFS+", FileSystemId::HfsPlus},  {"UNKNOWN", std::nullopt},        {"RAW", std::nullopt},
      {"CUSTOM ", std::nullopt},        {"", std::nullopt},               {"Basic data partition", std::nullopt},
      {"NTFS2", std::nullopt},
  };
  for (const auto& c : cases) {
    const FileSystemKind* row = findFileSystemKind(c.text);
    ASSERT_EQ(row != nullptr, c.id.has_value()) << '"' << c.text << '"';
    if (row) {
      EXPECT_EQ(row->id, *c.id) << c.text;
    }
    EXPECT_EQ(fileSystemNamed(c.text), c.id) << '"' << c.text << '"';
  }
}

// A parser is made only for a mode its kind offers; the rest, and a volume
// of no kind, is "not a valid drive.".
TEST(FileSystemKinds, ParserChoiceFollowsTheModes) {
  const struct {
    std::optional<FileSystemId> kind;
    bool standard;
    bool advanced;
    bool deep;
  } cases[] = {
      {FileSystemId::Ntfs, true, true, true},     {FileSystemId::Fat16, true, true, false},
      {FileSystemId::Fat32, true, true, false},   {FileSystemId::ExFat, true, true, false},
      {FileSystemId::Ext, true, false, false},    {FileSystemId::HfsPlus, true, false, true},
      {std::nullopt, false, false, false},
  };
  for (const auto& c : cases) {
    const std::string name = c.kind ? std::string(fileSystemKind(*c.kind).kindTexts.front()) : "no kind";
    EXPECT_EQ(parserFor(c.kind, RecoveryMode::Standard) != nullptr, c.standard) << name;
    EXPECT_EQ(parserFor(c.kind, RecoveryMode::Advanced) != nullptr, c.advanced) << name;
    EXPECT_EQ(parserFor(c.kind, RecoveryMode::Deep) != nullptr, c.deep) << name;
  }
}

// The sniffs name their finds by texts that the registry reads back as the
// row that found them: a record's text and kind agree.
TEST(FileSystemKinds, EveryTextASniffGivesNamesItsOwnRow) {
  const struct {
    Sector sector;
    std::uint32_t offset;
  } cases[] = {
      {ntfsBootSector(204800), 0},
      {fat16BootSector(65536 * 2), 0},
      {fatBootSector({.sectorsPerFat16 = 9, .totalSectors = 2880, .rootEntries = 224}), 0},
      {fat32BootSector(2097152), 0},
      {exfatBootSector(409600), 0},
      {hfsPlusHeader(4096, 25600), 1024},
      {extSuperblock(25600), 1024},
  };
  for (const auto& c : cases) {
    const std::optional<Sniffed> found = sniffSector(c.sector, c.offset, SniffContext::VolumeStart);
    ASSERT_TRUE(found && found->kind);
    EXPECT_EQ(fileSystemNamed(found->found.kindText), found->kind->id) << found->found.kindText;
  }
}

}  // namespace
}  // namespace quorvel
