#pragma once
// The sector-by-sector search for MFT records that serves the damaged-boot
// fallback, the MFT-entry search of the advanced mode and the deep scan.
#include <cstdint>
#include <functional>
#include <span>

#include "fs/ntfs/NtfsVolume.h"
#include "io/JobContext.h"

namespace quorvel::ntfsfmt {

inline constexpr std::size_t kScanChunkBytes = 4u << 20;

// Called with a record's volume offset and a copy of its bytes (the
// visitor may apply fix-ups in place). False ends the scan.
using RecordVisitor = std::function<bool(std::uint64_t position, std::span<std::uint8_t> record)>;
// Called before each chunk is read, with its number. False ends the scan.
using ChunkVisitor = std::function<bool(std::uint64_t chunk)>;

// Reads the first `scanBytes` of the volume in large chunks and looks at
// every 512-byte step for the start of an MFT record; after a record the
// search goes on behind it. A record that runs past the end of a chunk is
// read whole from the volume. A chunk that cannot be read is skipped; the
// end of the source ends the scan. When `recordSize` is 0 it is taken from
// the first record's header (1024 if that says nothing usable).
void scanForRecords(const NtfsVolume& volume, std::uint64_t scanBytes, std::uint32_t& recordSize, JobContext& job,
                    const RecordVisitor& onRecord, const ChunkVisitor& onChunk,
                    std::size_t chunkBytes = kScanChunkBytes);

// How many chunks scanForRecords reads for `scanBytes`.
std::uint64_t scanChunkCount(std::uint64_t scanBytes, std::size_t chunkBytes = kScanChunkBytes);

}  // namespace quorvel::ntfsfmt
