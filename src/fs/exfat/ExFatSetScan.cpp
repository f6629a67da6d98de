#include "fs/exfat/ExFatSetScan.h"

#include <algorithm>
#include <array>

#include "fs/exfat/ExFatLayout.h"
#include "io/SectorScan.h"

namespace quorvel::exfatfmt {

namespace {
constexpr std::size_t kChunkBytes = 4 * 1024 * 1024;
constexpr std::size_t kLongestSet = 19 * kEntrySize;
constexpr std::size_t kUnitsPerNameEntry = 15;
constexpr std::int64_t kProgressEnd = 1000;

bool zeros(Bytes b, std::size_t from, std::size_t to) {
  return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to),
                     [](std::uint8_t v) { return v == 0; });
}
}  // namespace

std::size_t plausibleEntrySet(Bytes set) {
  if (set.size() < 3 * kEntrySize) return 0;
  const std::uint8_t type = set[0];
  if (type != entryType::file && type != (entryType::file & ~entryType::inUse)) return 0;
  const std::uint8_t secondaries = set[1];
  // Read-only, hidden, system, folder and archive; never the label bit.
  const std::uint8_t attributes = set[4];
  if (secondaries < 2 || secondaries > 18 || (attributes & ~0x37) != 0 || set[5] != 0) return 0;
  if (le16(set, 6) != 0 || !zeros(set, 25, 32)) return 0;
  const Bytes stream = set.subspan(kEntrySize, kEntrySize);
  if ((stream[0] & ~entryType::inUse) != (entryType::stream & ~entryType::inUse)) return 0;
  // Flags: allocation possible, with or without a FAT chain.
  if ((stream[1] != 1 && stream[1] != 3) || stream[2] != 0 || le16(stream, 6) != 0 || le32(stream, 16) != 0) return 0;
  const std::size_t nameLength = stream[3];
  const std::size_t names = (nameLength + kUnitsPerNameEntry - 1) / kUnitsPerNameEntry;
  if (names == 0 || names + 1 > secondaries || (names + 2) * kEntrySize > set.size()) return 0;
  for (std::size_t k = 0; k < names; ++k) {
    const Bytes name = set.subspan((k + 2) * kEntrySize, kEntrySize);
    if ((name[0] & ~entryType::inUse) != (entryType::fileName & ~entryType::inUse) || name[1] > 3) return 0;
  }
  return names + 2;
}

bool isRootMarker(Bytes slot) {
  if (slot.size() < kEntrySize) return false;
  if (slot[0] == 0x83) return slot[1] <= 11 && zeros(slot, 24, 32);
  if (slot[0] == 0x81) return slot[1] <= 1 && zeros(slot, 2, 20) && le32(slot, 20) >= 2;
  return false;
}

SetScanResult scanEntrySets(const VolumeView& volume, std::uint64_t heapOffset, std::uint32_t clusterSize,
                            const SetReader& readSet, JobContext& job) {
  SetScanResult result;
  const std::uint64_t size = volume.size();
  SectorScan scan(volume, job, SectorScanOptions{.chunkBytes = kChunkBytes, .stepBytes = kEntrySize});
  job.setProgressRange(0, kProgressEnd);
  std::size_t shown = 0;
  scan.afterChunk = [&](std::uint64_t next) {
    job.setProgress(size ? static_cast<std::int64_t>(static_cast<double>(next) / static_cast<double>(size) * kProgressEnd) : 0);
    if (result.sets.size() != shown) job.setStatus("found Entry " + std::to_string(result.sets.size()) + " ");
    shown = result.sets.size();
    return true;
  };
  std::array<std::uint8_t, kLongestSet> across{};
  scan.run([&](std::uint64_t offset, Bytes window) -> std::uint64_t {
    const std::uint8_t type = window[0];
    if (type == 0x83 || type == 0x81) {
      if (!result.rootMarker && isRootMarker(window)) result.rootMarker = offset;
      return offset + kEntrySize;
    }
    if (type != entryType::file && type != (entryType::file & ~entryType::inUse)) return offset + kEntrySize;
    Bytes set = window.first(std::min(window.size(), kLongestSet));
    if (set.size() < kLongestSet) {
      // The set runs on into the next chunk (or cluster): read across.
      const std::int64_t got = volume.readUpTo(offset, across);
      if (got <= 0) return offset + kEntrySize;
      set = Bytes(across.data(), static_cast<std::size_t>(got));
    }
    std::size_t slots = plausibleEntrySet(set);
    const bool crossesCluster = offset >= heapOffset && clusterSize > 0 &&
                                (offset - heapOffset) % clusterSize + kLongestSet > clusterSize;
    if (slots == 0 && crossesCluster && readSet) {
      const std::size_t got = readSet(offset, across);
      slots = plausibleEntrySet(Bytes(across.data(), got));
      // Behind the cluster's end the slots are another cluster's.
      if (slots > 0) {
        result.sets.push_back(offset);
        return offset + kEntrySize;
      }
    }
    if (slots == 0) return offset + kEntrySize;
    result.sets.push_back(offset);
    return offset + slots * kEntrySize;
  });
  job.setProgress(kProgressEnd);
  return result;
}

}  // namespace quorvel::exfatfmt
