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

  char text[64];
  std::snprintf(text, sizeof text, year >= 0 && year <= 9999 ? "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ"
                                                             : "%+05lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
                static_cast<long long>(secondOfDay / 3600), static_cast<long long>(secondOfDay / 60 % 60),
                static_cast<long long>(secondOfDay % 60));
  return text;
}

}  // namespace quorvel::cli
