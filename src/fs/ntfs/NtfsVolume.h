#pragma once
// Reading an NTFS volume by clusters and by MFT record number.
#include <cstdint>
#include <span>
#include <vector>

#include "fs/ntfs/RunList.h"
#include "io/VolumeView.h"

namespace quorvel::ntfsfmt {

// What every read needs to know about the volume. Offsets are bytes from
// the volume's start.
struct NtfsVolume {
  // Bounded by the smaller of the volume's claimed size and what the source
  // holds: that bounds every allocation and every cluster a run may point at.
  VolumeView view;
  std::uint64_t clusterSize = 4096;
  std::uint32_t recordSize = 1024;

  // The bytes that can exist.
  std::uint64_t limitBytes() const { return view.size(); }
  std::uint64_t clusterCount() const { return clusterSize ? limitBytes() / clusterSize : 0; }
  // Whether `count` clusters from `lcn` lie inside the volume.
  bool clustersInside(Lcn lcn, std::uint64_t count) const;
  // Where a cluster inside the volume begins.
  std::uint64_t byteOffset(Lcn lcn) const { return static_cast<std::uint64_t>(lcn.value) * clusterSize; }
  // Reads at most out.size() bytes at a volume offset, never past limitBytes:
  // the count read (0 at the end), or -1 on a read error.
  std::int64_t readUpTo(std::uint64_t offset, std::span<std::uint8_t> out) const;
  // Reads `count` bytes at a volume offset; the part that could not be read
  // is zero-filled. True only when every byte was read.
  bool read(std::uint64_t offset, std::span<std::uint8_t> out) const;
  // Reads clusters [lcn, lcn + count) into `out` (count × clusterSize bytes),
  // zeros where they lie outside the volume or cannot be read.
  bool readClusters(Lcn lcn, std::uint64_t count, std::span<std::uint8_t> out) const;
};

// The byte offset of a VCN in an attribute, or false when it would not fit
// in 63 bits (only a damaged run list gets there).
bool vcnToBytes(std::uint64_t vcn, std::uint64_t clusterSize, std::uint64_t& bytes);

// Reads the record `number` of an MFT whose data lies in `runs`, piece by
// piece, so a record split over two runs still comes back whole. False when
// any of it is unmapped, sparse or unreadable.
bool readMftRecord(const NtfsVolume& volume, const std::vector<DataRun>& runs, std::uint64_t number,
                   std::span<std::uint8_t> out);

}  // namespace quorvel::ntfsfmt
