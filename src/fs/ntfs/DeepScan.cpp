#include "fs/ntfs/DeepScan.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "fs/ntfs/MftRecord.h"
#include "io/SectorScan.h"

namespace quorvel::ntfsfmt {

namespace {
constexpr std::size_t kStep = 512;
}  // namespace

std::uint64_t scanChunkCount(std::uint64_t scanBytes, std::size_t chunkBytes) {
  return chunksCovering(scanBytes, chunkBytes, kStep);
}

void scanForRecords(const NtfsVolume& volume, std::uint64_t scanBytes, std::uint32_t& recordSize, JobContext& job,
                    const RecordVisitor& onRecord, const ChunkVisitor& onChunk, std::size_t chunkBytes) {
  SectorScanOptions options;
  options.to = std::min(scanBytes, volume.limitBytes());
  options.chunkBytes = chunkBytes;
  options.stepBytes = kStep;
  if (options.to == 0) return;
  SectorScan scan(volume.view, job, options);
  if (!job.checkpoint() || !onChunk(0)) return;
  // Called before each chunk with the chunks behind it, holes passed over included.
  scan.afterChunk = [&](std::uint64_t next) { return next >= scan.to() || onChunk(scan.chunksBefore(next)); };

  std::vector<std::uint8_t> record;
  scan.run([&](std::uint64_t position, Bytes window) -> std::uint64_t {
    if (!looksLikeRecordStart(window.first(kStep))) return position + kStep;
    if (recordSize == 0) {
      recordSize = recordSizeFromHeader(parseRecordHeader(window.first(kStep)));
      if (recordSize == 0) recordSize = kDefaultRecordSize;
    }
    record.resize(recordSize);
    // A record that runs past the chunk is read whole from the volume.
    if (window.size() >= recordSize)
      std::memcpy(record.data(), window.data(), recordSize);
    else
      volume.read(position, record);
    if (!onRecord(position, record) || !job.checkpoint()) return kEndScan;
    // The search goes on behind the record.
    return position + (recordSize + kStep - 1) / kStep * kStep;
  });
}

}  // namespace quorvel::ntfsfmt
