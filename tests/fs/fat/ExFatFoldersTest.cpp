// The folder walk on exFAT: the root along its chain, folders along the FAT
// or as one run, deleted folders, and damaged chains that must neither loop
// nor list an entry twice.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "fs/fat/ExFatBuilders.h"
#include "support/ParserWalks.h"

namespace quorvel::test {
namespace {

using Names = std::vector<std::string>;

ExFatEntrySet named(const std::u16string& name) { return exFile(name, 0, 0); }

// Every entry reachable from the top, each met once.

TEST(ExFatFolders, TheRootFollowsItsFragmentedChain) {
  ExFatVolume volume(2400);
  // Three clusters of sixteen slots, out of order; the bitmap and up-case
  // entries take the first two slots, and one set crosses into the third cluster.
  volume.setRootChain({volume.rootCluster(), 40, 12});
  ExFatDirectory root;
  root.set(named(u"one.txt")).padTo(14).set(named(u"two.txt")).padTo(28).set(named(u"across-into-three.txt"));
  root.set(named(u"four.txt"));
  volume.writeRoot(root);
  const auto v = scanExFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"one.txt", "two.txt", "across-into-three.txt", "four.txt"}));
}

TEST(ExFatFolders, FoldersAreReadAlongTheFatOrAsOneRun) {
  ExFatVolume volume(2400);
  const std::uint32_t cs = volume.clusterSize();
  const auto perCluster = [](const char* stem) {
    ExFatDirectory d;
    for (int k = 0; k < 3; ++k)
      d.padTo(16 * k).set(named(std::u16string(stem, stem + std::strlen(stem)) + char16_t(u'0' + k)));
    return d;
  };
  // Along the FAT, fragmented.
  volume.chain({60, 52, 70});
  volume.writeFolder({60, 52, 70}, perCluster("chained"));
  // One run; the FAT entries of its clusters lead elsewhere and must not be used.
  volume.markUsed(100, 3);
  volume.writeFolder({100, 101, 102}, perCluster("run"));
  volume.setFat(100, 200);
  volume.setFat(200, 0xFFFFFFFF);
  volume.writeFolder({200}, ExFatDirectory().set(named(u"decoy")));
  // One run whose length covers two of the three clusters written.
  volume.markUsed(110, 2);
  volume.writeFolder({110, 111, 112}, perCluster("short"));

  volume.writeRoot(ExFatDirectory()
                       .set(exFolder(u"chained", 60, 3 * cs))
                       .set(exFolder(u"run", 100, 3 * cs, true))
                       .set(exFolder(u"short", 110, 2 * cs, true)));
  const auto v = scanExFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->childNames(v->find("chained")), (Names{"chained0", "chained1", "chained2"}));
  EXPECT_EQ(v->childNames(v->find("run")), (Names{"run0", "run1", "run2"}));
  EXPECT_EQ(v->childNames(v->find("short")), (Names{"short0", "short1"}));
}

TEST(ExFatFolders, AFolderInOneRunIsNoLongerThanItsDataLength) {
  // "empty" claims a run of no bytes. The clusters after its first one hold
  // "docs" and stale entries; none of them belongs to "empty", and "docs",
  // read after it, must keep its own.
  ExFatVolume volume(2400);
  const std::uint32_t cs = volume.clusterSize();
  volume.writeFolder({300}, ExFatDirectory().set(named(u"stale.txt")));
  volume.chain({301});
  volume.writeFolder({301}, ExFatDirectory().set(named(u"report.txt")));
  volume.writeRoot(ExFatDirectory().set(exFolder(u"empty", 300, 0, true)).set(exFolder(u"docs", 301, cs)));
  const auto v = scanExFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_TRUE(v->childNames(v->find("empty")).empty());
  EXPECT_EQ(v->childNames(v->find("docs")), (Names{"report.txt"}));
}

TEST(ExFatFolders, ChainsThatLoopAreReadOnce) {
  ExFatVolume volume(2400);
  const std::uint32_t cs = volume.clusterSize();
  // "self" runs 60 -> 61 -> 60.
  volume.chain({60, 61});
  volume.setFat(61, 60);
  volume.writeFolder({60, 61}, ExFatDirectory().set(named(u"s1")).padTo(16).set(named(u"s2")));
  // "parent/child" runs 70 -> 65, the parent's own cluster.
  volume.chain({65});
  volume.chain({70, 65});
  volume.writeFolder({65}, ExFatDirectory().set(named(u"p1")).set(exFolder(u"child", 70, 2 * cs)));
  volume.writeFolder({70}, ExFatDirectory().set(named(u"c1")));
  // "back" starts at the root's own cluster.
  volume.writeRoot(ExFatDirectory()
                       .set(exFolder(u"self", 60, 2 * cs))
                       .set(exFolder(u"parent", 65, cs))
                       .set(exFolder(u"back", volume.rootCluster(), cs))
                       .set(named(u"top.txt")));
  const auto v = scanExFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"self", "parent", "back", "top.txt"}));
  EXPECT_EQ(v->childNames(v->find("self")), (Names{"s1", "s2"}));
  EXPECT_EQ(v->childNames(v->find("parent")), (Names{"p1", "child"}));
  EXPECT_EQ(v->childNames(v->find("parent/child")), (Names{"c1"}));
  // "back" starts where the root was read: it shows the root once more,
  // and the loop ends one turn later.
  EXPECT_FALSE(v->parser->isDeleted(v->find("back")));
  EXPECT_EQ(v->childNames(v->find("back")), (Names{"self", "parent", "back", "top.txt"}));
  EXPECT_EQ(v->childNames(v->find("back/self")), (Names{"s1", "s2"}));
  EXPECT_EQ(v->childNames(v->find("back/parent/child")), (Names{"c1"}));
  EXPECT_TRUE(v->childNames(v->find("back/back")).empty());
  EXPECT_EQ(countReachable(*v->parser), 2 * 9u);
  for (const auto& [name, times] : listingsByName(*v->parser)) EXPECT_EQ(times, 2) << name;
}

// Live folders that start at a cluster another folder has read already stay
// live and show the entries there; the walk lists each entry twice at most.

TEST(ExFatFolders, AFolderThatPointsBackAtItsAncestorIsLiveAndShowsOneMoreTurn) {
  for (const bool noFatChain : {false, true}) {
    SCOPED_TRACE(noFatChain);
    ExFatVolume volume(2400);
    const std::uint32_t cs = volume.clusterSize();
    if (noFatChain) {
      volume.markUsed(80, 2);
    } else {
      volume.chain({80});
      volume.chain({81});
    }
    volume.writeFolder({80}, ExFatDirectory().set(exFolder(u"child", 81, cs, noFatChain)).set(named(u"t.txt")));
    volume.writeFolder({81}, ExFatDirectory().set(named(u"c.txt")).set(exFolder(u"up", 80, cs, noFatChain)));
    volume.writeRoot(ExFatDirectory().set(exFolder(u"top", 80, cs, noFatChain)).set(named(u"root.txt")));
    const auto v = scanExFat(volume);
    ASSERT_TRUE(v->scanned);
    EXPECT_EQ(v->childNames(v->find("top/child/up")), (Names{"child", "t.txt"}));
    EXPECT_EQ(v->childNames(v->find("top/child/up/child")), (Names{"c.txt", "up"}));
    EXPECT_TRUE(v->childNames(v->find("top/child/up/child/up")).empty());
    for (const char* path : {"top/child/up", "top/child/up/child", "top/child/up/t.txt", "top/child/up/child/up"}) {
      ASSERT_NE(v->find(path), kNoEntry) << path;
      EXPECT_FALSE(v->parser->isDeleted(v->find(path))) << path;
    }
    EXPECT_EQ(listingsByName(*v->parser),
              (std::map<std::string, int>{{"top", 1}, {"root.txt", 1}, {"child", 2}, {"t.txt", 2}, {"c.txt", 2}, {"up", 2}}));
  }
}

TEST(ExFatFolders, FoldersOnOneClusterAreLiveAndShowItsEntriesTwiceAtMost) {
  ExFatVolume volume(2400);
  const std::uint32_t cs = volume.clusterSize();
  volume.chain({90});
  volume.chain({91});
  volume.writeFolder({90}, ExFatDirectory().set(named(u"shared.txt")).set(exFolder(u"sub", 91, cs)));
  volume.writeFolder({91}, ExFatDirectory().set(named(u"inner.txt")));
  // The same cluster along the FAT, as a run, and along the FAT again.
  volume.writeRoot(ExFatDirectory()
                       .set(exFolder(u"first", 90, cs))
                       .set(exFolder(u"second", 90, cs, true))
                       .set(exFolder(u"third", 90, cs)));
  const auto v = scanExFat(volume);
  ASSERT_TRUE(v->scanned);
  for (const std::string folder : {"first", "second"}) {
    SCOPED_TRACE(folder);
    EXPECT_FALSE(v->parser->isDeleted(v->find(folder)));
    EXPECT_EQ(v->childNames(v->find(folder)), (Names{"shared.txt", "sub"}));
    EXPECT_EQ(v->childNames(v->find(folder + "/sub")), (Names{"inner.txt"}));
  }
  // Read twice already: the third lists nothing.
  EXPECT_FALSE(v->parser->isDeleted(v->find("third")));
  EXPECT_TRUE(v->childNames(v->find("third")).empty());
  EXPECT_EQ(countReachable(*v->parser), 3u + 2u * 3u);
}

TEST(ExFatFolders, DeletedFoldersAreReadAsFarAsIsSure) {
  ExFatVolume volume(2400);
  const std::uint32_t cs = volume.clusterSize();
  const auto twoClusters = [](const char* stem) {
    const std::u16string s(stem, stem + std::strlen(stem));
    return ExFatDirectory().set(named(s + u"-a")).padTo(16).set(named(s + u"-b"));
  };
  // Along the FAT: its first cluster only, whether the chain was freed or not.
  volume.writeFolder({120, 121}, twoClusters("freed"));
  volume.chain({130, 131});
  volume.writeFolder({130, 131}, twoClusters("kept"));
  // One run: the whole of its length.
  volume.writeFolder({140, 141}, twoClusters("run"));
  // Inside a deleted folder: sets must check out; folders below are deleted too.
  ExFatEntrySet bad = named(u"bad-checksum");
  bad.wrongChecksum = true;
  volume.writeFolder({150}, ExFatDirectory().set(named(u"inner.txt")).set(bad).set(exFolder(u"below", 160, cs)));
  volume.writeFolder({160}, ExFatDirectory().set(named(u"deep.txt")));

  ExFatDirectory root;
  root.deleted(exFolder(u"freed", 120, 2 * cs))
      .deleted(exFolder(u"kept", 130, 2 * cs))
      .deleted(exFolder(u"run", 140, 2 * cs, true))
      .deleted(exFolder(u"outer", 150, cs));
  volume.writeRoot(root);
  const auto v = scanExFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->childNames(v->find("freed")), (Names{"freed-a"}));
  EXPECT_EQ(v->childNames(v->find("kept")), (Names{"kept-a"}));
  EXPECT_EQ(v->childNames(v->find("run")), (Names{"run-a", "run-b"}));
  EXPECT_EQ(v->childNames(v->find("outer")), (Names{"inner.txt", "below"}));
  EXPECT_EQ(v->childNames(v->find("outer/below")), (Names{"deep.txt"}));
  for (const char* path :
       {"freed", "freed/freed-a", "run/run-b", "outer/inner.txt", "outer/below", "outer/below/deep.txt"}) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(v->parser->isDeleted(v->find(path)));
  }
}

TEST(ExFatFolders, LiveFoldersKeepTheClustersADeletedOneOnceHad) {
  // The deleted folder comes first in the root, yet the live one that took
  // its cluster is read first and keeps the entries.
  ExFatVolume volume(2400);
  const std::uint32_t cs = volume.clusterSize();
  volume.chain({80});
  volume.writeFolder({80}, ExFatDirectory().set(named(u"now.txt")));
  ExFatDirectory root;
  root.deleted(exFolder(u"was", 80, cs)).set(exFolder(u"now", 80, cs));
  volume.writeRoot(root);
  const auto v = scanExFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"was", "now"}));
  EXPECT_EQ(v->childNames(v->find("now")), (Names{"now.txt"}));
  EXPECT_TRUE(v->childNames(v->find("was")).empty());
}

}  // namespace
}  // namespace quorvel::test
