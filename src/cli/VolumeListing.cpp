#include "cli/VolumeListing.h"

#include "volumes/VolumeList.h"

namespace quorvel::cli {

ListedVolumes listImageVolumes(const FileReadSeek& source, const ListingRequest& request, JobContext& job) {
  quorvel::VolumeList search(job);
  search.readGpt = request.gpt;
  ListedVolumes list;
  if (request.advanced) {
    search.skipVolumeSize = !request.lookInsideVolumes;
    search.scanStartSector = request.scanStartSector;
    search.scanEndSector = request.scanEndSector;
    scanForVolumes(source, search);
  } else {
    list.tableError = listVolumes(source, search);
    // Without tables, the bytes where an MBR's entries would be are a boot
    // sector's code: what the walk made of them, or why it failed, says
    // nothing about the image.
    VolumeRecord whole;
    if (search.volumes.empty() && probeVolumeImage(source, whole)) {
      whole.volumeName = "Unknown";
      search.volumes.push_back(whole);
      list.tableError = 0;
    }
  }
  numberVolumes(search.volumes);
  list.volumes = std::move(search.volumes);
  return list;
}

}  // namespace quorvel::cli
