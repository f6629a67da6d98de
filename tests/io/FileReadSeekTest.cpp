#include "io/FileReadSeek.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdlib>

#include "support/TestSupport.h"

namespace quorvel {
namespace {

using test::TempImage;

// Byte i of a patterned image holds a value that names its position.
std::vector<std::uint8_t> pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) | 1);
  return bytes;
}

struct ReadCase {
  const char* name;
  std::size_t imageSize;
  std::int64_t offset;
  std::uint32_t count;
  bool complete;       // the read's result
  std::size_t copied;  // bytes that come from the image; the rest of count is zero
  bool untouched;      // nothing read: the destination keeps its old bytes
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }


class SourceReads : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SourceReads, ReadAtAndReadUpToAgree) {
  const ReadCase& c = GetParam();
  const auto bytes = pattern(c.imageSize);
  TempImage image(bytes);
  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path()));

  for (const bool zeroFilled : {true, false}) {
    std::vector<std::uint8_t> destination(c.count, 0xCC);
    if (zeroFilled) {
      EXPECT_EQ(source.readAt(c.offset, destination.data(), c.count), c.complete);
    } else {
      EXPECT_EQ(source.readUpTo(c.offset, destination.data(), c.count), static_cast<std::int64_t>(c.copied));
    }
    for (std::size_t i = 0; i < c.count; ++i) {
      const std::uint8_t expected = i < c.copied ? bytes[static_cast<std::size_t>(c.offset) + i]
                                    : c.untouched || !zeroFilled ? 0xCC
                                                                 : 0;
      ASSERT_EQ(destination[i], expected) << "byte " << i << (zeroFilled ? " readAt" : " readUpTo");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SourceReads,
    ::testing::Values(ReadCase{"WholeSector", 4096, 512, 512, true, 512, false},
                      ReadCase{"ShortReadIsZeroFilled", 1724, 1024, 1024, false, 700, false},
                      ReadCase{"TailOfOddLengthImage", 1000, 512, 512, false, 488, false},
                      ReadCase{"AtTheEndLeavesDestination", 1024, 1024, 512, false, 0, true},
                      ReadCase{"PastTheEndLeavesDestination", 1024, 5000, 512, false, 0, true},
                      ReadCase{"FarIntoTheImage", 1048576 + 4096, 1048576, 512, true, 512, false},
                      ReadCase{"FarIntoTheImagePlusOffset", 1048576 + 4096, 1048576 + 1024, 1024, true, 1024, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FileReadSeek, EmptyImageOpensWithNoSectors) {
  TempImage image;
  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path()));
  EXPECT_EQ(source.sourceLength(), 0u);
  EXPECT_EQ(source.sectorCount(), 0u);
  std::array<std::uint8_t, 512> buffer{};
  EXPECT_FALSE(source.readAt(0, buffer.data(), 512));
}

TEST(FileReadSeek, SectorCountRoundsDown) {
  TempImage image(std::vector<std::uint8_t>(1000));
  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path()));
  EXPECT_EQ(source.sourceLength(), 1000u);
  EXPECT_EQ(source.sectorCount(), 1u);
}

TEST(FileReadSeek, NegativeOffsetOrClosedSourceReadsNothing) {
  TempImage image(pattern(2048));
  FileReadSeek source;
  std::array<std::uint8_t, 512> buffer{};
  EXPECT_FALSE(source.readAt(0, buffer.data(), 512));
  EXPECT_EQ(source.readUpTo(0, buffer.data(), 512), -1);
  ASSERT_TRUE(source.open(image.path()));
  EXPECT_FALSE(source.readAt(-512, buffer.data(), 512));
  EXPECT_EQ(source.readUpTo(-1, buffer.data(), 512), -1);
  EXPECT_NE(source.lastError(), 0);
}

TEST(FileReadSeek, FailedOpenSaysWhyAndKeepsTheOldSource) {
  TempImage image(std::vector<std::uint8_t>(4096));
  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path()));
  for (const std::string& bad : {std::string("/nonexistent/image.img"), std::filesystem::path(image.path()).parent_path().string()}) {
    EXPECT_FALSE(source.open(bad));
    EXPECT_NE(source.lastErrorText().find(bad), std::string::npos) << source.lastErrorText();
    EXPECT_EQ(source.sectorCount(), 8u);
    std::array<std::uint8_t, 512> buffer{};
    EXPECT_TRUE(source.readAt(0, buffer.data(), 512));
  }
}

TEST(FileReadSeek, NeverWritesTheSource) {
  const auto bytes = pattern(8192);
  TempImage image(bytes);
  struct stat before {};
  ASSERT_EQ(stat(image.path().c_str(), &before), 0);
  {
    FileReadSeek source;
    ASSERT_TRUE(source.open(image.path()));
    std::vector<std::uint8_t> buffer(8192);
    ASSERT_TRUE(source.readAt(0, buffer.data(), buffer.size()));
    EXPECT_EQ(buffer, bytes);
  }
  struct stat after {};
  ASSERT_EQ(stat(image.path().c_str(), &after), 0);
  EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

// A block device's size comes from the kernel's byte count.
TEST(FileReadSeek, BlockDeviceSizeFromTheKernel) {
  TempImage image(pattern(3 * 1024 * 1024 + 512));
  const auto attach = test::runCommand({"losetup", "--find", "--show", "--read-only", image.path()});
  if (attach.exitCode != 0) GTEST_SKIP() << "no loop device here: " << attach.err;
  const std::string device = attach.out.substr(0, attach.out.find('\n'));
  FileReadSeek source;
  const bool opened = source.open(device);
  const std::uint64_t sectors = source.sectorCount();
  test::runCommand({"losetup", "--detach", device});
  ASSERT_TRUE(opened);
  EXPECT_EQ(sectors, (3u * 1024 * 1024 + 512) / 512);
}

}  // namespace
}  // namespace quorvel
