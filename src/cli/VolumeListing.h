#pragma once
// The volume list of an image, as `volumes` prints it and `--volume LABEL`
// picks from it: one function for both, so that the two cannot disagree.
#include <cstdint>
#include <vector>

#include "io/FileReadSeek.h"
#include "io/JobContext.h"
#include "volumes/VolumeRecord.h"

namespace quorvel::cli {

struct ListingRequest {
  bool gpt = false;       // walk the GPT even without a protective MBR
  bool advanced = false;  // read every sector instead of the tables
  // Advanced only: look inside found volumes too; the sector range to scan.
  bool lookInsideVolumes = false;
  std::int64_t scanStartSector = 0;
  std::int64_t scanEndSector = 0;
};

struct ListedVolumes {
  std::vector<VolumeRecord> volumes;  // labelled by their place in the list
  // The system error of a table read that failed; the volumes found before
  // it are listed all the same. 0 when the tables were read whole.
  std::int32_t tableError = 0;
};

// An image without partition tables whose first sector is a volume's
// (a volume image, a disk formatted without partitions) lists that volume
// as volume 0, named "Unknown" as a volume image's volume is.
ListedVolumes listImageVolumes(const FileReadSeek& source, const ListingRequest& request, JobContext& job);

}  // namespace quorvel::cli
