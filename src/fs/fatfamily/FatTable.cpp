#include "fs/fatfamily/FatTable.h"

#include <algorithm>

namespace quorvel::fatfmt {

FatTable::FatTable(VolumeView volume, std::uint64_t offset, std::uint64_t bytes, FatEntryKind kind,
                   std::uint32_t clusterCount)
    : volume_(volume), offset_(offset), bytes_(bytes), kind_(kind), clusterCount_(clusterCount) {
  // The size comes from the boot sector; entries past the last cluster are
  // never asked for, so they cost no page slots.
  const std::uint64_t entries = std::uint64_t{clusterCount} + 2;
  const std::uint64_t needed = kind == FatEntryKind::Fat12 ? (entries * 3 + 1) / 2
                               : kind == FatEntryKind::Fat16 ? entries * 2
                                                             : entries * 4;
  bytes_ = std::min(bytes_, needed);
  pages_.resize(static_cast<std::size_t>((bytes_ + kPageSize - 1) / kPageSize));
}

const std::vector<std::uint8_t>& FatTable::page(std::uint64_t index) const {
  auto& slot = pages_[static_cast<std::size_t>(index)];
  if (!slot) {
    const std::uint64_t start = index * kPageSize;
    const std::uint64_t length = std::min(kPageSize, bytes_ - start);
    slot = std::make_unique<std::vector<std::uint8_t>>(static_cast<std::size_t>(length), 0);
    // A page that cannot be read stays zero: its clusters read as free.
    volume_.read(offset_ + start, *slot);
  }
  return *slot;
}

std::uint8_t FatTable::byteAt(std::uint64_t offset) const {
  if (offset >= bytes_) return 0;
  return page(offset / kPageSize)[static_cast<std::size_t>(offset % kPageSize)];
}

std::uint32_t FatTable::entry(std::uint32_t cluster) const {
  const std::uint64_t c = cluster;
  switch (kind_) {
    case FatEntryKind::Fat12: {
      const std::uint64_t at = c + c / 2;
      const std::uint32_t pair = byteAt(at) | (std::uint32_t{byteAt(at + 1)} << 8);
      return (c & 1) ? pair >> 4 : pair & 0x0FFF;
    }
    case FatEntryKind::Fat16:
      return byteAt(2 * c) | (std::uint32_t{byteAt(2 * c + 1)} << 8);
    case FatEntryKind::Fat32:
    case FatEntryKind::ExFat: {
      const std::uint64_t at = 4 * c;
      std::uint32_t value = 0;
      if (at + 4 <= bytes_ && at / kPageSize == (at + 3) / kPageSize) {
        const auto& p = page(at / kPageSize);
        const std::size_t i = static_cast<std::size_t>(at % kPageSize);
        value = p[i] | (std::uint32_t{p[i + 1]} << 8) | (std::uint32_t{p[i + 2]} << 16) | (std::uint32_t{p[i + 3]} << 24);
      } else {
        for (int k = 3; k >= 0; --k) value = (value << 8) | byteAt(at + static_cast<std::uint64_t>(k));
      }
      return kind_ == FatEntryKind::Fat32 ? value & 0x0FFFFFFF : value;
    }
  }
  return 0;
}

std::optional<std::uint32_t> FatTable::nextCluster(std::uint32_t cluster) const {
  if (!isCluster(cluster)) return std::nullopt;
  const std::uint32_t next = entry(cluster);
  // isCluster also turns away the bad-cluster mark and the end-of-chain
  // range: both lie above the largest cluster number a FAT can have.
  if (!isCluster(next)) return std::nullopt;
  return next;
}

}  // namespace quorvel::fatfmt
