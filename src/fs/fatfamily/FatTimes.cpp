#include "fs/fatfamily/FatTimes.h"

#include <cstdio>
#include <ctime>

#include "fs/TextFormats.h"

namespace quorvel::fatfmt {

bool DosDateTime::valid() const {
  return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60 && second < 60;
}

DosDateTime decodeDosDateTime(std::uint16_t date, std::uint16_t time) {
  DosDateTime t;
  t.year = 1980 + (date >> 9);
  t.month = (date >> 5) & 0x0F;
  t.day = date & 0x1F;
  t.hour = time >> 11;
  t.minute = (time >> 5) & 0x3F;
  t.second = (time & 0x1F) * 2;
  return t;
}

std::string rowTimeText(const DosDateTime& t) { return wallClockText(t.year, t.month, t.day, t.hour, t.minute); }

std::string rowDateText(const DosDateTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02d/%d ", t.month, t.day, t.year);
  return text;
}

namespace {
std::tm calendarFields(const DosDateTime& t) {
  std::tm fields{};
  fields.tm_year = t.year - 1900;
  fields.tm_mon = t.month - 1;
  fields.tm_mday = t.day;
  fields.tm_hour = t.hour;
  fields.tm_min = t.minute;
  fields.tm_sec = t.second;
  fields.tm_isdst = -1;
  return fields;
}

FileTime withCentiseconds(std::time_t seconds, unsigned centiseconds) {
  if (centiseconds > 199) centiseconds = 0;
  return {static_cast<std::int64_t>(seconds) + centiseconds / 100, (centiseconds % 100) * 10'000'000u};
}
}  // namespace

std::optional<FileTime> localTimeToFileTime(const DosDateTime& t, unsigned centiseconds) {
  if (!t.valid()) return std::nullopt;
  std::tm fields = calendarFields(t);
  const std::time_t seconds = std::mktime(&fields);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  return withCentiseconds(seconds, centiseconds);
}

std::optional<FileTime> exFatTimeToFileTime(std::uint32_t stamp, std::uint8_t centiseconds, std::uint8_t utcOffset) {
  const DosDateTime t = decodeExFatTimestamp(stamp);
  if (!(utcOffset & 0x80)) return localTimeToFileTime(t, centiseconds);
  if (!t.valid()) return std::nullopt;
  // Seven-bit two's complement, in quarter hours.
  const int quarters = (utcOffset & 0x40) ? static_cast<int>(utcOffset & 0x7F) - 128 : utcOffset & 0x7F;
  std::tm fields = calendarFields(t);
  fields.tm_isdst = 0;
  const std::time_t asUtc = timegm(&fields);
  return withCentiseconds(asUtc - quarters * 15 * 60, centiseconds);
}

}  // namespace quorvel::fatfmt
