#pragma once
// The directory-entry sector scan of FAT16 and FAT32: every 32-byte slot of
// the volume that looks like a short directory entry of a file or folder,
// found without the boot sector, the FAT or the directory tree.
#include <cstdint>
#include <optional>
#include <vector>

#include "fs/fat/FatLayout.h"
#include "io/JobContext.h"
#include "io/VolumeView.h"

namespace quorvel::fatfmt {

// A "." entry: it opens a folder's first cluster and names that cluster.
struct DotSlot {
  std::uint64_t offset = 0;
  std::uint32_t cluster = 0;
};

struct SlotScanResult {
  std::vector<std::uint64_t> entries;         // files and folders, in volume order
  std::vector<DotSlot> dots;
  std::optional<std::uint64_t> labelOffset;   // the first volume-label slot (the root's)
};

// Whether a slot is a plausible short entry of a file or folder. Names
// start with a letter, a digit, "$", "~" or the deletion mark; dates and
// times hold real values; a live folder names a cluster of the volume.
bool passesSlotTest(Bytes slot, FatWidth width, std::uint64_t clusterCount);

// Whether a slot is a "." entry naming a cluster.
std::optional<std::uint32_t> dotSlotCluster(Bytes slot, FatWidth width);

// Looks at every slot of the volume. Status "found file or directory =  %d "
// as candidates are found (FAT32) or "currently at sector %lld of %lld"
// (FAT16); Stop ends the scan with what was found.
SlotScanResult scanDirectorySlots(const VolumeView& volume, FatWidth width, std::uint64_t clusterCount, JobContext& job);

}  // namespace quorvel::fatfmt
