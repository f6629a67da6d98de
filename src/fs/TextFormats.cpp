#include "fs/TextFormats.h"

#include <cstdio>
#include <ctime>

namespace quorvel {

std::string sizeText(std::uint64_t bytes) {
  char text[64];
  const double size = static_cast<double>(bytes);
  if (size / 1073741824.0 >= 1)
    std::snprintf(text, sizeof text, "%.2f GB", size / 1073741824.0);
  else if (size / 1048576.0 >= 1)
    std::snprintf(text, sizeof text, "%.2f MB", size / 1048576.0);
  else if (size / 1024.0 >= 1)
    std::snprintf(text, sizeof text, "%.2f KB", size / 1024.0);
  else
    std::snprintf(text, sizeof text, "%lld Bytes", static_cast<long long>(bytes));
  return text;
}

std::string wallClockText(int year, int month, int day, int hour, int minute) {
  // Noon is 12:00 PM and midnight 12:00 AM, as every reader takes them. A
  // damaged hour past 23 still counts on from 1 PM, as recorded.
  const bool afternoon = hour >= 12;
  const int clockHour = hour == 0 ? 12 : hour > 12 ? hour - 12 : hour;
  const auto inTwoDigits = [](int value) { return value >= 0 && value <= 99; };
  if (year >= 1000 && year <= 9999 && inTwoDigits(month) && inTwoDigits(day) && inTwoDigits(clockHour) &&
      inTwoDigits(minute)) {
    // Digits written directly: every list row shows three of these.
    const auto two = [](char* at, int value) {
      at[0] = static_cast<char>('0' + value / 10);
      at[1] = static_cast<char>('0' + value % 10);
    };
    char text[] = "00/00/0000  00:00 AM";
    two(text, month);
    two(text + 3, day);
    two(text + 6, year / 100);
    two(text + 8, year % 100);
    two(text + 12, clockHour);
    two(text + 15, minute);
    if (afternoon) text[18] = 'P';
    return std::string(text, sizeof text - 1);
  }
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%d  %02d:%02d %s", month, day, year, clockHour, minute,
                afternoon ? "PM" : "AM");
  return text;
}

std::string timeText(const FileTime& time) {
  const std::time_t seconds = static_cast<std::time_t>(time.seconds);
  std::tm local{};
  if (!localtime_r(&seconds, &local)) return {};
  return wallClockText(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
}

std::optional<FileTime> fromWindowsFileTime(std::uint64_t fileTime) {
  if (fileTime == 0) return std::nullopt;
  constexpr std::int64_t kEpochDifference = 11644473600;  // seconds from 1601 to 1970
  const auto ticks = static_cast<std::int64_t>(fileTime / 10000000);
  return FileTime{ticks - kEpochDifference, static_cast<std::uint32_t>(fileTime % 10000000) * 100};
}

std::string asciiLowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace quorvel
