#include "cli/UtcText.h"

#include <cstdint>
#include <cstdio>

namespace quorvel::cli {

std::string utcText(const FileTime& time) {
  constexpr std::int64_t kSecondsPerDay = 86400;
  std::int64_t days = time.seconds / kSecondsPerDay;
  std::int64_t secondOfDay = time.seconds % kSecondsPerDay;
  if (secondOfDay < 0) {
    secondOfDay += kSecondsPerDay;
    --days;
  }
  // Days since 1970-01-01 to a proleptic Gregorian date, counted in 400-year
  // eras that start on 1 March, so that leap days end each era's year.
  // Every step stays far inside 64 bits for any 64-bit count of seconds,
  // where gmtime would fail or wrap.
  const std::int64_t sinceEraZero = days + 719468;
  const std::int64_t era = (sinceEraZero >= 0 ? sinceEraZero : sinceEraZero - 146096) / 146097;
  const std::int64_t dayOfEra = sinceEraZero - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
  const std::int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

  const std::int64_t hour = secondOfDay / 3600, minute = secondOfDay / 60 % 60, second = secondOfDay % 60;
  if (year >= 0 && year <= 9999) {
    // Digits written directly: listings print three of these per entry.
    const auto two = [](char* at, std::int64_t value) {
      at[0] = static_cast<char>('0' + value / 10);
      at[1] = static_cast<char>('0' + value % 10);
    };
    char text[] = "0000-00-00T00:00:00Z";
    two(text, year / 100);
    two(text + 2, year % 100);
    two(text + 5, month);
    two(text + 8, day);
    two(text + 11, hour);
    two(text + 14, minute);
    two(text + 17, second);
    return std::string(text, sizeof text - 1);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%+05lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(hour),
                static_cast<long long>(minute), static_cast<long long>(second));
  return text;
}

}  // namespace quorvel::cli
