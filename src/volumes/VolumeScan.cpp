// The advanced scan: every 512-byte sector of the source, read in 1 MiB chunks,
// is tested for a boot sector, an HFS+ volume header or a primary ext superblock.
#include <algorithm>

#include "io/Arithmetic.h"
#include "io/SectorScan.h"
#include "volumes/VolumeList.h"
#include "volumes/VolumeKind.h"

namespace quorvel {

namespace {

constexpr std::size_t kChunkBytes = 1 << 20;
constexpr std::int64_t kMaxHfsMebibytes = 20971519;
constexpr std::uint32_t kHeaderOffset = 1024;

// A sector can only be one of these if a byte or two say so; the test keeps
// the scan near the speed of reading.
bool mayStartStructure(const std::uint8_t* s) {
  return s[0] == 0xEB || (s[0] == 'H' && (s[1] == '+' || s[1] == 'X')) ||
         (s[56] == 0x53 && s[57] == 0xEF);
}

// What one sector found: the volume's kind, and whether the sector lies two
// sectors into it (a superblock or volume header) rather than at its start.
struct Finding {
  Sniffed sniffed;
  bool fromHeader = false;
};

std::optional<Finding> classifySector(Bytes sector) {
  if (auto boot = sniffBootSector(sector, SniffContext::SectorScan)) return Finding{std::move(*boot), false};
  if (auto header = sniffSector(sector, kHeaderOffset, SniffContext::SectorScan))
    return Finding{std::move(*header), true};
  return std::nullopt;
}

bool isKind(const Sniffed& s, FileSystemId id) { return s.kind && s.kind->id == id; }

}  // namespace

void scanForVolumes(const FileReadSeek& source, VolumeList& partition) {
  JobContext& job = partition.job;
  job.setStatus("Scanning partition.....");
  job.setProgressRange(0, 1000);

  const std::uint64_t total = source.sectorCount();
  const VolumeView whole(source, {0, 0});
  SectorScanOptions options;
  options.chunkBytes = kChunkBytes;
  options.stepBytes = kSectorSize;
  // A negative start names no sector of the source: nothing is scanned.
  if (partition.scanStartSector < 0) return;
  options.from = static_cast<std::uint64_t>(partition.scanStartSector) * kSectorSize;
  const std::uint64_t endPosition =
      partition.scanEndSector > 0 ? static_cast<std::uint64_t>(partition.scanEndSector) * kSectorSize : 0;
  // The end is honoured in whole chunks: one that begins at or before it is
  // looked at in full.
  if (endPosition != 0 && endPosition < options.from) return;

  SectorScan scan(whole, job, options);
  scan.afterChunk = [&](std::uint64_t next) {
    const double share = total ? static_cast<double>(next / kSectorSize) / static_cast<double>(total) : 1.0;
    job.setProgress(static_cast<std::int64_t>(std::min(share, 1.0) * 1000.0));
    return endPosition == 0 || next <= endPosition;
  };

  int labelCounter = 0;
  int ntfsCount = 0;
  const ScanEnd end = scan.run([&](std::uint64_t position, Bytes window) -> std::uint64_t {
    const std::uint64_t onward = position + kSectorSize;
    if (!mayStartStructure(window.data())) return onward;
    const std::optional<Finding> finding = classifySector(window.first(kSectorSize));
    if (!finding) return onward;
    // A header this close to the start leaves no room for its volume.
    if (finding->fromHeader && position < 2 * kSectorSize)
      return onward;
    const Sniffed& found = finding->sniffed;
    const bool ntfs = isKind(found, FileSystemId::Ntfs);
    const bool hfs = isKind(found, FileSystemId::HfsPlus);
    const std::int64_t mebibytes = bytesToMebibytes(found.found.sizeBytes);
    const std::uint64_t volumeStartByte = position - (finding->fromHeader ? kHeaderOffset : 0);

    if (!finding->fromHeader && !ntfs) job.setStatus(found.found.foundStatus);
    const bool recordable =
        found.kind != nullptr && (hfs ? mebibytes >= 1 && mebibytes <= kMaxHfsMebibytes : mebibytes > 0);
    if (recordable) {
      VolumeRecord v;
      setKindFound(v, found);
      v.label = std::to_string(labelCounter++);
      v.sizeText = ntfs ? sizeTextWide(mebibytes) : sizeTextNarrow(mebibytes);
      v.sizeBytes = found.found.sizeBytes;
      v.startSector = static_cast<std::int64_t>(volumeStartByte / kSectorSize);
      if (ntfs)
        job.setStatus("found NTFS " + std::to_string(++ntfsCount) + "...");
      else if (finding->fromHeader)
        job.setStatus(found.found.foundStatus);
      partition.record(std::move(v));
    }
    if (!partition.skipVolumeSize || !(recordable || (hfs && mebibytes >= 1))) return onward;
    // Go on at the first sector behind the volume, counted from its start
    // (headers sit two sectors in), so a volume packed right behind it is
    // still found. NTFS counts its backup boot sector outside its size.
    const std::uint64_t volumeStart = volumeStartByte / kSectorSize;
    const std::uint64_t volumeSectors = found.found.sizeBytes / kSectorSize;
    const std::uint64_t behind = volumeStart + volumeSectors + (ntfs ? 1 : 0);
    // A size too large for any source skips past its end; it does not end the scan early.
    return std::max(onward, std::min(saturatingProduct(behind, kSectorSize), kEndScan - 1));
  });
  if (end == ScanEnd::Stopped) job.setStatus("Scanned Partitions");
}

}  // namespace quorvel
