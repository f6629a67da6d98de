#pragma once
// The small types every catalogue and parser speaks in.
#include <cstdint>
#include <limits>
#include <optional>

namespace quorvel {

// A catalogue entry, by its index in the catalogue. Never a pointer:
// catalogues grow while they are built.
using EntryId = std::uint32_t;
inline constexpr EntryId kNoEntry = std::numeric_limits<EntryId>::max();

// A point in time, UTC, counted from the Unix epoch.
struct FileTime {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;
  bool operator==(const FileTime&) const = default;
};

struct EntryTimes {
  std::optional<FileTime> created;
  std::optional<FileTime> accessed;
  std::optional<FileTime> modified;
};

}  // namespace quorvel
