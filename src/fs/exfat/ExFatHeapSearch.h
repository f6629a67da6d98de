#pragma once
// Where the cluster heap of an exFAT volume starts when its boot sectors are
// gone. The root directory names the first clusters of the up-case table and
// the allocation bitmap; the up-case table's content is known and checked by
// its checksum. Each cluster size then puts the heap at one offset, and the
// offset where the table, the bitmap and the root all fall into place is
// the heap. Deletions cannot spoil that evidence: they change none of the
// three.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/Endian.h"
#include "io/JobContext.h"
#include "io/VolumeView.h"

namespace quorvel::exfatfmt {

// The sectors of the main and backup boot regions: no heap starts there.
inline constexpr std::uint64_t kBootRegionsBytes = 24 * 512;

// What shows a heap offset to be the heap's.
enum HeapEvidence : unsigned {
  kBootSectorSays = 1u << 0,  // the volume's own boot sector names it
  kUpCaseFits = 1u << 1,      // the up-case table lies at the cluster its entry names, checksum and all
  kBitmapFits = 1u << 2,      // the bitmap's bits cover the clusters the root's entries use
  kRootFits = 1u << 3,        // the root's entries open a cluster
  kOnesSignature = 1u << 4,   // only: a sector opening with 64 clusters in use
};
// "boot", "upcase", "bitmap", "root", "signature": the names the CLI shows.
std::vector<std::string> evidenceNames(unsigned evidence);

struct HeapCandidate {
  std::uint64_t offset = 0;           // bytes from the volume's start
  std::optional<unsigned> shift;      // the sectors-per-cluster shift the evidence fits
  unsigned evidence = 0;              // HeapEvidence bits
};

// A sector holding the root's allocation-bitmap and up-case entries.
struct RootEntries {
  std::uint64_t sector = 0;  // offset of the sector
  std::uint32_t bitmapCluster = 0;
  std::uint64_t bitmapBytes = 0;
  std::uint32_t upCaseCluster = 0;
  std::uint64_t upCaseBytes = 0;
  std::uint32_t upCaseChecksum = 0;
};

// What one pass over the volume gathers, each list bounded.
struct HeapClues {
  std::vector<RootEntries> roots;
  std::vector<std::uint64_t> upCaseTables;  // sectors that open like an up-case table
  std::vector<std::uint64_t> onesSectors;   // sectors opening with eight bytes of ones
};

// The root's bitmap and up-case entries in one 512-byte sector, if it holds both.
std::optional<RootEntries> rootEntriesIn(Bytes sector);
// Whether a sector opens like an up-case table: identity from U+0000, or a
// compressed run of identities.
bool opensUpCaseTable(Bytes sector);
// The checksum of a table (up-case, as its entry stores it).
std::uint32_t tableChecksum(Bytes data);

// One pass over the volume in 10 MiB chunks; Stop ends it with what it found.
HeapClues gatherHeapClues(const VolumeView& volume, JobContext& job);

// What the clues say of a heap at `offset` with clusters of 512 << shift.
unsigned weighHeap(const VolumeView& volume, const HeapClues& clues, std::uint64_t offset, unsigned shift);

// The heap offsets the clues point at, best evidence first, then the
// sectors opening with ones that lie outside every region the evidence or
// `fatCopies` (found FAT copies) mark; never in the boot regions. At most
// `wanted`.
std::vector<HeapCandidate> heapCandidates(const VolumeView& volume, const HeapClues& clues,
                                          const std::vector<std::uint64_t>& fatCopies, std::size_t wanted,
                                          JobContext& job);

}  // namespace quorvel::exfatfmt
