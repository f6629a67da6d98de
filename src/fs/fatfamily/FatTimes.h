#pragma once
// DOS dates and times, as FAT entries store them and exFAT timestamps pack
// them: local wall-clock fields, made into true UTC points for the output.
#include <cstdint>
#include <optional>
#include <string>

#include "fs/FileSystemParser.h"

namespace quorvel::fatfmt {

struct DosDateTime {
  int year = 1980;  // bits 15-9 of the date + 1980
  int month = 0;    // bits 8-5
  int day = 0;      // bits 4-0
  int hour = 0;     // bits 15-11 of the time
  int minute = 0;   // bits 10-5
  int second = 0;   // bits 4-0, times 2
  bool valid() const;
};

DosDateTime decodeDosDateTime(std::uint16_t date, std::uint16_t time);
// exFAT: date in the high half, time in the low half.
inline DosDateTime decodeExFatTimestamp(std::uint32_t stamp) {
  return decodeDosDateTime(static_cast<std::uint16_t>(stamp >> 16), static_cast<std::uint16_t>(stamp));
}

// The list's time text, from the fields as recorded.
std::string rowTimeText(const DosDateTime& t);
// The access column of FAT entries, which record a date only.
std::string rowDateText(const DosDateTime& t);

// The point in time the fields name in the local time zone; `centiseconds`
// (0..199) adds the finer part FAT and exFAT keep for some times.
std::optional<FileTime> localTimeToFileTime(const DosDateTime& t, unsigned centiseconds = 0);

// exFAT's UTC offset byte: bit 7 says it is valid, bits 6-0 count quarter
// hours east of UTC (signed). Without a valid offset the time is local.
std::optional<FileTime> exFatTimeToFileTime(std::uint32_t stamp, std::uint8_t centiseconds, std::uint8_t utcOffset);

}  // namespace quorvel::fatfmt
