#include "io/VolumeView.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "support/TestSupport.h"

namespace quorvel {
namespace {

using test::TempImage;

constexpr std::uint64_t kImageBytes = 10000;

std::vector<std::uint8_t> countingBytes() {
  std::vector<std::uint8_t> bytes(kImageBytes);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

struct ViewCase {
  const char* name;
  VolumeExtent extent;
  std::uint64_t limit;       // limitedTo, 0 for none
  std::uint64_t size;        // what the view can read
  std::uint64_t offset;      // a read of 600 bytes here
  std::size_t got;           // bytes of it that come from the image
};
void PrintTo(const ViewCase& c, std::ostream* os) { *os << c.name; }

class VolumeViews : public ::testing::TestWithParam<ViewCase> {};

TEST_P(VolumeViews, ReadsStayInsideTheVolumeAndTheSource) {
  const ViewCase& c = GetParam();
  const std::vector<std::uint8_t> image = countingBytes();
  const TempImage file(image);
  FileReadSeek source;
  ASSERT_TRUE(source.open(file.path()));
  const VolumeView view = VolumeView(source, c.extent).limitedTo(c.limit);
  EXPECT_EQ(view.size(), c.size);

  std::vector<std::uint8_t> out(600, 0xEE);
  EXPECT_EQ(view.read(c.offset, out), c.got == out.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::uint8_t expected = i < c.got ? image[c.extent.startByte + c.offset + i] : 0;
    ASSERT_EQ(out[i], expected) << "byte " << i;
  }
  std::vector<std::uint8_t> upTo(600);
  const std::int64_t n = view.readUpTo(c.offset, upTo);
  EXPECT_EQ(n, static_cast<std::int64_t>(c.got));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VolumeViews,
    ::testing::Values(
        ViewCase{"WholeSourceWhenTheSizeIsUnknown", {0, 0}, 0, kImageBytes, 100, 600},
        ViewCase{"OffsetsCountFromTheVolumeStart", {1000, 4000}, 0, 4000, 0, 600},
        ViewCase{"ReadCutAtTheVolumeEnd", {1000, 4000}, 0, 4000, 3700, 300},
        ViewCase{"VolumeLargerThanTheSourceEndsWithIt", {8000, 1 << 20}, 0, 2000, 1700, 300},
        ViewCase{"FileSystemSizeNarrowsTheView", {1000, 4000}, 2500, 2500, 2000, 500},
        ViewCase{"ANarrowingLargerThanTheViewChangesNothing", {1000, 4000}, 9000, 4000, 3400, 600},
        ViewCase{"StartBehindTheSourceHoldsNothing", {20000, 100}, 0, 0, 0, 0},
        ViewCase{"OffsetPastTheEnd", {0, 0}, 0, kImageBytes, kImageBytes + 5, 0},
        ViewCase{"HugeOffsetDoesNotWrap", {1000, 0}, 0, kImageBytes - 1000,
                 std::numeric_limits<std::uint64_t>::max() - 100, 0},
        ViewCase{"HugeStartDoesNotWrap", {std::numeric_limits<std::uint64_t>::max() - 10, 0}, 0, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VolumeViews, ContainsSaysWhatLiesInside) {
  const TempImage file(countingBytes());
  FileReadSeek source;
  ASSERT_TRUE(source.open(file.path()));
  const VolumeView view(source, {1000, 4000});
  EXPECT_TRUE(view.contains(0, 4000));
  EXPECT_TRUE(view.contains(4000, 0));
  EXPECT_FALSE(view.contains(1, 4000));
  EXPECT_FALSE(view.contains(std::numeric_limits<std::uint64_t>::max(), 2));
  EXPECT_FALSE(VolumeView().contains(0, 1));
}

}  // namespace
}  // namespace quorvel
