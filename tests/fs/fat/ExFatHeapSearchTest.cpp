// Where the exFAT heap search puts the cluster heap of a volume whose boot
// sectors are gone: from the up-case table, the bitmap and the root, whatever
// the bitmap's first bytes hold; and what it never offers.
#include <gtest/gtest.h>

#include <algorithm>

#include "fs/exfat/ExFatHeapSearch.h"
#include "fs/fat/ExFatBuilders.h"
#include "fs/fatfamily/FatCopySearch.h"

namespace quorvel::test {
namespace {

using namespace exfatfmt;

struct Searched {
  std::unique_ptr<TempImage> image;
  FileReadSeek source;
  std::vector<HeapCandidate> offered;
  std::vector<std::uint64_t> fatCopies;
};

// Zeroes both boot regions, then searches as the advanced-input screen does.
std::unique_ptr<Searched> searchWithoutBoot(const ExFatVolume& volume, std::size_t wanted,
                                            const std::vector<std::pair<std::uint64_t, ByteVector>>& planted = {}) {
  auto s = std::make_unique<Searched>();
  s->image = volume.materialize();
  s->image->write(0, ByteVector(kBootRegionsBytes, 0));
  for (const auto& [at, bytes] : planted) s->image->write(at, bytes);
  if (!s->source.open(s->image->path())) throw std::runtime_error("cannot open the test image");
  const VolumeView view(s->source, VolumeExtent{0, 0});
  JobContext job;
  s->fatCopies = fatfmt::findFatCopies(view, fatfmt::FatCopyKind::ExFat, 3, job);
  const HeapClues clues = gatherHeapClues(view, job);
  s->offered = heapCandidates(view, clues, s->fatCopies, wanted, job);
  return s;
}

// The first offer is the heap at every cluster size, though the bitmap
// opens with free clusters (files were deleted there).
TEST(ExFatHeapSearch, FirstOfferIsTheHeapAtEveryClusterSize) {
  for (const unsigned shift : {0u, 3u, 6u}) {
    SCOPED_TRACE("shift " + std::to_string(shift));
    ExFatVolume volume(shift == 0 ? 12000 : 3000, shift);
    volume.writeRoot(ExFatDirectory().set(exFile(u"kept.txt", volume.firstFreeCluster() + 3, 10)));
    volume.markUsed(volume.firstFreeCluster() + 3, 1);
    const auto s = searchWithoutBoot(volume, 4);
    ASSERT_FALSE(s->offered.empty());
    const HeapCandidate& first = s->offered.front();
    EXPECT_EQ(first.offset, volume.heapOffset());
    EXPECT_EQ(first.shift, shift);
    EXPECT_EQ(evidenceNames(first.evidence), (std::vector<std::string>{"upcase", "bitmap", "root"}));
  }
}

// Eight bytes of ones in the boot regions (formatters fill the OEM
// parameters with them), inside a FAT copy and inside the bitmap look like
// a full bitmap's start; none of them is ever offered.
TEST(ExFatHeapSearch, NeverOffersBootRegionsOrSectorsInsideFatOrBitmap) {
  ExFatVolume volume(12000);  // a bitmap of three 512-byte clusters
  volume.writeRoot(ExFatDirectory());
  // The bitmap's second sector opens with 64 clusters in use.
  volume.markUsed(2 + 4096, 64);
  const ByteVector ones(8, 0xFF);
  const std::uint64_t insideFat = volume.fatOffset() + 4 * 512;
  const std::uint64_t insideBitmap = volume.heapOffset() + 512;
  const std::uint64_t free = volume.clusterOffset(volume.firstFreeCluster() + 100);
  struct Case {
    const char* what;
    bool withRoot;
  };
  for (const Case c : {Case{"with the root's entries", true}, Case{"root lost", false}}) {
    SCOPED_TRACE(c.what);
    ExFatVolume v = volume;
    if (!c.withRoot) v.writeRoot(ExFatDirectory(), false);
    const auto s = searchWithoutBoot(v, 16, {{9 * 512, ones}, {21 * 512, ones}, {insideFat, ones}, {free, ones}});
    ASSERT_EQ(s->fatCopies, std::vector<std::uint64_t>{v.fatOffset()});
    std::vector<std::uint64_t> offsets;
    for (const HeapCandidate& h : s->offered) offsets.push_back(h.offset);
    for (const std::uint64_t never : {std::uint64_t{9 * 512}, std::uint64_t{21 * 512}, insideFat})
      EXPECT_EQ(std::count(offsets.begin(), offsets.end(), never), 0) << never;
    // Where the bitmap lies is known from the root's entries.
    if (c.withRoot) EXPECT_EQ(std::count(offsets.begin(), offsets.end(), insideBitmap), 0);
    for (const std::uint64_t offset : offsets) EXPECT_GE(offset, kBootRegionsBytes);
    // A sector of ones in free space is still offered, behind the evidence.
    EXPECT_EQ(std::count(offsets.begin(), offsets.end(), free), 1);
    if (c.withRoot) EXPECT_EQ(offsets.front(), v.heapOffset());
  }
}

// A hostile volume full of things that look like clues offers no more than
// asked, and Stop ends the search.
TEST(ExFatHeapSearch, BoundedAndStoppable) {
  ExFatVolume volume(12000);
  volume.writeRoot(ExFatDirectory());
  std::vector<std::pair<std::uint64_t, ByteVector>> planted;
  const std::vector<ByteVector> system = volume.systemEntries();
  ByteVector rootSector(512, 0);
  std::copy(system[0].begin(), system[0].end(), rootSector.begin());
  std::copy(system[1].begin(), system[1].end(), rootSector.begin() + 32);
  for (std::uint32_t k = 0; k < 200; ++k) {
    const std::uint64_t at = volume.clusterOffset(volume.firstFreeCluster() + 10 + 2 * k);
    planted.push_back({at, ByteVector(8, 0xFF)});
    planted.push_back({at + 512, rootSector});
  }
  const auto s = searchWithoutBoot(volume, 4, planted);
  EXPECT_LE(s->offered.size(), 4u);
  ASSERT_FALSE(s->offered.empty());

  const VolumeView view(s->source, VolumeExtent{0, 0});
  JobContext job;
  job.requestStop();
  const HeapClues clues = gatherHeapClues(view, job);
  EXPECT_TRUE(heapCandidates(view, clues, {}, 4, job).empty());
}

}  // namespace
}  // namespace quorvel::test
