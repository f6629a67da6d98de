#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "fs/FileSystemKinds.h"
#include "io/FileReadSeek.h"
#include "io/JobContext.h"
#include "volumes/VolumeRecord.h"

namespace quorvel {

// One listing or scan of a source's volumes. Found volumes are appended to
// `volumes` in the order found; `volumeAdded` lets a front end show each as
// it comes. Status, progress and Stop go through the job context.
class VolumeList {
 public:
  explicit VolumeList(JobContext& job) : job(job) {}

  JobContext& job;
  std::vector<VolumeRecord> volumes;
  std::function<void(const VolumeRecord&)> volumeAdded;

  // Standard listing: walk the GPT even without a protective MBR.
  bool readGpt = false;

  // Advanced scan: continue behind a found volume instead of inside it.
  bool skipVolumeSize = true;
  std::int64_t scanStartSector = 0;  // 0 or below: from the first byte
  std::int64_t scanEndSector = 0;    // 0 or below: to the end of the source

  void record(VolumeRecord volume) {
    volumes.push_back(volume);
    if (volumeAdded) volumeAdded(volumes.back());
  }
};

// The standard listing: MBR and its EBR chain, or the GPT. Returns 0, or the
// system error of a required read that failed (volumes found so far stay).
std::int32_t listVolumes(const FileReadSeek& source, VolumeList& partition);

// Labels volumes by their place in the list, as the volume list shows them.
void numberVolumes(std::vector<VolumeRecord>& volumes);

// What starts the volume at `sector`: a boot sector of a known kind, a
// damaged FAT-family one ("UNKNOWN"), or a superblock or volume header
// two sectors in.
std::optional<Sniffed> recogniseVolumeStart(const FileReadSeek& source, std::int64_t sector);

// Classifies the start of a volume image. False leaves `destination` as it was.
bool probeVolumeImage(const FileReadSeek& source, VolumeRecord& destination);

// Whether the volume starting at `sector` has an exFAT boot sector, an
// HFS+ volume header or a primary ext superblock.
bool isExFatAt(const FileReadSeek& source, std::int64_t sector);
bool isHfsPlusAt(const FileReadSeek& source, std::int64_t sector);
bool isExtAt(const FileReadSeek& source, std::int64_t sector);

// The advanced scan: reads the source in 1 MiB chunks and looks at every
// 512-byte sector for a boot sector, an HFS+ header or an ext superblock.
void scanForVolumes(const FileReadSeek& source, VolumeList& partition);

}  // namespace quorvel
