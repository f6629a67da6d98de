#include "fs/TextFormats.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(TimeText, TwelveHourClockAroundMidnightAndNoon) {
  const struct {
    int hour, minute;
    const char* text;
  } cases[] = {
      {0, 0, "07/04/2023  12:00 AM"},  {0, 59, "07/04/2023  12:59 AM"},  {1, 0, "07/04/2023  01:00 AM"},
      {1, 59, "07/04/2023  01:59 AM"}, {11, 0, "07/04/2023  11:00 AM"},  {11, 59, "07/04/2023  11:59 AM"},
      {12, 0, "07/04/2023  12:00 PM"}, {12, 30, "07/04/2023  12:30 PM"}, {12, 59, "07/04/2023  12:59 PM"},
      {13, 0, "07/04/2023  01:00 PM"}, {13, 5, "07/04/2023  01:05 PM"},  {23, 0, "07/04/2023  11:00 PM"},
      {23, 59, "07/04/2023  11:59 PM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.hour) + ":" + std::to_string(c.minute));
    EXPECT_EQ(wallClockText(2023, 7, 4, c.hour, c.minute), c.text);
  }
}

TEST(TimeText, DateFieldsArePaddedAndTheYearIsWhole) {
  EXPECT_EQ(wallClockText(1980, 1, 1, 0, 0), "01/01/1980  12:00 AM");
  EXPECT_EQ(wallClockText(2107, 12, 31, 23, 58), "12/31/2107  11:58 PM");
  EXPECT_EQ(wallClockText(1601, 1, 1, 0, 0), "01/01/1601  12:00 AM");
  EXPECT_EQ(wallClockText(30828, 9, 14, 2, 48), "09/14/30828  02:48 AM");
}

TEST(TimeText, AHourPastTheDayCountsOnAsRecorded) {
  // FAT keeps five bits of hour; a damaged entry may hold up to 31.
  EXPECT_EQ(wallClockText(2023, 7, 4, 24, 0), "07/04/2023  12:00 PM");
  EXPECT_EQ(wallClockText(2023, 7, 4, 31, 59), "07/04/2023  19:59 PM");
}

}  // namespace
}  // namespace quorvel
