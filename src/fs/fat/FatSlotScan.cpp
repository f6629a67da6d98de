#include "fs/fat/FatSlotScan.h"

#include <array>

#include "fs/fat/FatDirectoryEntry.h"
#include "io/SectorScan.h"

namespace quorvel::fatfmt {

namespace {
constexpr std::size_t kChunkBytes = 4 * 1024 * 1024;
constexpr std::int64_t kProgressEnd = 1000;

// Letters, digits and "_": the short alias of a name in other scripts
// starts with "_", so a class without it misses every such file.
bool isLetterOrDigit(std::uint8_t c, FatWidth) {
  return (c >= 0x30 && c <= 0x39) || (c >= 0x41 && c <= 0x5B) || (c >= 0x5F && c <= 0x7A);
}

// The second character of a name: a letter, or a sign names carry there.
bool isSecondCharacter(std::uint8_t c, FatWidth width) {
  return isLetterOrDigit(c, width) || c == 0x20 || c == 0x29 || c == 0x2E || c == 0x7E || c == kDeletedMark ||
         c == 0x5F || c == 0x2C || c == 0x2D;
}

bool validDate(std::uint16_t date) {
  const unsigned day = date & 0x1F;
  const unsigned month = (date >> 5) & 0x0F;
  return day >= 1 && day <= 31 && month >= 1 && month <= 12;
}

bool validTime(std::uint16_t time) { return (time >> 11) <= 23 && ((time >> 5) & 0x3F) <= 59 && (time & 0x1F) <= 29; }

bool validDatesAndTimes(const ShortEntry& e) {
  return validDate(e.writeDate) && validDate(e.creationDate) && validDate(e.accessDate) && validTime(e.creationTime) &&
         validTime(e.writeTime);
}

constexpr bool isFolderAttribute(std::uint8_t a) {
  switch (a) {
    case 0x10: case 0x11: case 0x12: case 0x13: case 0x14: case 0x15: case 0x16: case 0x30: return true;
    default: return false;
  }
}

constexpr bool isFileAttribute(std::uint8_t a) {
  // Archive with or without read-only, hidden and system; and files whose
  // attributes were never set.
  return a == 0x00 || a == 0x01 || a == 0x02 || a == 0x04 || a == 0x20 || a == 0x21 || a == 0x22 || a == 0x23 ||
         a == 0x24 || a == 0x26 || a == 0x27;
}

// The attribute bytes a slot the scan wants can have: files, folders, "."
// entries and labels (long-name slots are read back from their entry).
constexpr std::array<bool, 256> kWorthALook = [] {
  std::array<bool, 256> table{};
  for (unsigned a = 0; a < 256; ++a) {
    const auto v = static_cast<std::uint8_t>(a);
    table[a] = isFolderAttribute(v) || isFileAttribute(v) || v == attribute::volumeLabel;
  }
  return table;
}();
}  // namespace

bool passesSlotTest(Bytes slot, FatWidth width, std::uint64_t clusterCount) {
  if (slot.size() < kSlotSize) return false;
  const std::uint8_t b0 = slot[0];
  const std::uint8_t b1 = slot[1];
  if (!isSecondCharacter(b1, width)) return false;
  const ShortEntry e = decodeShortEntry(slot);
  const std::uint64_t cluster = e.firstCluster(width);
  const bool deleted = b0 == kDeletedMark;
  // Names begin with a letter or digit, "$", "~" or the deletion mark.
  if (!deleted && !isLetterOrDigit(b0, width) && b0 != 0x24 && b0 != 0x7E) return false;
  if (!validDatesAndTimes(e)) return false;
  if (isFolderAttribute(e.attributes)) {
    if (deleted) return cluster < clusterCount + 2;
    return e.size == 0 && cluster >= 2 && cluster < clusterCount + 2;
  }
  if (!isFileAttribute(e.attributes)) return false;
  // Byte 12 holds only the lower-case flags of the name and extension.
  if ((e.caseFlags & ~0x18) != 0) return false;
  // An empty file has no cluster; any other names one of the volume.
  return cluster < clusterCount + 2 && (cluster >= 2 || cluster == 0);
}

std::optional<std::uint32_t> dotSlotCluster(Bytes slot, FatWidth width) {
  if (slot.size() < kSlotSize || slot[0] != '.' || slot[1] != ' ' || !(slot[11] & attribute::directory)) return std::nullopt;
  const ShortEntry e = decodeShortEntry(slot);
  const std::uint32_t cluster = e.firstCluster(width);
  if (cluster < 2) return std::nullopt;
  return cluster;
}

SlotScanResult scanDirectorySlots(const VolumeView& volume, FatWidth width, std::uint64_t clusterCount, JobContext& job) {
  SlotScanResult result;
  const std::uint64_t size = volume.size();
  const std::uint64_t sectors = size / 512;
  SectorScan scan(volume, job, SectorScanOptions{.chunkBytes = kChunkBytes, .stepBytes = kSlotSize});
  job.setProgressRange(0, kProgressEnd);
  std::size_t shown = 0;
  scan.afterChunk = [&](std::uint64_t next) {
    job.setProgress(size ? static_cast<std::int64_t>(static_cast<double>(next) / static_cast<double>(size) * kProgressEnd) : 0);
    if (width == FatWidth::Fat32) {
      if (result.entries.size() != shown) job.setStatus("found file or directory =  " + std::to_string(result.entries.size()) + " ");
      shown = result.entries.size();
    } else {
      job.setStatus("currently at sector " + std::to_string(next / 512) + " of " + std::to_string(sectors));
    }
    return true;
  };
  scan.run([&](std::uint64_t offset, Bytes window) -> std::uint64_t {
    const std::uint8_t attributes = window[11];
    // Most of a volume is file data; the attribute byte turns most slots away.
    if (!kWorthALook[attributes] || window[0] == 0x00) return offset + kSlotSize;
    if (attributes == attribute::volumeLabel) {
      if (!result.labelOffset && isLetterOrDigit(window[0], FatWidth::Fat32)) result.labelOffset = offset;
    } else if (const std::optional<std::uint32_t> dot = dotSlotCluster(window, width)) {
      result.dots.push_back({offset, *dot});
    } else if ((attributes & 0x3F) != attribute::longName && passesSlotTest(window, width, clusterCount)) {
      result.entries.push_back(offset);
    }
    return offset + kSlotSize;
  });
  job.setProgress(kProgressEnd);
  return result;
}

}  // namespace quorvel::fatfmt
