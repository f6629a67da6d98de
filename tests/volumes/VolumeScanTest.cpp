// The advanced scan on hand-made, sparse images with boot sectors and
// headers planted at known sectors.
#include <gtest/gtest.h>

#include "volumes/BootSectorBuilders.h"
#include "volumes/VolumeList.h"

namespace quorvel {
namespace {

using namespace test;

constexpr std::uint64_t kSector = 512;

struct ScanResult {
  std::vector<VolumeRecord> volumes;
  RecordingObserver observer;
};

struct ScanOptions {
  bool skip = true;
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::function<void(JobContext&, const VolumeRecord&)> onVolume = {};
};

std::unique_ptr<ScanResult> scan(const TempImage& image, const ScanOptions& options = {}) {
  auto result = std::make_unique<ScanResult>();
  FileReadSeek source;
  EXPECT_TRUE(source.open(image.path()));
  JobContext job(&result->observer);
  VolumeList partition(job);
  partition.skipVolumeSize = options.skip;
  partition.scanStartSector = options.start;
  partition.scanEndSector = options.end;
  if (options.onVolume) partition.volumeAdded = [&](const VolumeRecord& v) { options.onVolume(job, v); };
  scanForVolumes(source, partition);
  result->volumes = partition.volumes;
  return result;
}

std::vector<std::int64_t> starts(const ScanResult& r) {
  std::vector<std::int64_t> s;
  for (const auto& v : r.volumes) s.push_back(v.startSector);
  return s;
}

TEST(VolumeScan, NtfsSkipsToBehindItsBackupBootSector) {
  TempImage image;
  image.write(2048 * kSector, ntfsBootSector(204800));
  image.write(206848 * kSector, ntfsBootSector(204800));   // the backup
  image.write(206849 * kSector, fat32BootSector(81920));   // the first sector looked at again
  image.resize((206849 + 81920 + 10) * kSector);

  const auto skipping = scan(image);
  EXPECT_EQ(starts(*skipping), (std::vector<std::int64_t>{2048, 206849}));
  EXPECT_EQ(skipping->volumes[0],
            (VolumeRecord{"NTFS", "", "0", "100   MB", 2048, 204800ull * 512, FileSystemId::Ntfs}));
  EXPECT_EQ(skipping->volumes[1],
            (VolumeRecord{"FAT32", "", "1", "40  MB", 206849, 81920ull * 512, FileSystemId::Fat32}));
  EXPECT_EQ(skipping->observer.statuses,
            (std::vector<std::string>{"Scanning partition.....", "found NTFS 1...", "found FAT 32..."}));

  const auto looking = scan(image, {.skip = false});
  EXPECT_EQ(starts(*looking), (std::vector<std::int64_t>{2048, 206848, 206849}));
  EXPECT_EQ(looking->observer.statuses[2], "found NTFS 2...");
}

TEST(VolumeScan, Fat32AtSector63SkipsItsSectorCount) {
  TempImage image;
  image.write(63 * kSector, fat32BootSector(2097152));
  image.write(2097214 * kSector, ntfsBootSector(4096));  // inside the skipped stretch
  image.write(2097215 * kSector, ntfsBootSector(4096));  // packed right behind it
  image.resize((2097215 + 4097) * kSector);
  const auto r = scan(image);
  ASSERT_EQ(starts(*r), (std::vector<std::int64_t>{63, 2097215}));
  EXPECT_EQ(r->volumes[0].sizeText, "1024  MB");
}

// Volumes sized exactly to their partitions follow each other without a gap.
TEST(VolumeScan, PackedVolumesAreAllFound) {
  TempImage image;
  image.write(2048 * kSector, exfatBootSector(4096));
  image.write((6144 + 2) * kSector, hfsPlusHeader(4096, 512));
  image.write((10240 + 2) * kSector, extSuperblock(512));
  image.write(14336 * kSector, fat16BootSector(4096));
  image.resize(20480 * kSector);
  const auto r = scan(image);
  EXPECT_EQ(starts(*r), (std::vector<std::int64_t>{2048, 6144, 10240, 14336}));
}

TEST(VolumeScan, WhatIsNotRecorded) {
  TempImage image;
  image.write(100 * kSector, ntfsBootSector(2047));  // under 1 MiB
  image.write(300 * kSector, fatBootSector({.sectorsPerFat16 = 512, .totalSectors = 4000, .sectorsPerCluster = 3,
                                            .oem = "MSDOS5.0"}));
  image.write(502 * kSector, hfsPlusHeader(512, 100));  // under 1 MiB
  image.write(702 * kSector, extSuperblock(25600, 2, 1));  // a backup superblock
  image.write(902 * kSector, hfsPlusHeader(1u << 20, 1u << 30));  // absurdly large: not a volume...
  image.write(1000 * kSector, ntfsBootSector(4096));
  image.resize(8192 * kSector);
  const auto r = scan(image);
  EXPECT_TRUE(r->volumes.empty());
  EXPECT_EQ(r->observer.statuses, (std::vector<std::string>{"Scanning partition.....", "found unknown..."}));
  // ...but the scan still jumps over it.
  const auto noSkip = scan(image, {.skip = false});
  EXPECT_EQ(starts(*noSkip), std::vector<std::int64_t>{1000});
}

TEST(VolumeScan, HeadersTwoSectorsInGiveTheVolumeStart) {
  TempImage image;
  image.write(1026 * kSector, hfsPlusHeader(4096, 25600));
  image.write((1024 + 204800 + 8) * kSector, extSuperblock(25600));
  image.resize((1024 + 204800 + 6 + 204800 + 100) * kSector);
  const auto r = scan(image);
  ASSERT_EQ(r->volumes.size(), 2u);
  EXPECT_EQ(r->volumes[0], (VolumeRecord{"HFS+", "", "0", "100  MB", 1024, 25600ull * 4096, FileSystemId::HfsPlus}));
  EXPECT_EQ(r->volumes[1],
            (VolumeRecord{"extX", "", "1", "100  MB", 1024 + 204800 + 6, 25600ull * 4096, FileSystemId::Ext}));
  EXPECT_EQ(r->observer.statuses.back(), "found extX...");
}

// The chunk holding the end sector is examined in full; the next is not.
TEST(VolumeScan, CustomRangeIsHonouredInWholeChunks) {
  TempImage image;
  for (const std::uint64_t s : {2047, 2048, 6143, 6144}) image.write(s * kSector, fat16BootSector(4096));
  image.resize(16384 * kSector);
  const auto r = scan(image, {.skip = false, .start = 2048, .end = 4096});
  EXPECT_EQ(starts(*r), (std::vector<std::int64_t>{2048, 6143}));

  const auto backwards = scan(image, {.skip = false, .start = 4096, .end = 2048});
  EXPECT_TRUE(backwards->volumes.empty());
  const auto negative = scan(image, {.skip = false, .start = -1});
  EXPECT_TRUE(negative->volumes.empty());
}

TEST(VolumeScan, TheShortLastChunkIsExamined) {
  TempImage image;
  image.write((2048 + 1000) * kSector, fat16BootSector(4096));
  image.resize((2048 + 1001) * kSector + 100);  // neither whole chunks nor whole sectors
  const auto r = scan(image);
  EXPECT_EQ(starts(*r), std::vector<std::int64_t>{3048});
  EXPECT_EQ(r->observer.positions.back(), 1000);
}

TEST(VolumeScan, EmptySourceEndsAtOnce) {
  TempImage image;
  const auto r = scan(image);
  EXPECT_TRUE(r->volumes.empty());
  EXPECT_EQ(r->observer.ranges, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 1000}}));
  EXPECT_TRUE(r->observer.positions.empty());
}

TEST(VolumeScan, FoundOrderLabelsAndProgress) {
  TempImage image;
  image.write(4096 * kSector, exfatBootSector(2048));
  image.write(8192 * kSector, ntfsBootSector(4096));
  image.write(14000 * kSector, ntfsBootSector(4096));
  image.resize(20480 * kSector);
  const auto r = scan(image);
  ASSERT_EQ(starts(*r), (std::vector<std::int64_t>{4096, 8192, 14000}));
  EXPECT_EQ(r->volumes[2].label, "2");
  EXPECT_EQ(r->observer.statuses,
            (std::vector<std::string>{"Scanning partition.....", "found FAT 64...", "found NTFS 1...",
                                      "found NTFS 2..."}));
  EXPECT_EQ(r->observer.ranges.front(), (std::pair<std::int64_t, std::int64_t>{0, 1000}));
  EXPECT_TRUE(std::is_sorted(r->observer.positions.begin(), r->observer.positions.end()));
  EXPECT_EQ(r->observer.positions.back(), 1000);
}

TEST(VolumeScan, StopKeepsWhatWasFound) {
  TempImage image;
  image.write(4096 * kSector, ntfsBootSector(4096));
  image.write(10000 * kSector, ntfsBootSector(4096));
  image.resize(20480 * kSector);
  const auto r = scan(image, {.onVolume = [](JobContext& job, const VolumeRecord&) { job.requestStop(); }});
  EXPECT_EQ(starts(*r), std::vector<std::int64_t>{4096});
  EXPECT_EQ(r->observer.statuses.back(), "Scanned Partitions");
}

TEST(VolumeScan, HugeSizesDoNotWrapTheScan) {
  TempImage image;
  image.write(0, ntfsBootSector(~0ull));
  image.write(4096 * kSector, ntfsBootSector(4096));
  image.resize(8192 * kSector);
  const auto r = scan(image);
  EXPECT_EQ(starts(*r), std::vector<std::int64_t>{0});
  EXPECT_EQ(r->observer.positions.back(), 1000);
}

}  // namespace
}  // namespace quorvel
