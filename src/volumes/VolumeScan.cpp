// The advanced scan: every 512-byte sector of the source, read in 1 MiB chunks,
// is tested for a boot sector, an HFS+ volume header or a primary ext superblock.
#include <algorithm>
#include <memory>

#include "volumes/BootSector.h"
#include "volumes/Partition.h"

namespace quorvel {

namespace {

constexpr std::size_t kChunkBytes = 1 << 20;
constexpr std::uint64_t kSectorsPerChunk = kChunkBytes / kSectorSize;
constexpr std::int64_t kMaxHfsMebibytes = 20971519;

// A sector can only be one of these if a byte or two say so; the test keeps
// the scan near the speed of reading.
bool mayStartStructure(const std::uint8_t* s) {
  return s[0] == 0xEB || (s[0] == 'H' && (s[1] == '+' || s[1] == 'X')) ||
         (s[56] == 0x53 && s[57] == 0xEF);
}

// What one sector found: the volume, where it starts and how far to skip.
struct Finding {
  VolumeClass volume;
  bool fromHeader = false;  // an HFS+ header or ext superblock, two sectors in
};

Finding classifySector(Bytes sector) {
  const VolumeClass boot = classifyBootSector(sector, {.requireNtfsName = true});
  if (boot.kind != VolumeKind::None) return {boot, false};
  return {classifyVolumeHeader(sector, true), true};
}

}  // namespace

void scanForVolumes(FileReadSeek& source, Partition& partition) {
  JobContext& job = partition.job;
  job.setStatus("Scanning partition.....");
  job.setProgressRange(0, 1000);

  source.baseOffset = 0;
  source.adviseSequential();
  const std::uint64_t total = source.sectorCount();
  // A negative start compares as a huge sector number: nothing is scanned.
  std::uint64_t sectorCounter = static_cast<std::uint64_t>(partition.scanStartSector);
  std::uint64_t chunkPosition =
      partition.scanStartSector > 0 ? static_cast<std::uint64_t>(partition.scanStartSector) * kSectorSize : 0;
  const std::uint64_t endPosition =
      partition.scanEndSector > 0 ? static_cast<std::uint64_t>(partition.scanEndSector) * kSectorSize : 0;

  std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kChunkBytes]);
  if (!chunk) {
    job.setStatus("Scanned Partitions");
    return;
  }
  int labelCounter = 0;
  int ntfsCount = 0;

  while (sectorCounter < total) {
    if (chunkPosition > static_cast<std::uint64_t>(INT64_MAX)) break;
    const std::int64_t got = source.readUpTo(static_cast<std::int64_t>(chunkPosition), chunk.get(), kChunkBytes);
    if (got < static_cast<std::int64_t>(kSectorSize)) break;
    if (endPosition != 0 && endPosition < chunkPosition) break;
    // The tail of the source is examined too, in whole sectors.
    const std::uint64_t sectorsRead = static_cast<std::uint64_t>(got) / kSectorSize;

    std::uint64_t i = 0;
    while (i < sectorsRead) {
      if (!job.checkpoint()) {
        job.setStatus("Scanned Partitions");
        return;
      }
      const std::uint8_t* bytes = chunk.get() + i * kSectorSize;
      if (!mayStartStructure(bytes)) {
        ++i;
        continue;
      }
      const Finding finding = classifySector(Bytes(bytes, kSectorSize));
      const VolumeKind kind = finding.volume.kind;
      if (kind == VolumeKind::None) {
        ++i;
        continue;
      }
      const std::uint64_t position = chunkPosition + i * kSectorSize;
      if (finding.fromHeader && position < 2 * kSectorSize) {
        ++i;  // a header this close to the start leaves no room for its volume
        continue;
      }
      const std::int64_t mebibytes = bytesToMebibytes(finding.volume.sizeBytes);
      const std::uint64_t volumeSectors = finding.volume.sizeBytes / kSectorSize;

      if (!finding.fromHeader && kind != VolumeKind::Ntfs) job.setStatus(foundStatusText(kind));
      const bool recordable =
          kind != VolumeKind::FatUnknown &&
          (kind == VolumeKind::HfsPlus ? mebibytes >= 1 && mebibytes <= kMaxHfsMebibytes : mebibytes > 0);
      if (recordable) {
        VolumeRecord v;
        v.kind = kindText(kind);
        v.label = std::to_string(labelCounter++);
        v.sizeText = kind == VolumeKind::Ntfs ? sizeTextWide(mebibytes) : sizeTextNarrow(mebibytes);
        v.sizeBytes = finding.volume.sizeBytes;
        v.startSector = static_cast<std::int64_t>((position - (finding.fromHeader ? 1024 : 0)) / kSectorSize);
        if (kind == VolumeKind::Ntfs)
          job.setStatus("found NTFS " + std::to_string(++ntfsCount) + "...");
        else if (finding.fromHeader)
          job.setStatus(foundStatusText(kind));
        partition.record(std::move(v));
      }
      const bool skip = partition.skipVolumeSize &&
                        (recordable || (kind == VolumeKind::HfsPlus && mebibytes >= 1));
      if (skip) {
        // Go on at the first sector behind the volume, counted from its start
        // (headers sit two sectors in), so a volume packed right behind it is
        // still found. NTFS counts its backup boot sector outside its size.
        const std::uint64_t volumeStart = (position - (finding.fromHeader ? 1024 : 0)) / kSectorSize;
        const std::uint64_t chunkStart = chunkPosition / kSectorSize;
        const std::uint64_t behind = volumeStart + volumeSectors + (kind == VolumeKind::Ntfs ? 1 : 0);
        i = behind > chunkStart + i ? behind - chunkStart : i + 1;
      } else {
        ++i;
      }
      if (!job.checkpoint()) {
        job.setStatus("Scanned Partitions");
        return;
      }
    }

    sectorCounter += i;
    const double share = total ? static_cast<double>(sectorCounter) / static_cast<double>(total) : 1.0;
    job.setProgress(static_cast<std::int64_t>(std::min(share, 1.0) * 1000.0));
    if (i > (UINT64_MAX - chunkPosition) / kSectorSize) break;
    chunkPosition += i * kSectorSize;
    if (sectorsRead < kSectorsPerChunk && i <= sectorsRead) break;  // that was the tail
  }
}

}  // namespace quorvel
