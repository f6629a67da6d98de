#pragma once
// The advanced-input search of the FAT family for copies of the FAT, when
// the boot sector that would say where they lie is gone. It reads the
// volume once, in large chunks, and looks at every 512-byte boundary.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/Endian.h"
#include "io/JobContext.h"
#include "io/VolumeView.h"

namespace quorvel::fatfmt {

enum class FatCopyKind { Fat16, Fat32, ExFat };

// Byte offsets of the first `limit` FATs in volume order, found by their
// first two entries (media 0xF8; FAT12 floppies 0xF0 too).
std::vector<std::uint64_t> findFatCopies(const VolumeView& volume, FatCopyKind kind, std::size_t limit, JobContext& job);

// Whether the bytes at the start of `sector` open a FAT of that kind.
bool opensFatCopy(Bytes sector, FatCopyKind kind);

// The cluster-size choices of the advanced-input screen: the boot sector's
// value first when it has one (for exFAT, else the one the heap search's
// best evidence fits), then the screen's fixed list, then the values a
// volume may also use that the fixed list lacks. Sectors per cluster for
// FAT16 and FAT32, its power-of-two shift for exFAT.
std::vector<std::string> clusterSizeChoices(FatCopyKind kind, std::optional<std::uint32_t> firstValue);

// The list items of the first list: "FAT_ENTRY:%d", "FAT32_ENTRY:%d", "FAT64_ENTRY:%d".
std::vector<std::string> numberedItems(const char* prefix, std::size_t count);

}  // namespace quorvel::fatfmt
