#include "fs/ntfs/NtfsVolume.h"

#include <algorithm>

namespace quorvel::ntfsfmt {

namespace {
constexpr std::uint64_t kByteLimit = 1ull << 62;
}

bool vcnToBytes(std::uint64_t vcn, std::uint64_t clusterSize, std::uint64_t& bytes) {
  if (clusterSize == 0 || vcn > kByteLimit / clusterSize) return false;
  bytes = vcn * clusterSize;
  return true;
}

bool NtfsVolume::clustersInside(Lcn lcn, std::uint64_t count) const {
  const std::uint64_t clusters = clusterCount();
  const std::int64_t first = lcn.value;
  return first >= 0 && static_cast<std::uint64_t>(first) <= clusters &&
         count <= clusters - static_cast<std::uint64_t>(first);
}

std::int64_t NtfsVolume::readUpTo(std::uint64_t offset, std::span<std::uint8_t> out) const {
  return view.readUpTo(offset, out);
}

bool NtfsVolume::read(std::uint64_t offset, std::span<std::uint8_t> out) const { return view.read(offset, out); }

bool NtfsVolume::readClusters(Lcn lcn, std::uint64_t count, std::span<std::uint8_t> out) const {
  if (!clustersInside(lcn, count)) {
    std::fill(out.begin(), out.end(), 0);
    return false;
  }
  return read(byteOffset(lcn), out);
}

bool readMftRecord(const NtfsVolume& volume, const std::vector<DataRun>& runs, std::uint64_t number,
                   std::span<std::uint8_t> out) {
  if (volume.clusterSize == 0 || volume.recordSize == 0 || number > kByteLimit / volume.recordSize) return false;
  const std::uint64_t virtualOffset = number * volume.recordSize;
  std::size_t done = 0;
  // A record spans at most recordSize / 512 pieces, one per cluster at worst.
  while (done < out.size()) {
    const std::uint64_t at = virtualOffset + done;
    const DataRun* run = findRun(runs, at / volume.clusterSize);
    if (!run || run->sparse()) return false;
    std::uint64_t runStart = 0;
    std::uint64_t runEnd = 0;
    if (!vcnToBytes(run->vcn, volume.clusterSize, runStart) || !vcnToBytes(run->endVcn(), volume.clusterSize, runEnd))
      return false;
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(out.size() - done, runEnd - at));
    if (!volume.clustersInside(run->lcn, 0)) return false;
    const std::uint64_t physical = volume.byteOffset(run->lcn) + (at - runStart);
    if (!volume.read(physical, out.subspan(done, piece))) return false;
    done += piece;
  }
  return true;
}

}  // namespace quorvel::ntfsfmt
