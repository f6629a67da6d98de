#include "io/SectorScan.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quorvel
