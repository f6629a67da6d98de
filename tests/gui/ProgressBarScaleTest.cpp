// Job progress on an int progress bar, without a display.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <limits>
#include <vector>

#include "logic/ProgressBarScale.h"

using wizard::BarRange;
using wizard::ProgressBarScale;

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kIntMax = INT_MAX;

struct Shown {
  std::int64_t position;
  int value;
};

}  // namespace

TEST(ProgressBarScale, MapsEachRangeOntoTheBar) {
  const struct {
    const char* what;
    std::int64_t low, high;
    BarRange bar;
    std::vector<Shown> shown;
  } cases[] = {
      {"a range an int holds", 0, 1000, {0, 1000}, {{0, 0}, {1, 1}, {500, 500}, {1000, 1000}}},
      {"the widest an int holds", 0, kIntMax, {0, INT_MAX}, {{kIntMax - 1, INT_MAX - 1}, {kIntMax, INT_MAX}}},
      {"one past an int", 0, kIntMax + 1, {0, (INT_MAX / 2) + 1}, {{kIntMax + 1, (INT_MAX / 2) + 1}, {1, 0}, {2, 1}}},
      {"bytes of a 6 GB image",
       0,
       6'000'000'000,
       {0, 2'000'000'000},
       {{3'000'000'000, 1'000'000'000}, {6'000'000'000, 2'000'000'000}}},
      {"bounds both above an int", 5'000'000'000, 5'000'001'000, {0, 1000}, {{5'000'000'500, 500}}},
      {"a negative low bound", -100, 100, {0, 200}, {{-100, 0}, {0, 100}, {100, 200}}},
      {"both bounds negative", -300, -100, {0, 200}, {{-200, 100}}},
      {"all of int64", kMin, kMax, {0, INT_MAX - 1}, {{kMin, 0}, {kMax, INT_MAX - 1}, {0, INT_MAX / 2}}},
      {"reversed: empty", 1000, 10, {0, 0}, {{10, 0}, {500, 0}, {1000, 0}}},
      {"empty", 0, 0, {0, 0}, {{0, 0}, {7, 0}}},
      {"positions past either end", 0, 1000, {0, 1000}, {{-5, 0}, {1001, 1000}, {kMax, 1000}, {kMin, 0}}},
      {"positions past a wide range", 0, kMax, {0, INT_MAX - 1}, {{kMin, 0}, {-1, 0}, {kMax, INT_MAX - 1}}},
  };
  for (const auto& c : cases) {
    ProgressBarScale scale;
    EXPECT_EQ(scale.setJobRange(c.low, c.high), c.bar) << c.what;
    EXPECT_EQ(scale.barRange(), c.bar) << c.what;
    for (const Shown& s : c.shown) EXPECT_EQ(scale.barValue(s.position), s.value) << c.what << " at " << s.position;
  }
}

// Whatever the range, the bar starts at 0, ends at its maximum, never goes
// back while the job goes on, and never leaves its range.
TEST(ProgressBarScale, TheBarFollowsTheJobFromStartToEnd) {
  const struct {
    std::int64_t low, high;
  } ranges[] = {{0, 1}, {0, 100}, {0, kIntMax}, {0, kIntMax * 3 + 7}, {-kIntMax * 5, kIntMax}, {kMin, kMax},
                {kMax - 10, kMax}, {kMin, kMin + 3}};
  for (const auto& r : ranges) {
    ProgressBarScale scale;
    const BarRange bar = scale.setJobRange(r.low, r.high);
    EXPECT_EQ(bar.minimum, 0);
    EXPECT_GT(bar.maximum, 0);
    EXPECT_EQ(scale.barValue(r.low), 0);
    EXPECT_EQ(scale.barValue(r.high), bar.maximum);
    int last = 0;
    const std::uint64_t width = static_cast<std::uint64_t>(r.high) - static_cast<std::uint64_t>(r.low);
    for (int step = 0; step <= 64; ++step) {
      const auto position = static_cast<std::int64_t>(static_cast<std::uint64_t>(r.low) + width / 64 * step);
      const int value = scale.barValue(position);
      EXPECT_GE(value, last) << r.low << ".." << r.high << " at " << position;
      EXPECT_LE(value, bar.maximum);
      last = value;
    }
  }
}

TEST(ProgressBarScale, BeforeAnyRangeTheBarCountsToAHundred) {
  const ProgressBarScale scale;
  EXPECT_EQ(scale.barRange(), (BarRange{0, 100}));
  EXPECT_EQ(scale.barValue(40), 40);
  EXPECT_EQ(scale.barValue(400), 100);
}

// A job that sets a new range for its next piece of work is shown by the new
// range alone: a wide range's divisor does not stay behind, nor a narrow one's
// lack of it.
TEST(ProgressBarScale, ANewRangeReplacesTheOldOne) {
  ProgressBarScale scale;
  scale.setJobRange(0, 6'000'000'000);
  EXPECT_EQ(scale.barValue(3'000'000'000), 1'000'000'000);
  EXPECT_EQ(scale.setJobRange(0, 100), (BarRange{0, 100}));
  EXPECT_EQ(scale.barValue(50), 50);
  EXPECT_EQ(scale.setJobRange(-50, 50), (BarRange{0, 100}));
  EXPECT_EQ(scale.barValue(0), 50);
  EXPECT_EQ(scale.setJobRange(0, 10'000'000'000), (BarRange{0, 2'000'000'000}));
  EXPECT_EQ(scale.barValue(10'000'000'000), 2'000'000'000);
  EXPECT_EQ(scale.barValue(5'000'000'000), 1'000'000'000);
  EXPECT_EQ(scale.setJobRange(10, 0), (BarRange{0, 0}));
  EXPECT_EQ(scale.barValue(5), 0);
}
