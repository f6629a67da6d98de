#pragma once
#include <string>
#include <vector>

#include "io/FileReadSeek.h"
#include "io/JobContext.h"

namespace quorvel {

// "Sectors 64-127 and 512-575 of the image failed their checksum; their
// bytes were used as stored." Empty when there are none.
std::string unverifiedSectorsText(const std::vector<SectorRange>& ranges);

// Says on the job's detail line which sectors a job read unverified, when
// there are any. A front end calls it when a job that read the source ends.
void reportUnverifiedSectors(const FileReadSeek& source, JobContext& job);

}  // namespace quorvel
