// The folder walk: what is listed where, and damaged or reused folders that
// must neither loop nor steal entries from live ones.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "fs/fat/FatBuilders.h"
#include "support/ParserWalks.h"

namespace quorvel::test {
namespace {

using fatfmt::FatWidth;
using Names = std::vector<std::string>;

ShortSlot entry(const std::string& name11, std::uint8_t attributes, std::uint32_t cluster = 0, std::uint32_t size = 0) {
  ShortSlot e;
  e.name = name11;
  e.attributes = attributes;
  e.firstCluster = cluster;
  e.size = size;
  return e;
}

std::string numbered(const char* stem, int n) {
  char name[12];
  std::snprintf(name, sizeof name, "%s%02d  TXT", stem, n);
  return name;
}

// Every entry reachable from the top, each met once.

TEST(FatFolders, EveryEntryIsListedUnderItsFolderInDirectoryOrder) {
  FatVolume volume(FatWidth::Fat16, 4200);  // 16 slots a cluster
  volume.writeRoot(Directory()
                       .entry(entry("MY DISK    ", 0x08))
                       .file("PLAIN   TXT", 0, 0, 0x00)
                       .file("READONLYTXT", 0, 0, 0x01)
                       .file("ROARCH  TXT", 0, 0, 0x21)
                       .file("HIDDEN  TXT", 0, 0, 0x22)
                       .file("SYSTEM  SYS", 0, 0, 0x27)
                       .folder("DOCS       ", 3)
                       .entry(entry("SECRET     ", 0x12, 8))
                       .entry(entry("\xE5" "ONE    TXT", 0x20)));
  // DOCS spans two clusters; its second holds the rest of its entries.
  Directory docs;
  docs.dots(3, 0);
  for (int i = 1; i <= 14; ++i) docs.file(numbered("FILE", i), 0, 0);
  volume.writeFolder(3, docs);
  volume.writeFolder(7, Directory().file(numbered("FILE", 15), 0, 0).folder("SUB        ", 4));
  volume.chain({3, 7});
  volume.writeFolder(4, Directory().dots(4, 3).file("DEEP    TXT", 0, 0));
  volume.chain({4});
  volume.writeFolder(8, Directory().dots(8, 0));
  volume.chain({8});
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);

  EXPECT_EQ(v->topNames(), (Names{"PLAIN.TXT", "READONLY.TXT", "ROARCH.TXT", "HIDDEN.TXT", "SYSTEM.SYS", "DOCS", "SECRET",
                                  "\xEF\xBF\xA5ONE.TXT"}));
  Names docsNames;
  for (int i = 1; i <= 15; ++i) docsNames.push_back(numbered("FILE", i).substr(0, 6) + ".TXT");
  docsNames.push_back("SUB");
  EXPECT_EQ(v->childNames(v->find("DOCS")), docsNames);
  EXPECT_EQ(v->childNames(v->find("DOCS/SUB")), (Names{"DEEP.TXT"}));
  EXPECT_TRUE(v->childNames(v->find("SECRET")).empty());

  EXPECT_TRUE(v->parser->isFolder(v->find("DOCS")));
  EXPECT_TRUE(v->parser->isFolder(v->find("SECRET")));
  EXPECT_FALSE(v->parser->isFolder(v->find("PLAIN.TXT")));
  EXPECT_TRUE(v->parser->isDeleted(v->find("\xEF\xBF\xA5ONE.TXT")));
  EXPECT_FALSE(v->parser->isDeleted(v->find("DOCS/SUB/DEEP.TXT")));
  EXPECT_TRUE(v->parser->children(v->find("PLAIN.TXT")).empty());
  EXPECT_TRUE(v->parser->children(kNoEntry).empty());
  EXPECT_EQ(v->parser->name(kNoEntry), "");
  EXPECT_EQ(countReachable(*v->parser), 8u + 16u + 1u);
}

TEST(FatFolders, Fat32FollowsTheRootChainFromTheBootSector) {
  FatVolume volume(FatWidth::Fat32, 300);
  Directory first;
  for (int i = 1; i <= 16; ++i) first.file(numbered("ROOT", i), 0, 0);
  volume.writeFolder(5, first);
  volume.writeFolder(9, Directory().file(numbered("ROOT", 17), 0, 0).folder("DIR        ", 11));
  volume.chain({5, 9});
  volume.writeFolder(11, Directory().dots(11, 0).file("INNER   TXT", 0, 0));
  volume.chain({11});
  putLe32(volume.bootSector(), 0x2C, 5);
  volume.writeFolder(2, Directory().file("DECOY   TXT", 0, 0));  // cluster 2 is not the root here
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  Names expected;
  for (int i = 1; i <= 17; ++i) expected.push_back(numbered("ROOT", i).substr(0, 6) + ".TXT");
  expected.push_back("DIR");
  EXPECT_EQ(v->topNames(), expected);
  EXPECT_EQ(v->childNames(v->find("DIR")), (Names{"INNER.TXT"}));
}

TEST(FatFolders, ARootClusterThatIsNoClusterGivesAnEmptyListing) {
  for (const std::uint32_t rootCluster : {0u, 1u, 302u, 0x0FFFFFFFu}) {
    SCOPED_TRACE(rootCluster);
    FatVolume volume(FatWidth::Fat32, 300);
    volume.writeRoot(Directory().file("A       TXT", 0, 0));
    putLe32(volume.bootSector(), 0x2C, rootCluster);
    const auto v = scanFat(volume);
    EXPECT_TRUE(v->scanned);
    EXPECT_TRUE(v->parser->topEntries().empty());
  }
}

TEST(FatFolders, FolderChainsThatLoopAreReadOnce) {
  FatVolume volume(FatWidth::Fat32, 300);
  volume.writeRoot(Directory().folder("SELF       ", 10).folder("RING       ", 12).folder("TOP        ", 20));
  // SELF's chain comes back to its first cluster.
  volume.writeFolder(10, Directory().dots(10, 0).file("S       TXT", 0, 0));
  volume.setFat(10, 10);
  // RING's chain: 12 -> 13 -> 12.
  volume.writeFolder(12, Directory().dots(12, 0).file("R1      TXT", 0, 0));
  volume.writeFolder(13, Directory().file("R2      TXT", 0, 0));
  volume.setFat(12, 13);
  volume.setFat(13, 12);
  // TOP/CHILD's chain runs on into TOP's cluster; CHILD/UP names TOP
  // and the root as folders.
  volume.writeFolder(20, Directory().dots(20, 0).folder("CHILD      ", 21).file("T       TXT", 0, 0));
  volume.chain({20});
  volume.writeFolder(21, Directory().dots(21, 20).file("C       TXT", 0, 0).folder("UP         ", 20).folder("ROOT       ", 2));
  volume.chain({21, 20});
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->childNames(v->find("SELF")), (Names{"S.TXT"}));
  EXPECT_EQ(v->childNames(v->find("RING")), (Names{"R1.TXT", "R2.TXT"}));
  EXPECT_EQ(v->childNames(v->find("TOP")), (Names{"CHILD", "T.TXT"}));
  EXPECT_EQ(v->childNames(v->find("TOP/CHILD")), (Names{"C.TXT", "UP", "ROOT"}));
  // UP and ROOT start at clusters read before: they show those entries
  // once more, and the loops end one turn later.
  EXPECT_EQ(v->childNames(v->find("TOP/CHILD/UP")), (Names{"CHILD", "T.TXT"}));
  EXPECT_EQ(v->childNames(v->find("TOP/CHILD/UP/CHILD")), (Names{"C.TXT", "UP", "ROOT"}));
  EXPECT_TRUE(v->childNames(v->find("TOP/CHILD/UP/CHILD/UP")).empty());
  EXPECT_TRUE(v->childNames(v->find("TOP/CHILD/UP/CHILD/ROOT")).empty());
  EXPECT_EQ(v->childNames(v->find("TOP/CHILD/ROOT")), (Names{"SELF", "RING", "TOP"}));
  EXPECT_EQ(v->childNames(v->find("TOP/CHILD/ROOT/SELF")), (Names{"S.TXT"}));
  EXPECT_EQ(v->childNames(v->find("TOP/CHILD/ROOT/RING")), (Names{"R1.TXT", "R2.TXT"}));
  EXPECT_TRUE(v->childNames(v->find("TOP/CHILD/ROOT/TOP")).empty());
  EXPECT_EQ(countReachable(*v->parser), 2 * (3u + 1u + 2u + 2u + 3u));
  for (const auto& [name, times] : listingsByName(*v->parser)) EXPECT_EQ(times, 2) << name;
}

TEST(FatFolders, FoldersOutsideTheVolumeAreListedEmpty) {
  FatVolume volume(FatWidth::Fat16, 4200);
  volume.writeRoot(Directory()
                       .folder("FAR        ", 0xFFF0)
                       .folder("ZERO       ", 0)
                       .folder("ONE        ", 1)
                       .folder("LAST       ", 4201)
                       .file("FARFILE BIN", 0xFFF0, 100));
  volume.writeFolder(4201, Directory().dots(4201, 0).file("EDGE    TXT", 0, 0));
  volume.chain({4201});
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"FAR", "ZERO", "ONE", "LAST", "FARFILE.BIN"}));
  for (const char* empty : {"FAR", "ZERO", "ONE"}) EXPECT_TRUE(v->childNames(v->find(empty)).empty()) << empty;
  EXPECT_EQ(v->childNames(v->find("LAST")), (Names{"EDGE.TXT"}));
}

// Live folders that start at a cluster another folder has read already: a
// damaged volume's loop, or two entries given one cluster. They stay live,
// show the entries there, and the walk lists each entry at most twice.

TEST(FatFolders, AFolderThatPointsBackAtItsAncestorIsLiveAndShowsOneMoreTurn) {
  for (const FatWidth width : {FatWidth::Fat12, FatWidth::Fat16, FatWidth::Fat32}) {
    SCOPED_TRACE(static_cast<int>(width));
    FatVolume volume(width, width == FatWidth::Fat16 ? 4200 : 300);
    volume.writeRoot(Directory().folder("TOP        ", 20).file("ROOT    TXT", 0, 0));
    volume.writeFolder(20, Directory().dots(20, 0).folder("CHILD      ", 21).file("T       TXT", 0, 0));
    volume.chain({20});
    volume.writeFolder(21, Directory().dots(21, 20).file("C       TXT", 0, 0).folder("UP         ", 20));
    volume.chain({21});
    const auto v = scanFat(volume);
    ASSERT_TRUE(v->scanned);
    EXPECT_EQ(v->childNames(v->find("TOP/CHILD/UP")), (Names{"CHILD", "T.TXT"}));
    EXPECT_EQ(v->childNames(v->find("TOP/CHILD/UP/CHILD")), (Names{"C.TXT", "UP"}));
    EXPECT_TRUE(v->childNames(v->find("TOP/CHILD/UP/CHILD/UP")).empty());
    for (const char* path : {"TOP", "TOP/CHILD", "TOP/CHILD/UP", "TOP/CHILD/UP/CHILD", "TOP/CHILD/UP/T.TXT",
                             "TOP/CHILD/UP/CHILD/C.TXT", "TOP/CHILD/UP/CHILD/UP"}) {
      ASSERT_NE(v->find(path), kNoEntry) << path;
      EXPECT_FALSE(v->parser->isDeleted(v->find(path))) << path;
    }
    EXPECT_EQ(countReachable(*v->parser), 10u);
    EXPECT_EQ(listingsByName(*v->parser),
              (std::map<std::string, int>{{"TOP", 1}, {"ROOT.TXT", 1}, {"CHILD", 2}, {"T.TXT", 2}, {"C.TXT", 2}, {"UP", 2}}));
  }
}

TEST(FatFolders, FoldersOnOneClusterAreLiveAndShowItsEntriesTwiceAtMost) {
  FatVolume volume(FatWidth::Fat16, 4200);
  volume.writeRoot(Directory()
                       .folder("FIRST      ", 30)
                       .folder("SECOND     ", 30)
                       .entry(entry("\xE5" "ONE       ", 0x10, 30))
                       .folder("THIRD      ", 30));
  volume.writeFolder(30, Directory().dots(30, 0).file("SHARED  TXT", 0, 0).folder("SUB        ", 31));
  volume.chain({30});
  volume.writeFolder(31, Directory().dots(31, 30).file("INNER   TXT", 0, 0));
  volume.chain({31});
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  const std::string gone = "\xEF\xBF\xA5ONE";
  EXPECT_EQ(v->topNames(), (Names{"FIRST", "SECOND", gone, "THIRD"}));
  // The first two list the cluster, sub-folders and all.
  for (const std::string folder : {"FIRST", "SECOND"}) {
    SCOPED_TRACE(folder);
    EXPECT_FALSE(v->parser->isDeleted(v->find(folder)));
    EXPECT_EQ(v->childNames(v->find(folder)), (Names{"SHARED.TXT", "SUB"}));
    EXPECT_EQ(v->childNames(v->find(folder + "/SUB")), (Names{"INNER.TXT"}));
    EXPECT_FALSE(v->parser->isDeleted(v->find(folder + "/SUB/INNER.TXT")));
  }
  // The cluster has been read twice: a third live folder on it lists
  // nothing, and the deleted one never took it over.
  EXPECT_FALSE(v->parser->isDeleted(v->find("THIRD")));
  EXPECT_TRUE(v->childNames(v->find("THIRD")).empty());
  EXPECT_TRUE(v->parser->isDeleted(v->find(gone)));
  EXPECT_TRUE(v->childNames(v->find(gone)).empty());
  for (const auto& [name, times] : listingsByName(*v->parser)) EXPECT_LE(times, 2) << name;
}

TEST(FatFolders, ManyFoldersOnOneClusterKeepTheListingBounded) {
  FatVolume volume(FatWidth::Fat32, 300);
  // Every folder of the root, and every one of its own entries, names the
  // root's cluster.
  Directory root;
  for (int i = 1; i <= 12; ++i) root.folder(numbered("LOOP", i).substr(0, 8) + "   ", 2);
  volume.writeRoot(root);
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->childNames(v->find("LOOP01")).size(), 12u);
  for (int i = 2; i <= 12; ++i) EXPECT_TRUE(v->childNames(v->find(numbered("LOOP", i).substr(0, 6))).empty()) << i;
  EXPECT_EQ(countReachable(*v->parser), 24u);
}

TEST(FatFolders, DeletedFoldersAreReadOnlyWhileTheirClusterIsStillTheirs) {
  FatVolume volume(FatWidth::Fat16, 4200);
  const std::string gone = "\xEF\xBF\xA5";
  volume.writeRoot(Directory()
                       // Its cluster now holds a file's bytes.
                       .entry(entry("\xE5" "EUSED     ", 0x10, 40))
                       // Still intact: its entries are listed, deleted or not.
                       .entry(entry("\xE5" "NTACT     ", 0x10, 41))
                       // Its cluster is a folder again, of another cluster.
                       .entry(entry("\xE5" "THER      ", 0x10, 42))
                       // Its cluster belongs to a live folder listed after it.
                       .entry(entry("\xE5" "AKEN      ", 0x10, 43))
                       .folder("LIVE       ", 43)
                       .file("DATA    BIN", 40, 512));
  volume.writeCluster(40, pattern(512, 3));
  volume.chain({40});
  volume.writeFolder(41, Directory()
                             .dots(41, 0)
                             .entry(entry("\xE5" "ILE    TXT", 0x20, 50, 10))
                             .file("KEPT    TXT", 51, 10)
                             .entry(entry("\xE5" "UB        ", 0x10, 44)));
  volume.writeFolder(44, Directory().dots(44, 41).entry(entry("\xE5" "EEP    TXT", 0x20, 0, 0)));
  volume.writeFolder(42, Directory().dots(60, 0).file("STRAY   TXT", 0, 0));
  volume.writeFolder(43, Directory().dots(43, 0).file("MINE    TXT", 0, 0));
  volume.chain({43});
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{gone + "EUSED", gone + "NTACT", gone + "THER", gone + "AKEN", "LIVE", "DATA.BIN"}));
  EXPECT_TRUE(v->childNames(v->find(gone + "EUSED")).empty());
  EXPECT_EQ(v->childNames(v->find(gone + "NTACT")), (Names{gone + "ILE.TXT", "KEPT.TXT", gone + "UB"}));
  EXPECT_EQ(v->childNames(v->find(gone + "NTACT/" + gone + "UB")), (Names{gone + "EEP.TXT"}));
  EXPECT_TRUE(v->childNames(v->find(gone + "THER")).empty());
  EXPECT_TRUE(v->childNames(v->find(gone + "AKEN")).empty());
  EXPECT_EQ(v->childNames(v->find("LIVE")), (Names{"MINE.TXT"}));
  for (const std::string& path : {gone + "EUSED", gone + "NTACT", gone + "NTACT/" + gone + "ILE.TXT"})
    EXPECT_TRUE(v->parser->isDeleted(v->find(path))) << path;
  EXPECT_FALSE(v->parser->isDeleted(v->find("LIVE")));
}

TEST(FatFolders, EntriesAfterTheFirstNeverUsedSlotAreLeftovers) {
  // The first never-used slot ends a directory; what follows it was written
  // by an earlier use of the cluster.
  FatVolume volume(FatWidth::Fat16, 4200);
  volume.writeRoot(Directory().file("BEFORE  TXT", 0, 0).slot(ByteVector(32, 0)).file("AFTER   TXT", 0, 0).folder(
      "OLDDIR     ", 70));
  volume.writeFolder(70, Directory().dots(70, 0).file("INSIDE  TXT", 0, 0));
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"BEFORE.TXT", "AFTER.TXT", "OLDDIR"}));
  EXPECT_FALSE(v->parser->isDeleted(v->find("BEFORE.TXT")));
  EXPECT_TRUE(v->parser->isDeleted(v->find("AFTER.TXT")));
  EXPECT_TRUE(v->parser->isDeleted(v->find("OLDDIR")));
  EXPECT_EQ(v->childNames(v->find("OLDDIR")), (Names{"INSIDE.TXT"}));
}

TEST(FatFolders, AFormattedDriveReadsEachFolderAsItsFirstCluster) {
  FatVolume volume(FatWidth::Fat32, 300);
  volume.writeRoot(Directory().folder("DIR        ", 10));
  Directory first;
  first.dots(10, 0);
  for (int i = 1; i <= 14; ++i) first.file(numbered("PART", i), 0, 0);
  volume.writeFolder(10, first);
  volume.writeFolder(11, Directory().file(numbered("PART", 15), 0, 0));
  volume.chain({10, 11});
  AdvancedChoices formatted;
  formatted.formatted = true;
  const auto trusted = scanFat(volume);
  const auto v = scanFat(volume, formatted);
  ASSERT_TRUE(trusted->scanned);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(trusted->childNames(trusted->find("DIR")).size(), 15u);
  EXPECT_EQ(v->childNames(v->find("DIR")).size(), 14u);
}

TEST(FatFolders, ScanReportsItsStepsAndEndsFull) {
  FatVolume volume(FatWidth::Fat16, 4200);
  volume.writeRoot(Directory().folder("A          ", 3));
  volume.writeFolder(3, Directory().dots(3, 0));
  volume.chain({3});
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->observer.statuses,
            (Names{"Finding Fat16 File And Directory entries recursively....", "maintaining tree Structure in vector...",
                   "Creating Tree Structure....", "Tree Structure Created."}));
  ASSERT_FALSE(v->observer.positions.empty());
  EXPECT_EQ(v->observer.positions.back(), 100);
  EXPECT_TRUE(v->observer.messages.empty());
}

}  // namespace
}  // namespace quorvel::test
