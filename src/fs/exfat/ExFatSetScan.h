#pragma once
// The entry-set sector scan of exFAT: every file entry of the volume that
// starts a plausible set (file, stream extension and its name entries),
// found without the boot sector, the FAT or the directory tree.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "io/Endian.h"
#include "io/JobContext.h"
#include "io/VolumeView.h"

namespace quorvel::exfatfmt {

struct SetScanResult {
  std::vector<std::uint64_t> sets;          // file entries, in volume order
  // The first volume-label or allocation-bitmap entry: both live only in
  // the root directory.
  std::optional<std::uint64_t> rootMarker;
};

// Whether the bytes open a plausible entry set; how many slots it takes.
// `set` holds the file entry and what follows it (at least 19 slots where
// the volume has them).
std::size_t plausibleEntrySet(Bytes set);

// Whether a slot is a volume-label or allocation-bitmap entry of a root.
bool isRootMarker(Bytes slot);

// Reads the longest set at an offset as its folder holds it: across the
// end of a cluster into the next one of the chain. The count read.
using SetReader = std::function<std::size_t(std::uint64_t offset, std::span<std::uint8_t> out)>;

// Looks at every slot of the volume. A set that runs past the end of a
// cluster (of `clusterSize`, from `heapOffset`) is read again through
// `readSet`, so a folder in pieces loses none of its sets. Status "found
// Entry %d " as sets are found; Stop ends the scan with what was found.
SetScanResult scanEntrySets(const VolumeView& volume, std::uint64_t heapOffset, std::uint32_t clusterSize,
                            const SetReader& readSet, JobContext& job);

}  // namespace quorvel::exfatfmt
