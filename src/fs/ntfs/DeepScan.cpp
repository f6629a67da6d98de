#include "fs/ntfs/DeepScan.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "fs/ntfs/MftRecord.h"

namespace quorvel::ntfsfmt {

namespace {
constexpr std::size_t kStep = 512;

std::size_t usableChunk(std::size_t chunkBytes) { return std::max(kStep, chunkBytes / kStep * kStep); }
}  // namespace

std::uint64_t scanChunkCount(std::uint64_t scanBytes, std::size_t chunkBytes) {
  const std::size_t chunk = usableChunk(chunkBytes);
  return scanBytes / chunk + (scanBytes % chunk != 0 ? 1 : 0);
}

void scanForRecords(const NtfsVolume& volume, std::uint64_t scanBytes, std::uint32_t& recordSize, JobContext& job,
                    const RecordVisitor& onRecord, const ChunkVisitor& onChunk, std::size_t chunkBytes) {
  chunkBytes = usableChunk(chunkBytes);
  scanBytes = std::min(scanBytes, volume.limitBytes);
  if (scanBytes == 0) return;
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(chunkBytes, scanBytes)));
  std::vector<std::uint8_t> record;
  std::uint64_t resumeAt = 0;  // the search goes on behind the last record found

  for (std::uint64_t start = 0, index = 0; start < scanBytes; start += chunkBytes, ++index) {
    if (!job.checkpoint() || !onChunk(index)) return;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), scanBytes - start));
    const std::int64_t got = volume.readUpTo(start, std::span<std::uint8_t>(chunk.data(), wanted));
    if (got == 0) return;
    if (got < 0) continue;
    const auto have = static_cast<std::size_t>(got);

    std::size_t off = resumeAt > start ? static_cast<std::size_t>(std::min<std::uint64_t>(resumeAt - start, have)) : 0;
    while (off + kStep <= have) {
      if (!looksLikeRecordStart(Bytes(chunk.data() + off, kStep))) {
        off += kStep;
        continue;
      }
      if (recordSize == 0) {
        recordSize = recordSizeFromHeader(parseRecordHeader(Bytes(chunk.data() + off, kStep)));
        if (recordSize == 0) recordSize = kDefaultRecordSize;
      }
      record.resize(recordSize);
      if (off + recordSize <= have)
        std::memcpy(record.data(), chunk.data() + off, recordSize);
      else
        volume.read(start + off, record);
      if (!onRecord(start + off, record) || !job.checkpoint()) return;
      const std::size_t skip = (recordSize + kStep - 1) / kStep * kStep;
      resumeAt = start + off + skip;
      off += skip;
    }
  }
}

}  // namespace quorvel::ntfsfmt
