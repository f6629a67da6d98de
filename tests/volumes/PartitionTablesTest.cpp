// The standard listing and the probe on hand-made disks: each case plants
// partition tables and boot sectors at known sectors.
#include <gtest/gtest.h>

#include "volumes/BootSectorBuilders.h"
#include "volumes/VolumeList.h"

namespace quorvel {
namespace {

using namespace test;

constexpr std::uint64_t kSector = 512;

struct Entry {
  std::uint8_t type;
  std::uint32_t first;
  std::uint32_t count;
};

Sector partitionTable(std::initializer_list<Entry> entries) {
  Sector s(512);
  int i = 0;
  for (const Entry& e : entries) {
    const std::size_t at = 0x1BE + 16 * i++;
    s[at + 4] = e.type;
    putLe32(s, at + 8, e.first);
    putLe32(s, at + 12, e.count);
  }
  s[510] = 0x55, s[511] = 0xAA;
  return s;
}

struct Listing {
  std::int32_t result = 0;
  std::vector<VolumeRecord> volumes;
  std::vector<std::string> statuses;
};

Listing list(TempImage& image, bool readGpt = false) {
  FileReadSeek source;
  EXPECT_TRUE(source.open(image.path()));
  RecordingObserver observer;
  JobContext job(&observer);
  VolumeList partition(job);
  partition.readGpt = readGpt;
  Listing out;
  out.result = listVolumes(source, partition);
  out.volumes = partition.volumes;
  out.statuses = observer.statuses;
  return out;
}

std::vector<std::int64_t> starts(const Listing& l) {
  std::vector<std::int64_t> s;
  for (const auto& v : l.volumes) s.push_back(v.startSector);
  return s;
}

// The kind texts listed. Each record's kind is the one its text names, and
// only a volume of unknown kind says "Unknown".
std::vector<std::string> kinds(const Listing& l) {
  std::vector<std::string> k;
  for (const auto& v : l.volumes) {
    k.push_back(v.kind);
    EXPECT_EQ(v.fileSystem, fileSystemNamed(v.kind)) << v.kind;
    EXPECT_EQ(v.kindUnknown, v.kind == "Unknown") << v.kind;
  }
  return k;
}

TEST(MbrWalk, ListsEveryNonEmptyEntryInTableOrder) {
  TempImage image;
  image.write(0, partitionTable({{0x07, 2048, 204800}, {0, 0, 0}, {0x0C, 300000, 4096}, {0x83, 400000, 2048}}));
  image.resize(500000 * kSector);
  const Listing l = list(image);
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(starts(l), (std::vector<std::int64_t>{2048, 300000, 400000}));
  EXPECT_EQ(kinds(l), (std::vector<std::string>{"NTFS", "FAT32", "extX"}));
  EXPECT_EQ(l.volumes[0].sizeText, "100   MB");
  EXPECT_EQ(l.volumes[1].sizeText, "2   MB");
  EXPECT_EQ(l.volumes[2].label, "2");
  EXPECT_EQ(l.statuses, (std::vector<std::string>{"found NTFS 1...", "found FAT 32...", "found ext2..."}));
}

TEST(MbrWalk, TypeTable) {
  struct Case {
    std::uint8_t type;
    const char* kind;
    std::optional<FileSystemId> id;
  };
  for (const Case c : {Case{0x01, "FAT12", FileSystemId::Fat16}, Case{0x04, "FAT16", FileSystemId::Fat16},
                       Case{0x06, "FAT16", FileSystemId::Fat16}, Case{0x0E, "FAT16", FileSystemId::Fat16},
                       Case{0x0B, "FAT32", FileSystemId::Fat32}, Case{0x0C, "FAT32", FileSystemId::Fat32},
                       Case{0x42, "NTFS", FileSystemId::Ntfs}, Case{0x07, "NTFS", FileSystemId::Ntfs},
                       Case{0x83, "extX", FileSystemId::Ext}, Case{0xA5, "Unknown", std::nullopt}}) {
    TempImage image;
    image.write(0, partitionTable({{c.type, 2048, 2048}}));
    image.resize(8192 * kSector);
    const Listing l = list(image);
    ASSERT_EQ(l.volumes.size(), 1u) << int(c.type);
    EXPECT_EQ(l.volumes[0].kind, c.kind) << int(c.type);
    EXPECT_EQ(l.volumes[0].fileSystem, c.id) << int(c.type);
    EXPECT_EQ(l.volumes[0].kindUnknown, !c.id) << int(c.type);
  }
}

TEST(MbrWalk, Type7HoldingExFatIsFat64) {
  TempImage image;
  image.write(0, partitionTable({{0x07, 2048, 409600}}));
  image.write(2048 * kSector, exfatBootSector(409600));
  EXPECT_EQ(kinds(list(image)), std::vector<std::string>{"FAT64"});
}

// Extended entry in the middle: its logical volumes stand where it stands,
// and the primary behind it is still listed.
TEST(MbrWalk, ExtendedChainInPlaceAndPrimariesAfterIt) {
  TempImage image;
  const std::uint32_t base = 10000;
  image.write(0, partitionTable({{0x06, 2048, 4096}, {0x05, base, 100000}, {0x07, 200000, 4096}}));
  // EBR 1: a logical volume 63 sectors behind it, then a link 5000 into the extended partition.
  image.write(base * kSector, partitionTable({{0x06, 63, 4096}, {0x05, 5000, 20000}}));
  // EBR 2: its volume lies relative to itself; its link points at EBR 3.
  image.write((base + 5000) * kSector, partitionTable({{0x83, 63, 4096}, {0x05, 30000, 20000}}));
  image.write((base + 30000) * kSector, partitionTable({{0x07, 2048, 4096}}));
  image.resize(300000 * kSector);
  const Listing l = list(image);
  EXPECT_EQ(l.result, 0);
  EXPECT_EQ(starts(l), (std::vector<std::int64_t>{2048, base + 63, base + 5000 + 63, base + 30000 + 2048, 200000}));
  EXPECT_EQ(kinds(l), (std::vector<std::string>{"FAT16", "FAT16", "extX", "NTFS", "NTFS"}));
  // Logical volumes say a few things differently from primaries.
  EXPECT_EQ(l.statuses[2], "found extx...");
  EXPECT_EQ(l.statuses[3], "found NTFS...");
}

TEST(MbrWalk, ChainEndsOnALoopAndAfterFiftyLinks) {
  TempImage looping;
  looping.write(0, partitionTable({{0x0F, 1000, 100000}}));
  looping.write(1000 * kSector, partitionTable({{0x06, 63, 4096}, {0x05, 0, 100000}}));
  looping.resize(200000 * kSector);
  EXPECT_EQ(list(looping).volumes.size(), 1u);

  TempImage longChain;
  longChain.write(0, partitionTable({{0x05, 1000, 1000000}}));
  for (std::uint32_t i = 0; i < 60; ++i)
    longChain.write((1000 + i * 100) * kSector, partitionTable({{0x06, 10, 50}, {0x05, (i + 1) * 100, 100}}));
  longChain.resize(20000 * kSector);
  EXPECT_EQ(list(longChain).volumes.size(), 50u);
}

TEST(MbrWalk, UnreadableEbrReportsErrorAndKeepsEarlierVolumes) {
  TempImage image;
  image.write(0, partitionTable({{0x06, 2048, 4096}, {0x05, 100000, 100000}}));
  image.resize(50000 * kSector);
  const Listing l = list(image);
  EXPECT_NE(l.result, 0);
  EXPECT_EQ(starts(l), std::vector<std::int64_t>{2048});
}

TEST(MbrWalk, EmptyImageIsAnError) {
  TempImage image;
  EXPECT_NE(list(image).result, 0);
}

// A GPT disk: protective MBR, header at sector 1, entries at tableLba.
class GptDisk {
 public:
  explicit GptDisk(std::uint64_t tableLba = 2, std::uint32_t entryCount = 128) : tableLba_(tableLba) {
    image.write(0, partitionTable({{0xEE, 1, 0xFFFFFFFF}}));
    Sector header(512);
    putText(header, 0, "EFI PART");
    putLe64(header, 0x48, tableLba);
    putLe32(header, 0x50, entryCount);
    putLe32(header, 0x54, 128);
    image.write(kSector, header);
    image.resize(400000 * kSector);
  }

  void entry(std::uint32_t index, std::uint64_t first, std::uint64_t last, const std::u16string& name,
             std::uint8_t typeByte = 0xA2) {
    Sector e(128);
    e[0] = typeByte;
    e[5] = 0x30;  // a byte that once ended the walk
    putLe64(e, 0x20, first);
    putLe64(e, 0x28, last);
    for (std::size_t i = 0; i < name.size(); ++i) putLe16(e, 0x38 + 2 * i, name[i]);
    image.write(tableLba_ * kSector + index * 128ull, e);
  }

  TempImage image;

 private:
  std::uint64_t tableLba_;
};

TEST(GptWalk, ProtectiveMbrLeadsToTheGptAndKindsComeFromBootSectors) {
  GptDisk disk;
  disk.entry(0, 2048, 2048 + 204799, u"data-ntfs");
  disk.entry(1, 210000, 210000 + 4095, u"Microsoft reserved partition");
  // Slot 2 left empty: the walk goes on behind it.
  disk.entry(3, 220000, 220000 + 81919, u"data-fat32");
  disk.entry(4, 310000, 310000 + 4095, u"Donn\u00e9es \u2603 \xD83D\xDE00");
  disk.entry(5, 320000, 320000 + 4095, u"mac");
  disk.entry(6, 330000, 330000 + 4095, u"linux");
  disk.image.write(2048 * kSector, ntfsBootSector(204800));
  disk.image.write(220000 * kSector, fat32BootSector(81920));
  disk.image.write((320000 + 2) * kSector, hfsPlusHeader(4096, 512));
  disk.image.write((330000 + 2) * kSector, extSuperblock(512));

  for (const bool forced : {false, true}) {
    const Listing l = list(disk.image, forced);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(starts(l), (std::vector<std::int64_t>{2048, 220000, 310000, 320000, 330000}));
    EXPECT_EQ(kinds(l), (std::vector<std::string>{"NTFS", "FAT32", "Donn\u00e9es \u2603 \U0001F600", "HFS+", "extX"}));
    EXPECT_EQ(l.volumes[0].sizeText, "100   MB");
    EXPECT_EQ(l.volumes[1].sizeText, "40  MB");
    EXPECT_EQ(l.volumes[2].sizeText, "2");  // unrecognised: the entry's own 4096 sectors, no unit
  }
}

TEST(GptWalk, UsesTheWholeTableLbaAndEveryEntry) {
  GptDisk disk(0x102, 128);
  disk.entry(100, 2048, 2048 + 204799, u"far down the table");
  disk.image.write(2048 * kSector, ntfsBootSector(204800));
  const Listing l = list(disk.image);
  EXPECT_EQ(starts(l), std::vector<std::int64_t>{2048});
}

TEST(GptWalk, TinyNtfsIsNotListedButUsesUpItsNumber) {
  GptDisk disk;
  disk.entry(0, 2048, 4095, u"small");
  disk.entry(1, 8192, 8192 + 81919, u"fat");
  disk.image.write(2048 * kSector, ntfsBootSector(2047));
  disk.image.write(8192 * kSector, fat32BootSector(81920));
  const Listing l = list(disk.image);
  ASSERT_EQ(l.volumes.size(), 1u);
  EXPECT_EQ(l.volumes[0].label, "1");
}

TEST(GptWalk, PartitionPastTheEndReportsErrorAndKeepsEarlierVolumes) {
  GptDisk disk;
  disk.entry(0, 2048, 2048 + 204799, u"ntfs");
  disk.entry(1, 1u << 30, (1u << 30) + 100, u"beyond");
  disk.image.write(2048 * kSector, ntfsBootSector(204800));
  const Listing l = list(disk.image);
  EXPECT_NE(l.result, 0);
  EXPECT_EQ(starts(l), std::vector<std::int64_t>{2048});
}

TEST(GptWalk, StopEndsTheWalkAfterARecognisedVolume) {
  GptDisk disk;
  disk.entry(0, 2048, 2048 + 204799, u"ntfs");
  disk.entry(1, 300000, 300000 + 81919, u"fat");
  disk.image.write(2048 * kSector, ntfsBootSector(204800));
  disk.image.write(300000 * kSector, fat32BootSector(81920));
  FileReadSeek source;
  ASSERT_TRUE(source.open(disk.image.path()));
  JobContext job;
  VolumeList partition(job);
  partition.volumeAdded = [&](const VolumeRecord&) { job.requestStop(); };
  EXPECT_EQ(listVolumes(source, partition), 0);
  EXPECT_EQ(partition.volumes.size(), 1u);
}

TEST(GptWalk, ProtectiveMbrWithoutGptHeaderIsOneUnknownVolume) {
  TempImage image;
  image.write(0, partitionTable({{0xEE, 1, 100000}}));
  image.resize(100001 * kSector);
  EXPECT_EQ(kinds(list(image)), std::vector<std::string>{"Unknown"});
}

struct ProbeCase {
  const char* name;
  std::uint64_t offset;
  Sector sector;
  std::uint64_t imageBytes;
  const char* kind;
  const char* sizeText;
  std::uint64_t sizeBytes;  // what the structure claims, exactly
  std::optional<FileSystemId> id{};
};
void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }


class Probe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(Probe, ClassifiesTheVolumeImage) {
  const ProbeCase& c = GetParam();
  TempImage image;
  image.write(c.offset, c.sector);
  image.resize(c.imageBytes);
  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path()));
  VolumeRecord record{"before", "", "x", "y", 77};
  const bool found = probeVolumeImage(source, record);
  if (std::string(c.kind).empty()) {
    EXPECT_FALSE(found);
    EXPECT_EQ(record, (VolumeRecord{"before", "", "x", "y", 77}));
    return;
  }
  ASSERT_TRUE(found);
  // Only a boot sector too damaged to read names no kind.
  EXPECT_EQ(record, (VolumeRecord{c.kind, "", "0", c.sizeText, 0, c.sizeBytes, c.id, !c.id}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Probe,
    ::testing::Values(ProbeCase{"Ntfs300MiB", 0, ntfsBootSector(614400), 4096, "NTFS", "300   MB", 614400ull * 512,
                                FileSystemId::Ntfs},
                      ProbeCase{"ExFat", 0, exfatBootSector(409600), 4096, "FAT64", "200   MB", 409600ull * 512,
                                FileSystemId::ExFat},
                      ProbeCase{"Fat16", 0, fat16BootSector(40960), 4096, "FAT16", "20   MB", 40960ull * 512,
                                FileSystemId::Fat16},
                      ProbeCase{"HfsPlus", 1024, hfsPlusHeader(4096, 25600), 4096, "HFS+", "100   MB", 25600ull * 4096,
                                FileSystemId::HfsPlus},
                      ProbeCase{"Ext", 1024, extSuperblock(25600), 4096, "extX", "100   MB", 25600ull * 4096,
                                FileSystemId::Ext},
                      ProbeCase{"DamagedFatBootSector", 0,
                                fatBootSector({.sectorsPerFat16 = 200, .totalSectors = 40000, .sectorsPerCluster = 3,
                                               .oem = "MSDOS5.0"}),
                                4096, "UNKNOWN", "0   MB", 0, std::nullopt},
                      ProbeCase{"Zeros", 0, Sector(512), 4096, "", "", 0},
                      ProbeCase{"ShorterThanASector", 0, Sector(100, 0xEB), 100, "", "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VolumeTests, ExFatAndHfsPlusAtASector) {
  TempImage image;
  image.write(100 * kSector, exfatBootSector(4096));
  image.write(202 * kSector, hfsPlusHeader(4096, 256));
  image.resize(300 * kSector);
  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path()));
  EXPECT_TRUE(isExFatAt(source, 100));
  EXPECT_FALSE(isExFatAt(source, 200));
  EXPECT_TRUE(isHfsPlusAt(source, 200));
  EXPECT_FALSE(isHfsPlusAt(source, 100));
  EXPECT_FALSE(isExFatAt(source, 1 << 20));  // past the end
  EXPECT_FALSE(isHfsPlusAt(source, -5));
}

}  // namespace
}  // namespace quorvel
