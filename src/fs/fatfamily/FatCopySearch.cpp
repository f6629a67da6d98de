#include "fs/fatfamily/FatCopySearch.h"

#include <algorithm>
#include <cstdio>

#include "io/SectorScan.h"

namespace quorvel::fatfmt {

namespace {
constexpr std::size_t kChunkBytes = 10 * 1024 * 1024;
constexpr std::size_t kSectorBytes = 512;
constexpr std::int64_t kProgressEnd = 1000;

std::string foundText(std::size_t count) { return "found fat entry  " + std::to_string(count) + " "; }

std::string positionText(std::uint64_t position, std::uint64_t size) {
  char text[160];
  std::snprintf(text, sizeof text, "Parsing Disk Currently at position %f of the disk of size %f",
                static_cast<double>(position), static_cast<double>(size));
  return text;
}

// Runs one signature search over the whole volume; `matches` decides at
// every 512-byte boundary. The scan engine reads only what the source
// holds, so the last chunk never runs past the volume's end.
template <typename Match>
std::vector<std::uint64_t> searchSectors(const VolumeView& volume, std::size_t wanted, JobContext& job, Match matches,
                                         bool positionStatus) {
  std::vector<std::uint64_t> found;
  const std::uint64_t size = volume.size();
  if (size == 0 || wanted == 0) return found;
  SectorScan scan(volume, job, SectorScanOptions{.chunkBytes = kChunkBytes, .stepBytes = kSectorBytes});
  job.setProgressRange(0, kProgressEnd);
  const auto showPosition = [&](std::uint64_t at) {
    job.setProgress(static_cast<std::int64_t>(static_cast<double>(at) / static_cast<double>(size) * kProgressEnd));
    if (positionStatus) job.setStatus(positionText(at, size));
  };
  showPosition(0);
  scan.afterChunk = [&](std::uint64_t next) {
    if (found.size() >= wanted) return false;
    showPosition(next);
    return true;
  };
  scan.run([&](std::uint64_t offset, Bytes window) -> std::uint64_t {
    if (!matches(window)) return offset + kSectorBytes;
    found.push_back(offset);
    job.setStatus(foundText(found.size()));
    return found.size() >= wanted ? kEndScan : offset + kSectorBytes;
  });
  job.setProgress(kProgressEnd);
  return found;
}

bool allOnes(Bytes b, std::size_t from, std::size_t count) {
  return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + count),
                     [](std::uint8_t v) { return v == 0xFF; });
}
}  // namespace

bool opensFatCopy(Bytes s, FatCopyKind kind) {
  if (s.size() < 8) return false;
  if (kind == FatCopyKind::Fat16) {
    // FAT12 and FAT16: the media byte (0xF8 on disks, 0xF0 on floppies),
    // then ones; FAT12's second entry ends in the third byte.
    // A FAT32 table opens the same way; its second entry tells it apart.
    return (s[0] == 0xF8 || s[0] == 0xF0) && allOnes(s, 1, 2) && !opensFatCopy(s, FatCopyKind::Fat32);
  }
  if (s[0] != 0xF8) return false;
  switch (kind) {
    case FatCopyKind::Fat16:
      break;
    case FatCopyKind::Fat32:
      // Entry 0 is 0x0FFFFFF8; entry 1 is all ones in its 28 bits, and
      // formatters differ in the reserved top four (0x0FFFFFFF or 0xFFFFFFFF).
      return s[1] == 0xFF && s[2] == 0xFF && s[3] == 0x0F && allOnes(s, 4, 3) && (s[7] & 0x0F) == 0x0F;
    case FatCopyKind::ExFat:
      return allOnes(s, 1, 7);
  }
  return false;
}

std::vector<std::uint64_t> findFatCopies(const VolumeView& volume, FatCopyKind kind, std::size_t limit, JobContext& job) {
  return searchSectors(
      volume, limit, job, [kind](Bytes window) { return opensFatCopy(window, kind); }, kind == FatCopyKind::Fat32);
}

std::vector<std::string> clusterSizeChoices(FatCopyKind kind, std::optional<std::uint32_t> firstValue) {
  std::vector<std::string> choices;
  std::vector<std::uint32_t> fixed;
  std::vector<std::uint32_t> more;
  switch (kind) {
    case FatCopyKind::Fat16:
      fixed = {4, 8, 16, 2, 32, 64, 128};
      more = {1};
      break;
    case FatCopyKind::Fat32:
      fixed = {2, 4, 16, 32, 64, 8};
      more = {1, 128};
      break;
    case FatCopyKind::ExFat:
      fixed = {8, 9, 10, 11};
      for (std::uint32_t shift = 0; shift <= 16; ++shift)
        if (shift < 8 || shift > 11) more.push_back(shift);
      break;
  }
  // The FAT16/32 screens offer the boot value only when it is even.
  const bool offerFirst = firstValue && (kind == FatCopyKind::ExFat || (*firstValue != 0 && *firstValue % 2 == 0));
  if (offerFirst) choices.push_back(std::to_string(*firstValue));
  for (const std::uint32_t v : fixed) choices.push_back(std::to_string(v));
  for (const std::uint32_t v : more) choices.push_back(std::to_string(v));
  return choices;
}

std::vector<std::string> numberedItems(const char* prefix, std::size_t count) {
  std::vector<std::string> items;
  for (std::size_t i = 0; i < count; ++i) items.push_back(prefix + std::to_string(i));
  return items;
}

}  // namespace quorvel::fatfmt
