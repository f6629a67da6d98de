// Reading exFAT files: one run or along the FAT, up to the valid length;
// deleted files and formatted volumes; chains and runs that end early.
#include <gtest/gtest.h>

#include "fs/fat/ExFatBuilders.h"
#include "support/ContentSinks.h"

namespace quorvel::test {
namespace {

using Names = std::vector<std::string>;

ByteVector clustersOf(const ByteVector& data, std::size_t clusterSize, const std::vector<std::size_t>& pieces) {
  ByteVector out;
  for (std::size_t p : pieces) {
    const std::size_t from = p * clusterSize;
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
               data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), from + clusterSize)));
  }
  return out;
}

ByteVector head(const ByteVector& data, std::size_t length) {
  return ByteVector(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
}

struct Expectation {
  std::string name;
  ByteVector bytes;
  bool complete;
  std::uint64_t size;
};

TEST(ExFatContent, FilesReadAsRunsOrAlongTheirChains) {
  ExFatVolume volume(2400);
  const std::size_t cs = volume.clusterSize();
  const std::uint32_t last = volume.clusters() + 1;
  ExFatDirectory root;
  std::vector<Expectation> expected;
  const auto add = [&](const ExFatEntrySet& set, ByteVector bytes, bool complete, bool deleted = false) {
    deleted ? root.deleted(set) : root.set(set);
    expected.push_back(
        {std::string(set.name.begin(), set.name.end()), std::move(bytes), complete, set.validDataLength});
  };

  // One run; the FAT entries of its clusters lead elsewhere and are not used.
  const ByteVector run = pattern(3 * cs + 17, 1);
  volume.markUsed(100, 4);
  volume.spread({100, 101, 102, 103}, run);
  volume.setFat(100, 300);
  add(exFile(u"run.bin", 100, run.size(), true), run, true);

  // Along the FAT, out of order, the last cluster partly used.
  const ByteVector fragmented = pattern(3 * cs + 100, 2);
  volume.chain({120, 110, 130, 111});
  volume.spread({120, 110, 130, 111}, fragmented);
  add(exFile(u"fragmented.bin", 120, fragmented.size()), fragmented, true);

  // Valid data shorter than what was allocated: the valid part only.
  const ByteVector valid = pattern(3 * cs, 3);
  volume.chain({140, 142, 144});
  volume.spread({140, 142, 144}, valid);
  ExFatEntrySet partly = exFile(u"valid-part.bin", 140, 700);
  partly.dataLength = 3 * cs;
  add(partly, head(valid, 700), true);
  volume.markUsed(146, 2);
  volume.spread({146, 147}, valid);
  ExFatEntrySet partlyRun = exFile(u"valid-part-run.bin", 146, 100, true);
  partlyRun.dataLength = 2 * cs;
  add(partlyRun, head(valid, 100), true);

  // Chains that end before the valid length: what there is, and false.
  const ByteVector cut = pattern(4 * cs, 4);
  volume.chain({150, 151});
  volume.spread({150, 151, 152, 153}, cut);
  add(exFile(u"chain-too-short.bin", 150, cut.size()), clustersOf(cut, cs, {0, 1}), false);
  volume.setFat(155, 0xFFFFFFF7);  // the bad-cluster mark
  volume.spread({155, 156}, cut);
  add(exFile(u"bad-mark.bin", 155, 2 * cs), clustersOf(cut, cs, {0}), false);
  volume.setFat(158, 159);
  volume.setFat(159, 158);
  volume.spread({158, 159, 160}, cut);
  add(exFile(u"loop.bin", 158, 3 * cs), clustersOf(cut, cs, {0, 1}), false);
  volume.setFat(162, volume.clusters() + 2);
  volume.spread({162, 163}, cut);
  add(exFile(u"link-beyond.bin", 162, 2 * cs), clustersOf(cut, cs, {0}), false);

  // Empty files are empty wherever they point.
  add(exFile(u"empty", 0, 0), {}, true);
  add(exFile(u"empty-run", 0, 0, true), {}, true);
  add(exFile(u"empty-beyond", last + 10, 0), {}, true);

  // Content where no cluster is.
  add(exFile(u"nowhere.bin", 0, 100), {}, false);
  add(exFile(u"beyond.bin", last + 1, 100), {}, false);
  add(exFile(u"beyond-run.bin", last + 1, 100, true), {}, false);
  // A run that reaches past the last cluster stops there.
  const ByteVector tail = pattern(3 * cs, 5);
  volume.markUsed(last, 1);
  volume.spread({last}, tail);
  add(exFile(u"tail-run.bin", last, tail.size(), true), clustersOf(tail, cs, {0}), false);

  // Deleted: a run stays a run.
  const ByteVector gone = pattern(2 * cs + 50, 6);
  volume.spread({170, 171, 172}, gone);
  add(exFile(u"deleted-run.bin", 170, gone.size(), true), gone, true, true);
  // Deleted, the chain zeroed: the clusters are taken to follow each other.
  const ByteVector zeroed = pattern(2 * cs + 50, 7);
  volume.spread({180, 181, 182}, zeroed);
  volume.writeCluster(190, pattern(cs, 70));  // where its chain once went
  add(exFile(u"deleted-zeroed.bin", 180, zeroed.size()), zeroed, true, true);
  // Deleted, the chain left whole: it is the better guess.
  const ByteVector kept = pattern(2 * cs, 8);
  volume.chain({195, 185});
  volume.spread({195, 185}, kept);
  volume.writeCluster(196, pattern(cs, 80));
  add(exFile(u"deleted-kept.bin", 195, kept.size()), kept, true, true);
  // Deleted, a chain left that is too short: a run.
  const ByteVector stub = pattern(2 * cs, 9);
  volume.chain({200});
  volume.spread({200, 201}, stub);
  add(exFile(u"deleted-stub.bin", 200, stub.size()), stub, true, true);

  volume.setRootChain({volume.rootCluster(), 20, 21, 22, 23, 24});  // nineteen sets of three or four slots
  volume.writeRoot(root);
  const auto v = scanExFat(volume);
  ASSERT_TRUE(v->scanned);
  ASSERT_EQ(v->topNames().size(), expected.size());
  for (const Expectation& e : expected) {
    SCOPED_TRACE(e.name);
    const EntryId id = v->find(e.name);
    ASSERT_NE(id, kNoEntry);
    EXPECT_EQ(v->parser->size(id), e.size);
    bool complete = !e.complete;
    const ByteVector got = v->content(id, &complete);
    EXPECT_EQ(got.size(), e.bytes.size());
    EXPECT_TRUE(got == e.bytes);
    EXPECT_EQ(complete, e.complete);
  }
}

TEST(ExFatContent, AFormattedDriveTrustsNoChain) {
  // Folders are their first cluster, files one run from their first cluster.
  ExFatVolume volume(2400);
  const std::size_t cs = volume.clusterSize();
  volume.setRootChain({volume.rootCluster(), 40});
  const ByteVector data = pattern(3 * cs, 1);
  volume.chain({120, 110, 130});
  volume.spread({120, 121, 122}, data);
  volume.spread({110}, pattern(cs, 2));
  volume.spread({130}, pattern(cs, 3));
  volume.chain({60, 50});
  volume.writeFolder({60, 50},
                     ExFatDirectory().set(exFile(u"in-first.txt", 0, 0)).padTo(16).set(exFile(u"in-second.txt", 0, 0)));
  ExFatDirectory root;
  root.set(exFile(u"file.bin", 120, data.size()))
      .set(exFolder(u"dir", 60, 2 * cs))
      .padTo(14)
      .set(exFile(u"late.txt", 0, 0));
  volume.writeRoot(root);

  const ByteVector chained = [&] {
    ByteVector b = clustersOf(data, cs, {0});
    const ByteVector second = pattern(cs, 2), third = pattern(cs, 3);
    b.insert(b.end(), second.begin(), second.end());
    b.insert(b.end(), third.begin(), third.end());
    return b;
  }();
  const struct {
    bool formatted;
    Names top, dir;
    ByteVector file;
  } cases[] = {
      {false, {"file.bin", "dir", "late.txt"}, {"in-first.txt", "in-second.txt"}, chained},
      {true, {"file.bin", "dir"}, {"in-first.txt"}, data},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.formatted);
    AdvancedChoices choices;
    choices.formatted = c.formatted;
    const auto v = scanExFat(volume, choices);
    ASSERT_TRUE(v->scanned);
    EXPECT_EQ(v->topNames(), c.top);
    EXPECT_EQ(v->childNames(v->find("dir")), c.dir);
    bool complete = false;
    EXPECT_TRUE(v->content(v->find("file.bin"), &complete) == c.file);
    EXPECT_TRUE(complete);
  }
}


TEST(ExFatContent, AFileBeyondTheImageIsNotReadOnAndOn) {
  // 32 MiB clusters; the boot sector counts 2400 of them, the image holds
  // the first three. A file of 75 GiB past the image's end, as one run and
  // along a FAT chain, must give up where the source ends rather than
  // deliver zeros for the whole length.
  ExFatVolume volume(2400, 16);
  const std::uint64_t cs = volume.clusterSize();
  std::vector<std::uint32_t> chain;
  for (std::uint32_t c = 10; c < 2400; ++c) chain.push_back(c);
  volume.chain(chain);
  const std::uint64_t huge = 2390 * cs;
  volume.writeRoot(ExFatDirectory().set(exFile(u"run.bin", 10, huge, true)).set(exFile(u"chain.bin", 10, huge)));
  auto image = volume.materialize();
  image->resize(volume.clusterOffset(volume.rootCluster() + 1));
  const auto v = scanExFat(std::move(image));
  ASSERT_TRUE(v->scanned);
  for (const char* name : {"run.bin", "chain.bin"}) {
    SCOPED_TRACE(name);
    const EntryId id = v->find(name);
    ASSERT_NE(id, kNoEntry);
    EXPECT_EQ(v->parser->size(id), huge);
    CountingSink sink(16 * cs);
    EXPECT_FALSE(v->parser->readContent(id, sink));
    EXPECT_LE(sink.bytes, cs);
  }
}

}  // namespace
}  // namespace quorvel::test
