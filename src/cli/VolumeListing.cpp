#include "cli/VolumeListing.h"

#include "volumes/Partition.h"

namespace quorvel::cli {

VolumeList listImageVolumes(const FileReadSeek& source, const ListingRequest& request, JobContext& job) {
  Partition partition(job);
  partition.readGpt = request.gpt;
  VolumeList list;
  if (request.advanced) {
    partition.skipVolumeSize = !request.lookInsideVolumes;
    partition.scanStartSector = request.scanStartSector;
    partition.scanEndSector = request.scanEndSector;
    scanForVolumes(source, partition);
  } else {
    list.tableError = listVolumes(source, partition);
    // Without tables, the bytes where an MBR's entries would be are a boot
    // sector's code: what the walk made of them, or why it failed, says
    // nothing about the image.
    VolumeRecord whole;
    if (partition.volumes.empty() && probeVolumeImage(source, whole)) {
      whole.volumeName = "Unknown";
      partition.volumes.push_back(whole);
      list.tableError = 0;
    }
  }
  numberVolumes(partition.volumes);
  list.volumes = std::move(partition.volumes);
  return list;
}

}  // namespace quorvel::cli
