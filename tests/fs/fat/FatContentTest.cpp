// Reading files: through the FAT for live files, as contiguous runs for
// deleted ones (unless the FAT still holds their whole chain) and on
// formatted volumes; damaged chains end reads early.
#include <gtest/gtest.h>

#include "fs/fat/FatBuilders.h"

namespace quorvel::test {
namespace {

using fatfmt::FatWidth;

// Writes `data` over the clusters in order, a cluster's worth each.
void spread(FatVolume& volume, const std::vector<std::uint32_t>& clusters, const ByteVector& data) {
  const std::size_t size = volume.clusterSize();
  for (std::size_t i = 0; i < clusters.size() && i * size < data.size(); ++i) {
    const auto from = data.begin() + static_cast<std::ptrdiff_t>(i * size);
    const auto to = data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), (i + 1) * size));
    volume.writeCluster(clusters[i], ByteVector(from, to));
  }
}

ByteVector joined(const ByteVector& data, std::size_t clusterSize, const std::vector<std::size_t>& pieces) {
  ByteVector out;
  for (std::size_t p : pieces) {
    const std::size_t from = p * clusterSize;
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
               data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), from + clusterSize)));
  }
  return out;
}

struct Expectation {
  const char* name;
  ByteVector bytes;
  bool complete;
};

// One volume per width holding every case; each case's clusters are its own.
TEST(FatContent, FilesReadThroughTheirChainsOnEveryWidth) {
  const struct {
    FatWidth width;
    std::uint32_t clusters;
  } widths[] = {{FatWidth::Fat12, 300}, {FatWidth::Fat16, 4200}, {FatWidth::Fat32, 300}};
  for (const auto& w : widths) {
    SCOPED_TRACE(static_cast<int>(w.width));
    FatVolume volume(w.width, w.clusters, 2);
    const std::size_t cs = volume.clusterSize();
    const std::uint32_t bad = w.width == FatWidth::Fat12 ? 0xFF7 : w.width == FatWidth::Fat16 ? 0xFFF7 : 0x0FFFFFF7;
    Directory root;
    std::vector<Expectation> expected;

    // Fragmented, out of order, odd and even FAT12 entries, a partial last cluster.
    const ByteVector frag = pattern(4 * cs + 100, 1);
    volume.chain({5, 6, 9, 4, 12});
    spread(volume, {5, 6, 9, 4, 12}, frag);
    root.file("FRAG    BIN", 5, static_cast<std::uint32_t>(frag.size()));
    expected.push_back({"FRAG.BIN", frag, true});

    // Exactly whole clusters.
    const ByteVector whole = pattern(2 * cs, 2);
    volume.chain({14, 15});
    spread(volume, {14, 15}, whole);
    root.file("WHOLE   BIN", 14, static_cast<std::uint32_t>(whole.size()));
    expected.push_back({"WHOLE.BIN", whole, true});

    // A chain longer than the size: the size wins.
    const ByteVector small = pattern(10, 3);
    volume.chain({17, 18, 19});
    spread(volume, {17}, small);
    root.file("SMALL   BIN", 17, 10);
    expected.push_back({"SMALL.BIN", small, true});

    // A chain shorter than the size: what there is, and false.
    const ByteVector shorter = pattern(4 * cs, 4);
    volume.chain({20, 22});
    spread(volume, {20, 22, 23, 24}, shorter);
    root.file("SHORT   BIN", 20, static_cast<std::uint32_t>(shorter.size()));
    expected.push_back({"SHORT.BIN", joined(shorter, cs, {0, 1}), false});

    // The bad-cluster mark ends the chain.
    const ByteVector marked = pattern(2 * cs, 5);
    volume.setFat(26, bad);
    spread(volume, {26, 27}, marked);
    root.file("BADMARK BIN", 26, static_cast<std::uint32_t>(marked.size()));
    expected.push_back({"BADMARK.BIN", joined(marked, cs, {0}), false});

    // A free entry in the middle of a chain ends it.
    const ByteVector freed = pattern(3 * cs, 6);
    volume.setFat(29, 30);
    spread(volume, {29, 30, 31}, freed);
    root.file("FREED   BIN", 29, static_cast<std::uint32_t>(freed.size()));
    expected.push_back({"FREED.BIN", joined(freed, cs, {0, 1}), false});

    // A link to a number beyond the volume ends it.
    const ByteVector outside = pattern(2 * cs, 7);
    volume.setFat(33, w.clusters + 2);
    spread(volume, {33, 34}, outside);
    root.file("OUTSIDE BIN", 33, static_cast<std::uint32_t>(outside.size()));
    expected.push_back({"OUTSIDE.BIN", joined(outside, cs, {0}), false});

    // Deleted: the FAT is zero, the clusters follow each other for the size.
    const ByteVector gone = pattern(2 * cs + 300, 8);
    spread(volume, {40, 41, 42}, gone);
    root.file("\xE5ONE    BIN", 40, static_cast<std::uint32_t>(gone.size()));
    expected.push_back({"\xEF\xBF\xA5ONE.BIN", gone, true});

    // Deleted, the chain left whole by the driver: the chain is the better guess.
    const ByteVector kept = pattern(2 * cs, 9);
    volume.chain({44, 60});
    spread(volume, {44, 60}, kept);
    volume.writeCluster(45, pattern(cs, 90));
    root.file("\xE5" "EPT    BIN", 44, static_cast<std::uint32_t>(kept.size()));
    expected.push_back({"\xEF\xBF\xA5" "EPT.BIN", kept, true});

    // Deleted, a chain left that is too short for the size: read in a run.
    const ByteVector stub = pattern(2 * cs, 11);
    volume.chain({46});
    spread(volume, {46, 47}, stub);
    root.file("\xE5" "TUB    BIN", 46, static_cast<std::uint32_t>(stub.size()));
    expected.push_back({"\xEF\xBF\xA5" "TUB.BIN", stub, true});

    // Deleted, a chain left that loops: read in a run too.
    const ByteVector looped = pattern(3 * cs, 12);
    volume.setFat(50, 51);
    volume.setFat(51, 50);
    spread(volume, {50, 51, 52}, looped);
    root.file("\xE5" "OOPED  BIN", 50, static_cast<std::uint32_t>(looped.size()));
    expected.push_back({"\xEF\xBF\xA5" "OOPED.BIN", looped, true});

    // Empty files read as empty, whatever their first cluster says.
    root.file("EMPTY   TXT", 0, 0);
    expected.push_back({"EMPTY.TXT", {}, true});
    root.file("EMPTY2  TXT", 0xFFF0, 0);
    expected.push_back({"EMPTY2.TXT", {}, true});

    // Content where no cluster is: nothing, and false.
    root.file("NOWHERE BIN", 0, 100);
    expected.push_back({"NOWHERE.BIN", {}, false});
    root.file("BEYOND  BIN", w.clusters + 2, 100);
    expected.push_back({"BEYOND.BIN", {}, false});
    root.file("\xE5" "EYOND  BIN", w.clusters + 5, 100);
    expected.push_back({"\xEF\xBF\xA5" "EYOND.BIN", {}, false});

    // A deleted run that reaches past the last cluster stops there.
    const ByteVector tail = pattern(2 * cs, 10);
    spread(volume, {w.clusters + 1}, tail);
    root.file("\xE5" "AIL    BIN", w.clusters + 1, static_cast<std::uint32_t>(tail.size()));
    expected.push_back({"\xEF\xBF\xA5" "AIL.BIN", joined(tail, cs, {0}), false});

    volume.writeRoot(root);
    const auto v = scanFat(volume);
    ASSERT_TRUE(v->scanned);
    for (const Expectation& e : expected) {
      SCOPED_TRACE(e.name);
      const EntryId id = v->find(e.name);
      ASSERT_NE(id, kNoEntry);
      bool complete = !e.complete;
      const ByteVector got = v->content(id, &complete);
      EXPECT_EQ(got.size(), e.bytes.size());
      EXPECT_TRUE(got == e.bytes);
      EXPECT_EQ(complete, e.complete);
    }
  }
}

TEST(FatContent, CyclesInTheFatEndAFileRead) {
  // A chain that comes back to a cluster it has read delivers each cluster
  // once and reports the file incomplete.
  FatVolume volume(FatWidth::Fat16, 4200);
  const std::size_t cs = volume.clusterSize();
  const ByteVector loop = pattern(3 * cs, 1);
  const ByteVector self = pattern(3 * cs, 2);
  const ByteVector late = pattern(6 * cs, 3);
  spread(volume, {10, 11}, loop);
  volume.setFat(10, 11);
  volume.setFat(11, 10);
  spread(volume, {20}, self);
  volume.setFat(20, 20);
  spread(volume, {30, 31, 32, 33}, late);
  volume.chain({30, 31, 32, 33});
  volume.setFat(33, 31);  // the loop closes after a few clusters
  volume.writeRoot(Directory()
                       .file("LOOP    BIN", 10, static_cast<std::uint32_t>(loop.size()))
                       .file("SELF    BIN", 20, static_cast<std::uint32_t>(self.size()))
                       .file("LATE    BIN", 30, static_cast<std::uint32_t>(late.size()))
                       .file("HUGE    BIN", 10, 0xFFFFFFFF));
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  const Expectation cases[] = {
      {"LOOP.BIN", joined(loop, cs, {0, 1}), false},
      {"SELF.BIN", joined(self, cs, {0}), false},
      {"LATE.BIN", joined(late, cs, {0, 1, 2, 3}), false},
      {"HUGE.BIN", joined(loop, cs, {0, 1}), false},
  };
  for (const Expectation& e : cases) {
    SCOPED_TRACE(e.name);
    bool complete = true;
    const ByteVector got = v->content(v->find(e.name), &complete);
    EXPECT_EQ(got.size(), e.bytes.size());
    EXPECT_TRUE(got == e.bytes);
    EXPECT_FALSE(complete);
  }
}

TEST(FatContent, AFormattedDriveIsReadInContiguousRuns) {
  // "Is Drive Formated..?": the FAT is not trusted, live files are read like
  // deleted ones.
  FatVolume volume(FatWidth::Fat32, 300);
  const std::size_t cs = volume.clusterSize();
  const ByteVector data = pattern(3 * cs - 5, 4);
  spread(volume, {10, 11, 12}, data);
  volume.chain({10, 50, 51});  // what the FAT says now
  volume.writeCluster(50, pattern(cs, 77));
  volume.writeRoot(Directory().file("DATA    BIN", 10, static_cast<std::uint32_t>(data.size())));

  const auto trusted = scanFat(volume);
  ASSERT_TRUE(trusted->scanned);
  EXPECT_TRUE(trusted->content(trusted->find("DATA.BIN")) != data);

  AdvancedChoices formatted;
  formatted.formatted = true;
  const auto v = scanFat(volume, formatted);
  ASSERT_TRUE(v->scanned);
  bool complete = false;
  EXPECT_TRUE(v->content(v->find("DATA.BIN"), &complete) == data);
  EXPECT_TRUE(complete);
}

TEST(FatContent, TheHighWordOfTheFirstClusterCountsOnFat32Only) {
  // FAT16 keeps other data in the high word; FAT32 needs it past 65535.
  FatVolume fat32(FatWidth::Fat32, 70000);
  const ByteVector far = pattern(1000, 5);
  spread(fat32, {0x10005, 0x10006}, far);
  fat32.chain({0x10005, 0x10006});
  fat32.writeRoot(Directory().file("FAR     BIN", 0x10005, 1000));
  const auto v32 = scanFat(fat32);
  ASSERT_TRUE(v32->scanned);
  bool complete = false;
  EXPECT_TRUE(v32->content(v32->find("FAR.BIN"), &complete) == far);
  EXPECT_TRUE(complete);

  FatVolume fat16(FatWidth::Fat16, 4200);
  const ByteVector near = pattern(700, 6);
  spread(fat16, {5, 6}, near);
  fat16.chain({5, 6});
  fat16.writeRoot(Directory().file("NEAR    BIN", 0x00030005, 700));
  const auto v16 = scanFat(fat16);
  ASSERT_TRUE(v16->scanned);
  EXPECT_TRUE(v16->content(v16->find("NEAR.BIN"), &complete) == near);
  EXPECT_TRUE(complete);
}

TEST(FatContent, LargeFilesStreamInPieces) {
  // More than one read's worth, fragmented in the middle.
  FatVolume volume(FatWidth::Fat32, 6000, 1);
  const std::size_t cs = volume.clusterSize();
  std::vector<std::uint32_t> chain;
  for (std::uint32_t c = 3; c < 3 + 2500; ++c) chain.push_back(c);
  for (std::uint32_t c = 3000; c < 3000 + 2500; ++c) chain.push_back(c);
  const ByteVector data = pattern(chain.size() * cs - 1, 7);
  spread(volume, chain, data);
  volume.chain(chain);
  volume.writeRoot(Directory().file("BIG     BIN", 3, static_cast<std::uint32_t>(data.size())));
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  bool complete = false;
  EXPECT_TRUE(v->content(v->find("BIG.BIN"), &complete) == data);
  EXPECT_TRUE(complete);
}

}  // namespace
}  // namespace quorvel::test
