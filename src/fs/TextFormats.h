#pragma once
// The system's own texts for sizes and times, and the on-disk time encodings
// that file systems store, decoded to one FileTime.
#include <cstdint>
#include <optional>
#include <string>

#include "fs/FileSystemParser.h"

namespace quorvel {

// "%.2f GB", "%.2f MB", "%.2f KB" or "%lld Bytes", in powers of 1024.
std::string sizeText(std::uint64_t bytes);

// "MM/DD/YYYY  hh:mm AM" in local time, on the 12-hour clock: 00:xx reads
// 12:xx AM, 12:xx reads 12:xx PM. Empty for a time that cannot be shown.
std::string timeText(const FileTime& time);

// The same text for a wall-clock time as a volume recorded it, shown as it
// stands (file systems that store local time). Every time text of the list
// comes from here.
std::string wallClockText(int year, int month, int day, int hour, int minute);

// ASCII letters in lower case; other bytes (UTF-8 included) stay as they are.
std::string asciiLowerCase(std::string text);

// Windows FILETIME: 100 ns units since 1601-01-01 UTC. Empty for 0.
std::optional<FileTime> fromWindowsFileTime(std::uint64_t fileTime);

}  // namespace quorvel
