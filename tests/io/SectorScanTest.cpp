#include "io/SectorScan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/TestSupport.h"

namespace quorvel {
namespace {

using test::TempImage;

constexpr std::size_t kStep = 512;

// An image whose every 512-byte step starts with its own number, so a
// window shows whether it was cut from the right place.
std::vector<std::uint8_t> numberedSteps(std::size_t bytes) {
  std::vector<std::uint8_t> image(bytes, 0xAA);
  for (std::size_t at = 0; at + 4 <= bytes; at += kStep) {
    const auto n = static_cast<std::uint32_t>(at / kStep);
    for (int b = 0; b < 4; ++b) image[at + b] = static_cast<std::uint8_t>(n >> (8 * b));
  }
  return image;
}

struct Visit {
  std::uint64_t offset;
  std::uint32_t tag;      // the step number the window starts with
  std::size_t window;     // bytes the window holds
};

struct ScanRun {
  std::vector<Visit> visits;
  std::vector<std::uint64_t> chunkEnds;
  ScanEnd end = ScanEnd::Finished;
};

// Scans `extent` of an image in 4-step chunks; `onward` says where to go on
// from each visited offset (nothing: the next step).
template <typename Onward>
ScanRun scanImage(const TempImage& image, VolumeExtent extent, SectorScanOptions options, Onward onward,
                  JobContext* job = nullptr) {
  FileReadSeek source;
  EXPECT_TRUE(source.open(image.path()));
  JobContext ownJob;
  SectorScan scan(VolumeView(source, extent), job ? *job : ownJob, options);
  ScanRun run;
  scan.afterChunk = [&](std::uint64_t next) {
    run.chunkEnds.push_back(next);
    return true;
  };
  run.end = scan.run([&](std::uint64_t offset, Bytes window) -> std::uint64_t {
    run.visits.push_back({offset, le32(window, 0), window.size()});
    return onward(offset);
  });
  return run;
}

SectorScanOptions fourStepChunks() {
  SectorScanOptions options;
  options.chunkBytes = 4 * kStep;
  options.stepBytes = kStep;
  return options;
}

std::vector<std::uint64_t> offsets(const ScanRun& run) {
  std::vector<std::uint64_t> out;
  for (const Visit& v : run.visits) out.push_back(v.offset);
  return out;
}

const auto nextStep = [](std::uint64_t offset) { return offset + kStep; };

TEST(SectorScan, EveryWholeStepOnceInOrderWithTheShortLastChunk) {
  // Ten whole steps and a cut one: chunks of 4, 4 and 2 steps; the cut step is not looked at.
  const TempImage image(numberedSteps(10 * kStep + 100));
  const ScanRun run = scanImage(image, {}, fourStepChunks(), nextStep);
  ASSERT_EQ(run.visits.size(), 10u);
  for (std::size_t i = 0; i < run.visits.size(); ++i) {
    EXPECT_EQ(run.visits[i].offset, i * kStep);
    EXPECT_EQ(run.visits[i].tag, i) << "the window of step " << i;
    // The window reaches to the end of what its chunk read.
    const std::size_t chunkEnd = i < 8 ? (i / 4 + 1) * 4 * kStep : 10 * kStep + 100;
    EXPECT_EQ(run.visits[i].window, chunkEnd - i * kStep) << i;
  }
  EXPECT_EQ(run.chunkEnds, (std::vector<std::uint64_t>{4 * kStep, 8 * kStep, 10 * kStep}));
  EXPECT_EQ(run.end, ScanEnd::Finished);
}

TEST(SectorScan, OffsetsCountFromTheVolumeAndStopAtItsEnd) {
  const TempImage image(numberedSteps(20 * kStep));
  const ScanRun run = scanImage(image, {3 * kStep, 5 * kStep}, fourStepChunks(), nextStep);
  EXPECT_EQ(offsets(run), (std::vector<std::uint64_t>{0, 512, 1024, 1536, 2048}));
  EXPECT_EQ(run.visits.front().tag, 3u);
  EXPECT_EQ(run.visits.back().tag, 7u);
  EXPECT_EQ(run.visits.back().window, kStep) << "nothing behind the volume's end is shown";
}

TEST(SectorScan, TheRangeNarrowsTheScan) {
  const TempImage image(numberedSteps(20 * kStep));
  SectorScanOptions options = fourStepChunks();
  options.from = 2 * kStep;
  options.to = 7 * kStep;
  const ScanRun run = scanImage(image, {}, options, nextStep);
  EXPECT_EQ(offsets(run), (std::vector<std::uint64_t>{1024, 1536, 2048, 2560, 3072}));
  EXPECT_EQ(run.chunkEnds.back(), 7 * kStep);
}

TEST(SectorScan, ResumesBehindAFindInTheSameOrALaterChunk) {
  const TempImage image(numberedSteps(40 * kStep));
  const ScanRun run = scanImage(image, {}, fourStepChunks(), [](std::uint64_t offset) -> std::uint64_t {
    if (offset == 1 * kStep) return 3 * kStep;    // within the chunk
    if (offset == 3 * kStep) return 13 * kStep;   // into a later chunk, which starts there
    if (offset == 14 * kStep) return 14 * kStep;  // no move: one step on all the same
    if (offset == 16 * kStep) return kEndScan;
    return offset + kStep;
  });
  EXPECT_EQ(offsets(run), (std::vector<std::uint64_t>{0, 512, 1536, 6656, 7168, 7680, 8192}));
  EXPECT_EQ(run.visits[3].tag, 13u);
  EXPECT_EQ(run.visits[3].window, 4 * kStep) << "the chunk after a jump begins at the jump";
  EXPECT_EQ(run.end, ScanEnd::Ended);
}

TEST(SectorScan, AJumpPastTheEndFinishesTheScan) {
  const TempImage image(numberedSteps(8 * kStep));
  const ScanRun run = scanImage(image, {}, fourStepChunks(), [](std::uint64_t) { return kEndScan - 1; });
  EXPECT_EQ(offsets(run), std::vector<std::uint64_t>{0});
  EXPECT_EQ(run.chunkEnds, std::vector<std::uint64_t>{8 * kStep}) << "progress reaches the end";
  EXPECT_EQ(run.end, ScanEnd::Finished);
}

TEST(SectorScan, StopAndTheChunkCallbackEndTheScan) {
  const TempImage image(numberedSteps(16 * kStep));
  JobContext stopped;
  stopped.requestStop();
  const ScanRun none = scanImage(image, {}, fourStepChunks(), nextStep, &stopped);
  EXPECT_TRUE(none.visits.empty());
  EXPECT_EQ(none.end, ScanEnd::Stopped);

  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path()));
  JobContext job;
  SectorScan scan(VolumeView(source, {}), job, fourStepChunks());
  int chunks = 0;
  scan.afterChunk = [&](std::uint64_t) { return ++chunks < 2; };
  int visits = 0;
  EXPECT_EQ(scan.run([&](std::uint64_t offset, Bytes) {
    ++visits;
    return offset + kStep;
  }),
            ScanEnd::Ended);
  EXPECT_EQ(visits, 8);
}

TEST(SectorScan, ChunkCountCoversTheShortLastChunk) {
  const TempImage image(numberedSteps(10 * kStep + 100));
  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path()));
  JobContext job;
  EXPECT_EQ(SectorScan(VolumeView(source, {}), job, fourStepChunks()).chunkCount(), 3u);
  SectorScanOptions empty = fourStepChunks();
  empty.from = 20 * kStep;
  EXPECT_EQ(SectorScan(VolumeView(source, {}), job, empty).chunkCount(), 0u);
}


// A sparse image of `bytes` holding "MARK" at each of `marks` and holes
// elsewhere; false when the file system here keeps no holes.
bool writeSparseImage(const std::string& path, std::uint64_t bytes, const std::vector<std::uint64_t>& marks) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) return false;
  bool written = true;
  for (const std::uint64_t at : marks) written = written && ::pwrite(fd, "MARK", 4, static_cast<off_t>(at)) == 4;
  struct stat info {};
  const bool sparse = ::fstat(fd, &info) == 0 && static_cast<std::uint64_t>(info.st_blocks) * 512 < bytes / 4;
  ::close(fd);
  return written && sparse;
}

struct HoleCase {
  const char* name;
  std::vector<std::uint64_t> partSizes;  // one part: a plain image; more: a split raw set
};
void PrintTo(const HoleCase& c, std::ostream* os) { *os << c.name; }

class SectorScanHoles : public ::testing::TestWithParam<HoleCase> {};

TEST_P(SectorScanHoles, PassesOverHolesAndStillFindsWhatLiesBesideThem) {
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  constexpr std::size_t kChunk = 1 << 20;
  const HoleCase& c = GetParam();
  std::uint64_t total = 0;
  for (const std::uint64_t size : c.partSizes) total += size;
  // Data at the start, in the middle of a hole, at a part's start and in the last step.
  const std::uint64_t third = c.partSizes.size() > 1 ? c.partSizes.front() : 6 * kGiB;
  const std::vector<std::uint64_t> marks = {0, 3 * kGiB + 5 * kStep, third, total - kStep};
  test::TempFolder folder;
  std::vector<std::uint64_t> starts;
  for (std::size_t i = 0, start = 0; i < c.partSizes.size(); start += c.partSizes[i], ++i) {
    std::vector<std::uint64_t> inPart;
    for (const std::uint64_t m : marks)
      if (m >= start && m < start + c.partSizes[i]) inPart.push_back(m - start);
    const std::string name = c.partSizes.size() > 1 ? "disk.00" + std::to_string(i + 1) : "disk.img";
    if (!writeSparseImage((folder.path() / name).string(), c.partSizes[i], inPart))
      GTEST_SKIP() << "no sparse files here";
  }
  FileReadSeek source;
  ASSERT_TRUE(source.open((folder.path() / (c.partSizes.size() > 1 ? "disk.001" : "disk.img")).string()));
  ASSERT_EQ(source.sourceLength(), total);

  JobContext job;
  SectorScan scan(VolumeView(source, {}), job, {.chunkBytes = kChunk, .stepBytes = kStep});
  std::vector<std::uint64_t> found;
  std::vector<std::uint64_t> visited;
  std::uint64_t lastProgress = 0;
  scan.afterChunk = [&](std::uint64_t next) {
    EXPECT_GE(scan.chunksBefore(next), lastProgress) << "progress never goes back";
    lastProgress = scan.chunksBefore(next);
    return true;
  };
  EXPECT_EQ(scan.run([&](std::uint64_t offset, Bytes window) {
    visited.push_back(offset);
    if (std::memcmp(window.data(), "MARK", 4) == 0) found.push_back(offset);
    return offset + kStep;
  }),
            ScanEnd::Finished);
  EXPECT_EQ(found, marks);
  EXPECT_EQ(lastProgress, scan.chunkCount());
  // The step just before data behind a hole is looked at: a structure may begin there.
  const std::uint64_t beforeMiddle = 3 * kGiB + 4 * kStep;
  EXPECT_TRUE(std::binary_search(visited.begin(), visited.end(), beforeMiddle));
  // A few chunks around each stretch of data, not the gigabytes of holes.
  EXPECT_LT(visited.size(), 16 * kChunk / kStep);
}

INSTANTIATE_TEST_SUITE_P(Images, SectorScanHoles,
                         ::testing::Values(HoleCase{"plain", {std::uint64_t{8} << 30}},
                                           HoleCase{"split", {std::uint64_t{5} << 30, std::uint64_t{3} << 30}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
