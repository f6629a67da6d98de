// The parser over hand-made volumes: block sizes, catalog layouts, damaged
// links and the deep scan, one fault at a time.
#include <gtest/gtest.h>

#include <algorithm>

#include "fs/hfsplus/HfsBuilders.h"
#include "support/ParserWalks.h"

namespace quorvel::test {
namespace {

using Names = std::vector<std::string>;

ByteVector pattern(std::size_t size, std::uint8_t seed) {
  ByteVector b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  return b;
}

// "Docs" (16) holding "a.txt" (17), and "top.txt" (18) at the top.
HfsVolumeBuilder smallVolume(std::uint32_t blockSize, std::uint32_t totalBlocks, std::uint16_t nodeSize = 4096) {
  HfsVolumeBuilder b(blockSize, totalBlocks, nodeSize);
  const ByteVector a = pattern(3 * blockSize / 2 + 5, 1);
  const ByteVector top = pattern(100, 2);
  const hfsfmt::Extent ea = b.addData(a);
  const hfsfmt::Extent et = b.addData(top);
  // One record a leaf, so that 512-byte nodes hold them.
  b.leaves = {{folderRecord(1, u"Volume", 2)},
              {folderRecord(2, u"Docs", 16)},
              {fileRecord({.parent = 16, .name = u"a.txt", .id = 17, .size = a.size(), .extents = {ea}})},
              {fileRecord({.parent = 2, .name = u"top.txt", .id = 18, .size = top.size(), .extents = {et}})}};
  return b;
}

void expectSmallVolume(const ScannedHfs& v, std::uint32_t blockSize) {
  ASSERT_TRUE(v.scanned) << (v.observer.messages.empty() ? "" : v.observer.messages.front());
  EXPECT_EQ(v.topNames(), (Names{"Docs", "top.txt"}));
  const EntryId a = v.find("Docs/a.txt");
  ASSERT_NE(a, kNoEntry);
  bool whole = false;
  EXPECT_EQ(contentOf(*v.parser, a, &whole), pattern(3 * blockSize / 2 + 5, 1));
  EXPECT_TRUE(whole);
}

TEST(HfsBlockSizes, EveryPowerOfTwoFrom512To65536ReadsInBothModes) {
  struct Case {
    std::uint32_t blockSize;
    std::uint32_t blocks;
    std::uint16_t nodeSize;
  };
  for (const Case c : {Case{512, 700, 4096}, Case{1024, 400, 4096}, Case{4096, 100, 4096}, Case{4096, 100, 512},
                       Case{8192, 100, 8192}, Case{65536, 12, 4096}}) {
    for (const RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
      SCOPED_TRACE("block " + std::to_string(c.blockSize) + " node " + std::to_string(c.nodeSize) +
                   (mode == RecoveryMode::Deep ? " deep" : " standard"));
      expectSmallVolume(*scanHfs(smallVolume(c.blockSize, c.blocks, c.nodeSize).build(), mode), c.blockSize);
    }
  }
}

TEST(HfsRefusals, BadHeadersAreRefusedWithAMessage) {
  struct Case {
    const char* what;
    std::string signature;
    std::uint16_t version;
    std::uint32_t blockSize;  // written over the built header
    std::string status;
  };
  const Case cases[] = {
      {"block size 1000", "H+", 4, 1000, "BlockSize not valid .Aborting.."},
      {"block size 128 KiB", "H+", 4, 131072, "BlockSize not valid .Aborting.."},
      {"HFS signature", "BD", 4, 4096, "Work Aborted...."},
      {"version 9", "H+", 9, 4096, "Work Aborted...."},
  };
  for (const RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep})
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      HfsVolumeBuilder b = smallVolume(4096, 100);
      b.signature = c.signature;
      b.version = c.version;
      ByteVector image = b.build();
      putBe32(image, 1024 + 40, c.blockSize);
      const auto v = scanHfs(image, mode);
      EXPECT_FALSE(v->scanned);
      ASSERT_FALSE(v->observer.statuses.empty());
      EXPECT_EQ(v->observer.statuses.back(), c.status);
      EXPECT_EQ(v->observer.messages.size(), 1u);
      EXPECT_TRUE(v->parser->topEntries().empty());
    }
}

TEST(HfsVariants, HfsxReadsAsHfsPlus) {
  HfsVolumeBuilder b = smallVolume(4096, 100);
  b.signature = "HX";
  b.version = 5;
  expectSmallVolume(*scanHfs(b.build()), 4096);
}

// The catalog's second extent lies far behind its first: the nodes there
// are read from it, not from whatever follows the first extent.
TEST(HfsCatalogLayout, NodesAreReadThroughEveryExtentOfTheCatalog) {
  HfsVolumeBuilder b(4096, 300);
  std::vector<std::vector<ByteVector>> leaves;
  for (std::uint32_t n = 0; n < 3; ++n)
    leaves.push_back({folderRecord(2, u"Folder" + std::u16string(1, static_cast<char16_t>(u'A' + n)), 16 + n)});
  b.leaves = leaves;
  b.catalogExtents = {{b.catalogStart(), 2}, {250, 2}};
  // What the first extent is followed by: a stale leaf the parser must not take.
  b.writeAt(std::uint64_t{b.catalogStart() + 2} * 4096, leafNode(4096, {folderRecord(2, u"Stale", 40)}));
  const auto v = scanHfs(b.build());
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"FolderA", "FolderB", "FolderC"}));
}

TEST(HfsCatalogLayout, LeafChainsThatLoopEndAndEveryLeafIsRead) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> links;
  };
  const Case cases[] = {
      {"second leaf links back to the first", {2, 1, 0}},
      {"a leaf links to itself", {1, 0, 0}},
      {"a link past the tree", {2, 999, 0}},
      {"the chain ends before the last leaf", {0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HfsVolumeBuilder b(4096, 100);
    b.leaves = {{folderRecord(2, u"One", 16)}, {folderRecord(2, u"Two", 17)}, {folderRecord(2, u"Three", 18)}};
    b.forwardLinks = c.links;
    const auto v = scanHfs(b.build());
    ASSERT_TRUE(v->scanned);
    Names top = v->topNames();
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (Names{"One", "Three", "Two"}));
  }
}

// A catalog whose header and fork claim billions of nodes, with a broken
// leaf chain that sends the parser over every node: the volume bounds it.
TEST(HfsCatalogLayout, ClaimsBeyondTheVolumeAreCutToIt) {
  HfsVolumeBuilder b(4096, 100);
  b.leaves = {{folderRecord(2, u"One", 16)}, {folderRecord(2, u"Two", 17)}};
  b.forwardLinks = {1, 0};
  ByteVector image = b.build();
  putBe32(image, 1024 + 0x110 + 12, 0xFFFFFFFF);        // total blocks
  putBe32(image, 1024 + 0x110 + 16 + 12, 0xFFFFFFF0);   // a second extent...
  putBe32(image, 1024 + 0x110 + 16 + 8, 0x10000000);    // ...far past the volume
  putBe32(image, std::uint64_t{b.catalogStart()} * 4096 + 36, 0xFFFFFFFF);  // total nodes
  const auto v = scanHfs(image);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"One", "Two"}));
}

TEST(HfsLinks, LostParentsAndParentCyclesEndUnderTheOrphanFolder) {
  HfsVolumeBuilder b(4096, 100);
  b.leaves = {{folderRecord(2, u"Kept", 16), folderRecord(21, u"X", 20), folderRecord(20, u"Y", 21),
               folderRecord(99, u"Lost", 22), folderRecord(22, u"Inner", 23), folderRecord(24, u"Self", 24)}};
  const auto v = scanHfs(b.build());
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"Kept", "ORPHAN_ENTRY"}));
  EXPECT_NE(v->find("ORPHAN_ENTRY/Lost/Inner"), kNoEntry);
  EXPECT_NE(v->find("ORPHAN_ENTRY/Self"), kNoEntry);
  // One of the cycle heads the other.
  EXPECT_TRUE(v->find("ORPHAN_ENTRY/X/Y") != kNoEntry || v->find("ORPHAN_ENTRY/Y/X") != kNoEntry);
  EXPECT_EQ(countReachable(*v->parser), 7u);
}

TEST(HfsLinks, TheFirstRecordOfACnidWins) {
  HfsVolumeBuilder b(4096, 100);
  b.leaves = {{folderRecord(2, u"First", 16)}, {folderRecord(2, u"Second", 16)}};
  const auto v = scanHfs(b.build());
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"First"}));
}

// An older copy of a leaf lies before the catalog file (as in a journal):
// the deep scan meets it first, and the catalog file's record still wins.
TEST(HfsDeepScan, TheCatalogFilesRecordWinsOverAnEarlierCopy) {
  HfsVolumeBuilder b(4096, 100);
  b.leaves = {{folderRecord(2, u"Current", 16), folderRecord(2, u"Only in the catalog", 17)}};
  b.catalogExtents = {{40, 2}};
  b.writeAt(20 * 4096, leafNode(4096, {folderRecord(2, u"Old name", 16), folderRecord(2, u"Only in the copy", 18)}));
  const auto v = scanHfs(b.build(), RecoveryMode::Deep);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"Current", "Only in the catalog", "Only in the copy"}));
}

TEST(HfsContent, LogicalSizeBeyondTheBlocksIsCutToThem) {
  HfsVolumeBuilder b(4096, 100);
  const hfsfmt::Extent e = b.addData(pattern(4096, 3));
  b.leaves = {{fileRecord({.name = u"big.bin", .id = 16, .size = 10000, .extents = {e}})}};
  const auto v = scanHfs(b.build());
  ASSERT_TRUE(v->scanned);
  bool whole = true;
  EXPECT_EQ(contentOf(*v->parser, v->find("big.bin"), &whole), pattern(4096, 3));
  EXPECT_FALSE(whole);
}

TEST(HfsContent, ExtentsPastTheVolumeAreNeverRead) {
  HfsVolumeBuilder b(4096, 100);
  const hfsfmt::Extent e = b.addData(pattern(4096, 4));
  b.leaves = {{fileRecord({.name = u"out.bin", .id = 16, .size = 3 * 4096, .extents = {e, {99, 10}}})}};
  const auto v = scanHfs(b.build());
  ASSERT_TRUE(v->scanned);
  bool whole = true;
  const ByteVector got = contentOf(*v->parser, v->find("out.bin"), &whole);
  EXPECT_FALSE(whole);
  ASSERT_EQ(got.size(), 3u * 4096);
  EXPECT_EQ(ByteVector(got.begin(), got.begin() + 4096), pattern(4096, 4));
}

TEST(HfsContent, NinthAndLaterExtentsComeFromTheOverflowFile) {
  HfsVolumeBuilder b(4096, 200);
  std::vector<hfsfmt::Extent> extents;
  ByteVector want;
  for (std::uint8_t i = 0; i < 10; ++i) {
    const ByteVector piece = pattern(4096, i);
    extents.push_back(b.addData(piece));
    b.addData(pattern(4096, 0xEE));  // a gap between the pieces
    want.insert(want.end(), piece.begin(), piece.end());
  }
  HfsFileSpec f{.name = u"split.bin", .id = 40, .size = want.size(), .totalBlocks = 10};
  f.extents.assign(extents.begin(), extents.begin() + 8);
  b.leaves = {{fileRecord(f)}};
  b.overflow = {{.fileId = 40, .startBlock = 8, .extents = {extents[8], extents[9]}},
                {.forkType = 0xFF, .fileId = 40, .startBlock = 8, .extents = {{1, 2}}}};
  for (const RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
    const auto v = scanHfs(b.build(), mode);
    ASSERT_TRUE(v->scanned);
    bool whole = false;
    EXPECT_EQ(contentOf(*v->parser, v->find("split.bin"), &whole), want);
    EXPECT_TRUE(whole);
  }
  // With the extents file's header node lost, the deep scan finds its leaf;
  // the standard mode reads the file as far as its own eight extents go.
  ByteVector image = b.build();
  std::fill_n(image.begin() + std::uint64_t{b.extentsStart()} * 4096, 4096, 0);
  const auto deep = scanHfs(image, RecoveryMode::Deep);
  ASSERT_TRUE(deep->scanned);
  bool whole = false;
  EXPECT_EQ(contentOf(*deep->parser, deep->find("split.bin"), &whole), want);
  EXPECT_TRUE(whole);
  const auto standard = scanHfs(image);
  ASSERT_TRUE(standard->scanned);
  EXPECT_EQ(contentOf(*standard->parser, standard->find("split.bin"), &whole),
            ByteVector(want.begin(), want.begin() + 8 * 4096));
  EXPECT_FALSE(whole);
}

TEST(HfsDeepScan, FindsLeavesWithoutTheCatalogHeaderAndTakesNoOtherNode) {
  HfsVolumeBuilder b = smallVolume(4096, 100);
  // Nodes the deep scan must pass over, in free blocks: an index node, a
  // leaf whose offsets run backwards, and a leaf of height 2.
  const std::vector<ByteVector> decoy = {folderRecord(2, u"Decoy", 60)};
  b.writeAt(80 * 4096, leafNode(4096, decoy, 0, 0, 1));
  ByteVector backwards = leafNode(4096, {folderRecord(2, u"Back", 61), folderRecord(2, u"Wards", 62)});
  std::swap(backwards[4094], backwards[4092]);
  std::swap(backwards[4095], backwards[4093]);
  b.writeAt(82 * 4096, backwards);
  b.writeAt(84 * 4096, leafNode(4096, decoy, 0, -1, 2));
  ByteVector image = b.build();
  std::fill_n(image.begin() + std::uint64_t{b.catalogStart()} * 4096, 4096, 0);  // the header node
  const auto deep = scanHfs(image, RecoveryMode::Deep);
  expectSmallVolume(*deep, 4096);
  // Standard mode needs the header node and says so.
  const auto standard = scanHfs(image);
  EXPECT_FALSE(standard->scanned);
  ASSERT_EQ(standard->observer.messages.size(), 1u);
  EXPECT_NE(standard->observer.messages[0].find("deep mode"), std::string::npos);
}

TEST(HfsRows, ListShowsContentModificationAndPermissions) {
  setenv("TZ", "UTC", 1);
  tzset();
  HfsVolumeBuilder b(4096, 100);
  b.leaves = {{fileRecord({.name = u"t.txt", .id = 16, .createDate = 3763519628u, .contentModDate = 3763519628u + 3600,
                           .attributeModDate = 3763519628u + 7200, .accessDate = 3763519628u + 60, .fileMode = 0x1A4})}};
  const auto v = scanHfs(b.build());
  ASSERT_TRUE(v->scanned);
  const EntryId id = v->find("t.txt");
  const RowTexts row = v->parser->formatRow(id);
  EXPECT_EQ(row.created, "04/05/2023  06:07 AM");
  EXPECT_EQ(row.modified, "04/05/2023  07:07 AM");
  EXPECT_EQ(row.accessed, "04/05/2023  06:08 AM");
  EXPECT_EQ(row.attributes, "-Owner:W-Owner:R-OR-GR");
  EXPECT_EQ(v->parser->times(id).modified->seconds, 1680674828 + 3600);
}

}  // namespace
}  // namespace quorvel::test
