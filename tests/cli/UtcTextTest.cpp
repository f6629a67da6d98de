// The ISO 8601 texts of `ls --json` and `search --json`, across the whole
// range a damaged volume can put into a 64-bit count of seconds. The
// expected texts were worked out apart, with Python's calendar.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "cli/UtcText.h"

namespace quorvel::cli {
namespace {

struct UtcCase {
  std::int64_t seconds;
  std::uint32_t nanoseconds;
  const char* text;
};

TEST(CliUtcText, FormatsEveryRepresentableTime) {
  const UtcCase cases[] = {
      {0, 0, "1970-01-01T00:00:00Z"},
      {-1, 0, "1969-12-31T23:59:59Z"},                 // before the epoch: the day before, not a negative clock
      {-1, 999'999'999, "1969-12-31T23:59:59Z"},       // the fraction is cut off, never rounded up
      {1709647629, 500'000'000, "2024-03-05T14:07:09Z"},
      {951782400, 0, "2000-02-29T00:00:00Z"},          // a leap day of a year divisible by 400
      {4107542400, 0, "2100-03-01T00:00:00Z"},         // 2100 has no leap day
      {315532800, 0, "1980-01-01T00:00:00Z"},          // the first FAT date
      {2147483648, 0, "2038-01-19T03:14:08Z"},         // past a 32-bit time_t
      {-11644473600, 0, "1601-01-01T00:00:00Z"},       // the first NTFS time
      {1833029933770, 0, "+60056-05-28T05:36:10Z"},    // the last NTFS time
      {253402300799, 0, "9999-12-31T23:59:59Z"},
      {253402300800, 0, "+10000-01-01T00:00:00Z"},
      {-62135596801, 0, "0000-12-31T23:59:59Z"},
      {-62167219200, 0, "0000-01-01T00:00:00Z"},
      {-62167219201, 0, "-0001-12-31T23:59:59Z"},
      {-63072000000, 0, "-0029-05-01T00:00:00Z"},
      {std::numeric_limits<std::int64_t>::max(), 0, "+292277026596-12-04T15:30:07Z"},
      {std::numeric_limits<std::int64_t>::min(), 0, "-292277022657-01-27T08:29:52Z"},
  };
  for (const UtcCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.seconds));
    EXPECT_EQ(utcText(FileTime{c.seconds, c.nanoseconds}), c.text);
  }
}

}  // namespace
}  // namespace quorvel::cli
