#include "fs/exfat/ExFatHeapSearch.h"

#include <algorithm>
#include <bit>
#include <map>
#include <tuple>

#include "fs/exfat/ExFatLayout.h"
#include "io/Arithmetic.h"
#include "io/SectorScan.h"

namespace quorvel::exfatfmt {

namespace {
constexpr std::size_t kChunkBytes = 10 * 1024 * 1024;
constexpr std::size_t kSectorBytes = 512;
constexpr std::int64_t kProgressEnd = 1000;
constexpr unsigned kLargestShift = 16;  // 32 MiB clusters, the format's limit
// A volume holds one root and one up-case table, a reformatted one a few
// more; a hostile one must not make the lists grow without end.
constexpr std::size_t kMostClues = 16;
constexpr std::size_t kMostOnes = 64;
constexpr std::uint64_t kLongestUpCase = 128 * 1024;         // 65,536 units, uncompressed
constexpr std::uint64_t kLongestBitmap = 512ull * 1024 * 1024;  // 2^32 clusters
// The bits a bitmap is tested on for each structure: its first clusters.
constexpr std::uint64_t kClustersTested = 64;
constexpr std::uint8_t kBitmapEntry = 0x81;
constexpr std::uint8_t kUpCaseEntry = 0x82;

bool zeros(Bytes b, std::size_t from, std::size_t to) {
  return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to),
                     [](std::uint8_t v) { return v == 0; });
}

bool opensWithOnes(Bytes sector) {
  return sector.size() >= 8 && std::all_of(sector.begin(), sector.begin() + 8, [](std::uint8_t v) { return v == 0xFF; });
}

std::uint64_t clustersOf(std::uint64_t bytes, std::uint64_t clusterSize) { return (bytes + clusterSize - 1) / clusterSize; }

// The exFAT formatters' default cluster size for a volume of this size: the
// FAT length guessed from it when nothing else tells the cluster size.
std::uint64_t usualClusterSize(std::uint64_t volumeBytes) {
  if (volumeBytes <= 256ull * 1024 * 1024) return 4096;
  if (volumeBytes <= 32ull * 1024 * 1024 * 1024) return 32768;
  return 131072;
}

struct Region {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// The evidence for one heap offset and cluster size, from one root's entries.
class HeapWeigher {
 public:
  HeapWeigher(const VolumeView& volume, const HeapClues& clues) : volume_(volume), clues_(clues) {}

  unsigned weigh(const RootEntries& root, std::uint64_t heap, std::uint64_t clusterSize) {
    unsigned evidence = 0;
    const auto at = [&](std::uint32_t cluster) -> std::optional<std::uint64_t> {
      const std::uint64_t into = saturatingProduct(std::uint64_t{cluster} - 2, clusterSize);
      if (into >= volume_.size() || heap > volume_.size() - into) return std::nullopt;
      return heap + into;
    };
    const std::optional<std::uint64_t> upCase = at(root.upCaseCluster);
    if (upCase && std::binary_search(clues_.upCaseTables.begin(), clues_.upCaseTables.end(), *upCase) &&
        checksumAt(*upCase, root.upCaseBytes) == root.upCaseChecksum)
      evidence |= kUpCaseFits;

    const std::uint64_t bitmapClusters = clustersOf(root.bitmapBytes, clusterSize);
    const std::uint64_t upCaseClusters = clustersOf(root.upCaseBytes, clusterSize);
    const auto overlaps = [](std::uint64_t first, std::uint64_t count, std::uint64_t otherFirst, std::uint64_t otherCount) {
      return first < otherFirst + otherCount && otherFirst < first + count;
    };
    std::optional<std::uint64_t> rootCluster;
    if (root.sector >= heap && (root.sector - heap) % clusterSize == 0) {
      const std::uint64_t r = (root.sector - heap) / clusterSize + 2;
      if (!overlaps(r, 1, root.bitmapCluster, bitmapClusters) && !overlaps(r, 1, root.upCaseCluster, upCaseClusters) &&
          !overlaps(root.bitmapCluster, bitmapClusters, root.upCaseCluster, upCaseClusters)) {
        evidence |= kRootFits;
        rootCluster = r;
      }
    }

    const std::optional<std::uint64_t> bitmap = at(root.bitmapCluster);
    if (bitmap && root.bitmapBytes <= volume_.size() - *bitmap) {
      bool covered = true;
      const auto inUse = [&](std::uint64_t first, std::uint64_t count) {
        for (std::uint64_t c = first; covered && c < first + std::min(count, kClustersTested); ++c)
          covered = bitSet(*bitmap, root.bitmapBytes, c);
      };
      inUse(root.bitmapCluster, bitmapClusters);
      inUse(root.upCaseCluster, upCaseClusters);
      if (rootCluster) inUse(*rootCluster, 1);
      if (covered) evidence |= kBitmapFits;
    }
    return evidence;
  }

  bool checksumMatches(std::uint64_t table, const RootEntries& root) {
    return checksumAt(table, root.upCaseBytes) == root.upCaseChecksum;
  }

 private:
  std::optional<std::uint32_t> checksumAt(std::uint64_t offset, std::uint64_t bytes) {
    const auto key = std::make_pair(offset, bytes);
    if (const auto it = checksums_.find(key); it != checksums_.end()) return it->second;
    std::optional<std::uint32_t> sum;
    if (bytes > 0 && bytes <= kLongestUpCase) {
      std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes));
      if (volume_.read(offset, data)) sum = tableChecksum(data);
    }
    checksums_[key] = sum;
    return sum;
  }

  bool bitSet(std::uint64_t bitmap, std::uint64_t bitmapBytes, std::uint64_t cluster) {
    if (cluster < 2) return false;
    const std::uint64_t index = cluster - 2;
    if (index / 8 >= bitmapBytes) return false;
    std::uint8_t byte = 0;
    if (!volume_.read(bitmap + index / 8, std::span<std::uint8_t>(&byte, 1))) return false;
    return byte & (1u << (index % 8));
  }

  const VolumeView& volume_;
  const HeapClues& clues_;
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::optional<std::uint32_t>> checksums_;
};

struct Weighed {
  HeapCandidate candidate;
  std::size_t root = 0;
  std::uint64_t bitmapMisfit = 0;  // how far the bitmap's length is from the heap's cluster count
};

int strength(unsigned evidence) { return std::popcount(evidence & (kBootSectorSays | kUpCaseFits | kBitmapFits | kRootFits)); }
}  // namespace

std::vector<std::string> evidenceNames(unsigned evidence) {
  std::vector<std::string> names;
  const std::pair<unsigned, const char*> all[] = {{kBootSectorSays, "boot"},
                                                  {kUpCaseFits, "upcase"},
                                                  {kBitmapFits, "bitmap"},
                                                  {kRootFits, "root"},
                                                  {kOnesSignature, "signature"}};
  for (const auto& [bit, name] : all)
    if (evidence & bit) names.emplace_back(name);
  return names;
}

std::uint32_t tableChecksum(Bytes data) {
  std::uint32_t sum = 0;
  for (const std::uint8_t b : data) sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + b;
  return sum;
}

std::optional<RootEntries> rootEntriesIn(Bytes sector) {
  std::optional<RootEntries> found;
  bool bitmap = false;
  bool upCase = false;
  RootEntries r;
  for (std::size_t at = 0; at + kEntrySize <= std::min(sector.size(), kSectorBytes); at += kEntrySize) {
    const Bytes slot = sector.subspan(at, kEntrySize);
    // The first FAT's bitmap (flags 0); a second one follows it on TexFAT volumes.
    if (!bitmap && slot[0] == kBitmapEntry && slot[1] == 0 && zeros(slot, 2, 20)) {
      const std::uint32_t cluster = le32(slot, 20);
      const std::uint64_t bytes = le64(slot, 24);
      if (cluster >= 2 && bytes > 0 && bytes <= kLongestBitmap) {
        r.bitmapCluster = cluster;
        r.bitmapBytes = bytes;
        bitmap = true;
      }
    }
    if (!upCase && slot[0] == kUpCaseEntry && zeros(slot, 1, 4) && zeros(slot, 8, 20)) {
      const std::uint32_t cluster = le32(slot, 20);
      const std::uint64_t bytes = le64(slot, 24);
      if (cluster >= 2 && bytes > 0 && bytes <= kLongestUpCase) {
        r.upCaseChecksum = le32(slot, 4);
        r.upCaseCluster = cluster;
        r.upCaseBytes = bytes;
        upCase = true;
      }
    }
  }
  if (bitmap && upCase) found = r;
  return found;
}

bool opensUpCaseTable(Bytes sector) {
  if (sector.size() < 16) return false;
  bool identity = true;
  for (std::uint16_t unit = 0; unit < 8; ++unit) identity = identity && le16(sector, 2 * unit) == unit;
  if (identity) return true;
  // 0xFFFF and a count: that many units map to themselves.
  const std::uint16_t count = le16(sector, 2);
  return le16(sector, 0) == 0xFFFF && count > 0 && count <= 0x80;
}

HeapClues gatherHeapClues(const VolumeView& volume, JobContext& job) {
  HeapClues clues;
  const std::uint64_t size = volume.size();
  if (size == 0) return clues;
  SectorScan scan(volume, job, SectorScanOptions{.chunkBytes = kChunkBytes, .stepBytes = kSectorBytes});
  job.setProgressRange(0, kProgressEnd);
  job.setProgress(0);
  scan.afterChunk = [&](std::uint64_t next) {
    job.setProgress(static_cast<std::int64_t>(static_cast<double>(next) / static_cast<double>(size) * kProgressEnd));
    return true;
  };
  scan.run([&](std::uint64_t offset, Bytes window) -> std::uint64_t {
    const Bytes sector = window.first(std::min(window.size(), kSectorBytes));
    if (opensWithOnes(sector) && clues.onesSectors.size() < kMostOnes) clues.onesSectors.push_back(offset);
    if (clues.upCaseTables.size() < kMostClues && opensUpCaseTable(sector)) clues.upCaseTables.push_back(offset);
    if (clues.roots.size() < kMostClues)
      if (std::optional<RootEntries> root = rootEntriesIn(sector)) {
        root->sector = offset;
        clues.roots.push_back(*root);
      }
    return offset + kSectorBytes;
  });
  job.setProgress(kProgressEnd);
  return clues;
}

unsigned weighHeap(const VolumeView& volume, const HeapClues& clues, std::uint64_t offset, unsigned shift) {
  if (shift > kLargestShift) return 0;
  HeapWeigher weigher(volume, clues);
  unsigned best = 0;
  for (const RootEntries& root : clues.roots) {
    const unsigned evidence = weigher.weigh(root, offset, std::uint64_t{kSectorBytes} << shift);
    if (strength(evidence) > strength(best)) best = evidence;
  }
  return best;
}

std::vector<HeapCandidate> heapCandidates(const VolumeView& volume, const HeapClues& clues,
                                          const std::vector<std::uint64_t>& fatCopies, std::size_t wanted,
                                          JobContext& job) {
  const std::uint64_t size = volume.size();
  HeapWeigher weigher(volume, clues);
  std::vector<Weighed> weighed;
  // Each up-case table that a root's entry names by its checksum anchors
  // one heap offset per cluster size.
  for (std::size_t i = 0; i < clues.roots.size(); ++i) {
    const RootEntries& root = clues.roots[i];
    for (const std::uint64_t table : clues.upCaseTables) {
      if (!job.checkpoint()) return {};
      if (!weigher.checksumMatches(table, root)) continue;
      for (unsigned shift = 0; shift <= kLargestShift; ++shift) {
        const std::uint64_t clusterSize = std::uint64_t{kSectorBytes} << shift;
        const std::uint64_t before = saturatingProduct(std::uint64_t{root.upCaseCluster} - 2, clusterSize);
        if (before > table || table - before < kBootRegionsBytes) continue;
        const std::uint64_t heap = table - before;
        const std::uint64_t clusters = (size - heap) / clusterSize;
        const std::uint64_t bitmapClusters = root.bitmapBytes * 8;
        const std::uint64_t misfit = bitmapClusters > clusters ? bitmapClusters - clusters : clusters - bitmapClusters;
        weighed.push_back({{heap, shift, weigher.weigh(root, heap, clusterSize)}, i, misfit});
      }
    }
  }
  std::stable_sort(weighed.begin(), weighed.end(), [](const Weighed& a, const Weighed& b) {
    return std::make_tuple(-strength(a.candidate.evidence), a.bitmapMisfit, a.candidate.offset) <
           std::make_tuple(-strength(b.candidate.evidence), b.bitmapMisfit, b.candidate.offset);
  });

  std::vector<HeapCandidate> offered;
  std::vector<Region> taken;  // bitmaps and FATs the offered layouts put where they are
  const auto alreadyOffered = [&](std::uint64_t offset) {
    return std::any_of(offered.begin(), offered.end(), [&](const HeapCandidate& c) { return c.offset == offset; });
  };
  const auto fatRegions = [&](std::uint64_t heap, std::uint64_t clusterSize) {
    const std::uint64_t fatBytes = ((size > heap ? (size - heap) / clusterSize : 0) + 2) * 4;
    for (const std::uint64_t fat : fatCopies)
      if (fat < heap) taken.push_back({fat, fat + fatBytes});
  };
  // Only the best evidence is offered: with fewer pieces in place, a heap
  // offset merely fits the table's cluster number at another cluster size.
  const int best = weighed.empty() ? 0 : strength(weighed.front().candidate.evidence);
  for (const Weighed& w : weighed) {
    if (strength(w.candidate.evidence) < best || offered.size() >= wanted) break;
    if (alreadyOffered(w.candidate.offset)) continue;
    offered.push_back(w.candidate);
    const RootEntries& root = clues.roots[w.root];
    const std::uint64_t clusterSize = std::uint64_t{kSectorBytes} << *w.candidate.shift;
    const std::uint64_t bitmap = w.candidate.offset + (std::uint64_t{root.bitmapCluster} - 2) * clusterSize;
    taken.push_back({bitmap, bitmap + root.bitmapBytes});
    fatRegions(w.candidate.offset, clusterSize);
  }

  // Then what the old signature finds, where nothing found says otherwise.
  for (const std::uint64_t ones : clues.onesSectors) {
    if (offered.size() >= wanted) break;
    if (ones < kBootRegionsBytes || alreadyOffered(ones)) continue;
    if (std::any_of(taken.begin(), taken.end(), [&](const Region& r) { return ones >= r.begin && ones < r.end; }))
      continue;
    // A FAT copy before it must end before it, at the usual cluster size.
    const std::uint64_t usualFat = ((size - ones) / usualClusterSize(size) + 2) * 4;
    if (std::any_of(fatCopies.begin(), fatCopies.end(), [&](std::uint64_t fat) { return fat <= ones && ones < fat + usualFat; }))
      continue;
    offered.push_back({ones, std::nullopt, kOnesSignature});
  }
  return offered;
}

}  // namespace quorvel::exfatfmt
