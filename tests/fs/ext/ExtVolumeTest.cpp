// The ext parser on hand-made volumes: both descriptor forms, the last
// partial group, extent trees and block maps with holes, types by the mode's
// type field, inline data, removed names and inodes, orphans, and damaged
// structures that must be cut, never followed.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "fs/CatalogueWalk.h"
#include "fs/ext/ExtBuilders.h"
#include "fs/ext/JournalBuilder.h"

namespace quorvel {
namespace {

using namespace test;

constexpr std::uint8_t kFile = 1;
constexpr std::uint8_t kDir = 2;

void put32(ByteVector& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

ByteVector text(const std::string& s) { return ByteVector(s.begin(), s.end()); }

std::size_t walkedEntries(const FileSystemParser& parser) {
  std::size_t count = 0;
  walkCatalogue(parser, std::nullopt, [&](const CatalogueItem&) { return ++count < 1000000; });
  return count;
}

// A root folder naming `entries`, the rest left to the test.
void root(ExtVolumeBuilder& v, std::vector<DirEntryPlan> entries) {
  entries.insert(entries.begin(), {DirEntryPlan{2, ".", kDir}, DirEntryPlan{2, "..", kDir}});
  v.setFolder(2, {directoryBlock(entries, v.geometry().blockSize, v.geometry().fileTypes)});
}

struct GeometryCase {
  const char* name;
  ExtGeometry geometry;
};

class ExtGeometries : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(ExtGeometries, FilesInEveryGroupTheLastPartialOneToo) {
  ExtVolumeBuilder v(GetParam().geometry);
  const std::uint32_t ipg = v.geometry().inodesPerGroup;
  const std::uint32_t lastGroupInode = static_cast<std::uint32_t>((v.groups() - 1) * ipg + 3);
  root(v, {{12, "first.txt"}, {13, "Folder", kDir}, {lastGroupInode, "last-group.bin"}});
  v.setFile(12, text("first\n"));
  v.setFolder(13, {directoryBlock({{13, ".", kDir}, {2, "..", kDir}, {ipg + 1, "second-group.txt"}}, v.geometry().blockSize,
                                  v.geometry().fileTypes)});
  v.setFile(ipg + 1, text("second group\n"));
  const ByteVector big = extPattern(20 * v.geometry().blockSize + 3, 4);  // single-indirect blocks
  v.setFile(lastGroupInode, big);
  const auto s = scanExt(v);
  ASSERT_TRUE(s->scanned);
  EXPECT_EQ(s->content(s->find("first.txt")), text("first\n"));
  EXPECT_EQ(s->content(s->find("Folder/second-group.txt")), text("second group\n"));
  ASSERT_NE(s->find("last-group.bin"), kNoEntry);
  EXPECT_EQ(s->content(s->find("last-group.bin")), big);
  EXPECT_TRUE(s->parser->isFolder(s->find("Folder")));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ExtGeometries,
    ::testing::Values(GeometryCase{"Narrow1k", {}},
                      GeometryCase{"Wide1k", {.wideDescriptors = true}},
                      GeometryCase{"Wide4kPartial", {.blockSize = 4096, .blocks = 2600, .blocksPerGroup = 1024, .wideDescriptors = true}},
                      GeometryCase{"NoFileTypes", {.fileTypes = false}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExtContent, ExtentTreeOfDepthOnePlacesEveryExtentAtItsLogicalBlock) {
  ExtVolumeBuilder v;
  const std::uint32_t bs = v.geometry().blockSize;
  const std::uint64_t a = v.allocate(2), b = v.allocate(1), c = v.allocate(3), leafBlock = v.allocate();
  v.writeBlock(a, extPattern(2 * bs, 1));
  v.writeBlock(b, extPattern(bs, 2));
  v.writeBlock(c, extPattern(3 * bs, 3));  // uninitialised: reads as zeros whatever it holds
  // Leaves out of order: [5,6) from b, [0,2) from a, a hole [2,5), [6,9) uninitialised.
  v.writeBlock(leafBlock, extentLeafNode({{5, 1, b}, {0, 2, a}, {6, 32768 + 3, c}}, bs));
  ExtInodeFields fields;
  fields.flags = 0x80000;
  fields.size = 10 * bs - 100;  // ends in a hole after the uninitialised extent
  fields.blockArea = areaFrom(extentIndexNode({{0, leafBlock}}, 1, 60));
  v.setInode(12, fields);
  root(v, {{12, "tree.bin"}});
  const auto s = scanExt(v);
  ByteVector want(fields.size, 0);
  const ByteVector pa = extPattern(2 * bs, 1), pb = extPattern(bs, 2);
  std::copy(pa.begin(), pa.end(), want.begin());
  std::copy(pb.begin(), pb.end(), want.begin() + 5 * bs);
  bool complete = false;
  EXPECT_EQ(s->content(s->find("tree.bin"), &complete), want);
  EXPECT_TRUE(complete);
}

TEST(ExtContent, BlockMapHolesAreZerosAndTheSizeIsKept) {
  ExtVolumeBuilder v;
  const std::uint32_t bs = v.geometry().blockSize;
  const std::uint64_t a = v.allocate(), b = v.allocate();
  v.writeBlock(a, extPattern(bs, 5));
  v.writeBlock(b, extPattern(bs, 6));
  ExtInodeFields fields;
  fields.size = 5 * bs + 10;
  fields.blockArea = blockMapArea({static_cast<std::uint32_t>(a), 0, 0, static_cast<std::uint32_t>(b)});
  v.setInode(12, fields);
  root(v, {{12, "sparse.bin"}});
  const auto s = scanExt(v);
  ByteVector want(fields.size, 0);
  const ByteVector pa = extPattern(bs, 5), pb = extPattern(bs, 6);
  std::copy(pa.begin(), pa.end(), want.begin());
  std::copy(pb.begin(), pb.end(), want.begin() + 3 * bs);
  EXPECT_EQ(s->content(s->find("sparse.bin")), want);
  EXPECT_EQ(s->parser->size(s->find("sparse.bin")), fields.size);
}

struct TypeCase {
  const char* name;
  std::uint16_t mode;
  bool folder;
  std::string content;
};

TEST(ExtTypes, TheTypeFieldDecidesFolderFileAndContent) {
  ExtVolumeBuilder v;
  const std::uint32_t bs = v.geometry().blockSize;
  const std::uint64_t junk = v.allocate();
  v.writeBlock(junk, extPattern(bs, 9));
  const std::string slowTarget = "../" + std::string(90, 'x') + "/target";
  const std::uint64_t slowBlock = v.allocate();
  v.writeBlock(slowBlock, text(slowTarget));
  const TypeCase cases[] = {
      {"socket", 0xC1ED, false, ""},      {"block-device", 0x61A4, false, ""}, {"char-device", 0x21A4, false, ""},
      {"fifo", 0x11A4, false, ""},        {"fast-link", 0xA1FF, false, "../fast/target"},
      {"slow-link", 0xA1FF, false, slowTarget},
  };
  std::vector<DirEntryPlan> names;
  std::uint32_t number = 12;
  for (const TypeCase& c : cases) {
    ExtInodeFields fields;
    fields.mode = c.mode;
    // Sockets and devices keep junk in their block area; it is never read.
    fields.blockArea = blockMapArea({static_cast<std::uint32_t>(junk)});
    if (std::string(c.name) == "fast-link") {
      fields.size = c.content.size();
      fields.blockArea = {};
      std::copy(c.content.begin(), c.content.end(), fields.blockArea.begin());
    }
    if (std::string(c.name) == "slow-link") {
      fields.size = slowTarget.size();
      fields.blockArea = blockMapArea({static_cast<std::uint32_t>(slowBlock)});
    }
    v.setInode(number, fields);
    names.push_back({number++, c.name, 0});
  }
  root(v, names);
  const auto s = scanExt(v);
  for (const TypeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const EntryId id = s->find(c.name);
    ASSERT_NE(id, kNoEntry);
    EXPECT_EQ(s->parser->isFolder(id), c.folder);
    EXPECT_TRUE(s->parser->children(id).empty());
    const ByteVector got = s->content(id);
    EXPECT_EQ(std::string(got.begin(), got.end()), c.content);
    EXPECT_EQ(s->parser->size(id), c.content.size());
  }
}

TEST(ExtContent, InlineDataIsReadFromTheInodeAndItsAttribute) {
  ExtVolumeBuilder v;
  const ByteVector head = extPattern(60, 1), tail = extPattern(21, 2);
  ExtInodeFields fields;
  fields.flags = 0x10000000;
  fields.size = 81;
  std::copy(head.begin(), head.end(), fields.blockArea.begin());
  fields.inlineTail = tail;
  v.setInode(12, fields);
  ExtInodeFields small;
  small.flags = 0x10000000;
  small.size = 5;
  std::copy_n("tiny!", 5, small.blockArea.begin());
  v.setInode(13, small);
  root(v, {{12, "inline.bin"}, {13, "tiny.txt"}});
  const auto s = scanExt(v);
  ByteVector want = head;
  want.insert(want.end(), tail.begin(), tail.end());
  EXPECT_EQ(s->content(s->find("inline.bin")), want);
  EXPECT_EQ(s->content(s->find("tiny.txt")), text("tiny!"));
}

TEST(ExtContent, InlineFolderContinuesInItsAttribute) {
  ExtVolumeBuilder v;
  ExtInodeFields folder;
  folder.mode = 0x41ED;
  folder.flags = 0x10000000;
  // Four bytes of parent, 56 of entries, and more in "system.data".
  const ByteVector head = directoryBlock({{12, "one.txt"}, {13, "two.txt"}, {14, "three.txt"}}, 56);
  folder.blockArea[0] = 2;
  std::copy(head.begin(), head.end(), folder.blockArea.begin() + 4);
  folder.inlineTail = directoryBlock({{15, "four.txt"}, {16, "five.txt"}}, 40);
  folder.size = 60 + 40;
  v.setInode(20, folder);
  for (std::uint32_t n = 12; n <= 16; ++n) v.setFile(n, text("file " + std::to_string(n)));
  root(v, {{20, "Inline", kDir}});
  const auto s = scanExt(v);
  EXPECT_EQ(s->childNames(s->find("Inline")), (std::vector<std::string>{"one.txt", "two.txt", "three.txt", "four.txt", "five.txt"}));
  EXPECT_EQ(s->content(s->find("Inline/five.txt")), text("file 16"));
}

TEST(ExtRemoved, NamesInSlackAndInodesWhoseBlocksAreStillFree) {
  ExtVolumeBuilder v;
  const std::uint32_t bs = v.geometry().blockSize;
  v.setFile(12, text("kept\n"));
  const ByteVector removed = extPattern(3 * bs + 7, 3);
  const std::uint64_t removedStart = v.allocate(0);
  v.setFile(13, removed, false);
  const ByteVector taken = extPattern(3 * bs, 4);
  const std::uint64_t takenStart = v.allocate(0);
  v.setFile(14, taken, false);
  // The removed files' blocks are free again, but the second of inode 14's
  // was taken by another file since: what remains is its first block.
  for (std::uint64_t b = 0; b < 4; ++b) v.setBlockInUse(removedStart + b, false);
  for (const std::uint64_t b : {0, 2}) v.setBlockInUse(takenStart + b, false);
  root(v, {{12, "kept.txt", kFile, {{13, "removed.bin"}, {14, "taken.bin"}}}});
  const auto s = scanExt(v);
  const EntryId r = s->find("removed.bin");
  ASSERT_NE(r, kNoEntry);
  EXPECT_TRUE(s->parser->isDeleted(r));
  EXPECT_FALSE(s->parser->isDeleted(s->find("kept.txt")));
  EXPECT_EQ(s->content(r), removed);
  EXPECT_EQ(s->content(s->find("taken.bin")), ByteVector(taken.begin(), taken.begin() + bs));
}

TEST(ExtRemoved, ABlockTakenByAnotherFileIsNeverSavedAsTheRemovedOnes) {
  ExtVolumeBuilder v;
  const std::uint32_t bs = v.geometry().blockSize;
  const ByteVector removed = extPattern(3 * bs, 3);
  v.setFile(13, removed, false);  // its blocks stay marked in use: taken by another file
  v.setFile(12, text("kept\n"));
  root(v, {{12, "kept.txt", kFile, {{13, "removed.bin"}}}});
  const auto s = scanExt(v);
  const EntryId r = s->find("removed.bin");
  ASSERT_NE(r, kNoEntry);
  EXPECT_TRUE(s->content(r).empty());
}

TEST(ExtRemoved, ANameWhoseInodeNumberWasClearedIsListedWithoutContent) {
  // An editor's swap file and a backup, removed by a writer that clears the
  // inode number: the names stay in kept.txt's slack, nothing says where
  // their bytes were, and no orphan folder is made for them.
  ExtVolumeBuilder v;
  v.setFile(12, text("kept\n"));
  root(v, {{12, "kept.txt", kFile, {{0, ".kept.txt.swp"}, {0, "kept.txt~"}}}});
  const auto s = scanExt(v);
  EXPECT_EQ(s->topNames(), (std::vector<std::string>{"kept.txt", ".kept.txt.swp", "kept.txt~"}));
  for (const char* name : {".kept.txt.swp", "kept.txt~"}) {
    SCOPED_TRACE(name);
    const EntryId r = s->find(name);
    ASSERT_NE(r, kNoEntry);
    EXPECT_TRUE(s->parser->isDeleted(r));
    EXPECT_TRUE(s->content(r).empty());
  }
}

TEST(ExtRemoved, ANameARemovedFolderHoldsInTwoBlocksIsListedOnce) {
  // A hash index's split copies entries to a new block and leaves the moved
  // ones in the old block's slack: after rm -r both blocks still name them.
  ExtVolumeBuilder v;
  const std::uint32_t bs = v.geometry().blockSize;
  v.setFolder(21, {directoryBlock({{21, ".", kDir}, {2, "..", kDir, {{22, "moved.txt"}}}}, bs),
                   directoryBlock({{22, "moved.txt"}, {23, "other.txt"}}, bs)},
              false);
  v.setFile(22, text("moved\n"), false);
  v.setFile(23, text("other\n"), false);
  v.setFile(12, text("kept\n"));
  root(v, {{12, "kept.txt", kFile, {{21, "gone", kDir}}}});
  const auto s = scanExt(v);
  const EntryId gone = s->find("gone");
  ASSERT_NE(gone, kNoEntry);
  EXPECT_EQ(s->childNames(gone), (std::vector<std::string>{"moved.txt", "other.txt"}));
}

// The volume keeps `j` as its journal, in inode 8 as mke2fs puts it.
void withJournal(ExtVolumeBuilder& v, test::JournalBuilder& j) {
  ByteVector journal;
  for (std::uint32_t b = 0; b < j.size(); ++b) {
    const ByteVector& block = j.block(b);
    journal.insert(journal.end(), block.begin(), block.end());
  }
  v.setFile(8, journal);
  v.superblock()[0x5C] |= 0x4;  // has_journal
  v.superblock()[0xE0] = 8;     // in inode 8
}

TEST(ExtRemoved, AFolderWithoutAMapGetsItsNamesFromTheJournalsCopyOfItsFreedFirstBlock) {
  // rm -r wiped the folder's map, and its inode's live copy has left the
  // journal; the journal still holds a copy of its first block, revoked
  // when the block was freed.
  ExtVolumeBuilder v;
  const std::uint32_t bs = v.geometry().blockSize;
  const std::uint64_t freed = v.allocate();
  v.setBlockInUse(freed, false);
  test::JournalBuilder j(bs, 32, 0);
  std::uint32_t at = j.transaction(1, 5, {{freed, directoryBlock({{21, ".", kDir}, {2, "..", kDir},
                                                                  {22, "a.txt"}, {23, "b.txt"}}, bs)}});
  j.revoke(at, 6, {freed});
  withJournal(v, j);
  ExtInodeFields wipedFolder;
  wipedFolder.mode = 0x41ED;
  v.setInode(21, wipedFolder, false);
  for (const std::uint32_t gone : {22u, 23u}) v.setInode(gone, {}, false);
  v.setFile(12, text("kept\n"));
  root(v, {{12, "kept.txt", kFile, {{21, "gone", kDir}}}});
  const auto s = scanExt(v);
  const EntryId gone = s->find("gone");
  ASSERT_NE(gone, kNoEntry);
  EXPECT_EQ(s->childNames(gone), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST(ExtRemoved, ABlockAFileDeletedLaterHeldIsNotSavedAsTheEarlierOnes) {
  // early.txt was deleted, late.txt took its blocks and was deleted too; the
  // journal kept each inode from while it lived. The blocks hold late.txt's
  // bytes: early.txt gets none of them.
  ExtVolumeBuilder v;
  const std::uint32_t bs = v.geometry().blockSize;
  const std::uint64_t shared = v.allocate(2);
  v.setBlockInUse(shared, false);
  v.setBlockInUse(shared + 1, false);
  const ByteVector late = extPattern(2 * bs, 9);
  v.writeBlock(shared, late);
  // Inodes 22 and 23 share one table block: 256-byte slots 21 and 22.
  const std::uint64_t tableBlock = v.inodeTableBlock(0) + 21 * 256 / bs;
  const auto slot = [&](bool live) {
    ByteVector raw(256, 0);
    raw[0] = 0xA4, raw[1] = 0x81;
    put32(raw, 4, 2 * bs);
    if (live) {
      raw[26] = 1;
      put32(raw, 40, static_cast<std::uint32_t>(shared));
      put32(raw, 44, static_cast<std::uint32_t>(shared + 1));
    } else {
      put32(raw, 20, 1800000000);
    }
    return raw;
  };
  const auto table = [&](bool earlyLives, bool lateLives) {
    ByteVector block(bs, 0);
    const ByteVector a = slot(earlyLives), b = slot(lateLives);
    std::copy(a.begin(), a.end(), block.begin() + 21 * 256 % bs);
    std::copy(b.begin(), b.end(), block.begin() + 22 * 256 % bs);
    return block;
  };
  test::JournalBuilder j(bs, 32, 0);
  const std::uint32_t at = j.transaction(1, 5, {{tableBlock, table(true, false)}});
  j.transaction(at, 8, {{tableBlock, table(false, true)}});
  withJournal(v, j);
  for (const std::uint32_t gone : {22u, 23u}) v.setInode(gone, {}, false);
  v.setFile(12, text("kept\n"));
  root(v, {{12, "kept.txt", kFile, {{22, "early.txt"}, {23, "late.txt"}}}});
  const auto s = scanExt(v);
  bool whole = false;
  EXPECT_EQ(s->content(s->find("late.txt"), &whole), late);
  EXPECT_TRUE(whole);
  EXPECT_TRUE(s->content(s->find("early.txt"), &whole).empty());
  EXPECT_FALSE(whole);
}

TEST(ExtOrphans, InodesNoNameReachesGoUnderTheOrphanFolder) {
  ExtVolumeBuilder v;
  v.setFile(12, text("named\n"));
  v.setFile(20, text("lost\n"));                                           // allocated, unnamed
  v.setFolder(21, {directoryBlock({{21, ".", kDir}, {99, "..", kDir}, {22, "inner.txt"}}, 1024)});  // an unnamed folder
  v.setFile(22, text("inner\n"));
  ExtInodeFields wiped;  // removed, its map wiped: listed, with nothing to save
  wiped.size = 5000;
  v.setInode(23, wiped, false);
  root(v, {{12, "named.txt"}});
  const auto s = scanExt(v);
  EXPECT_EQ(s->topNames(), (std::vector<std::string>{"named.txt", "ORPHAN_ENTRY"}));
  EXPECT_EQ(s->content(s->find("ORPHAN_ENTRY/inode_20")), text("lost\n"));
  EXPECT_EQ(s->content(s->find("ORPHAN_ENTRY/inode_21/inner.txt")), text("inner\n"));
  const EntryId wipedEntry = s->find("ORPHAN_ENTRY/inode_23");
  ASSERT_NE(wipedEntry, kNoEntry);
  EXPECT_TRUE(s->parser->isDeleted(wipedEntry));
  EXPECT_EQ(s->parser->catalogue().size(wipedEntry), 0u);
  EXPECT_TRUE(s->content(wipedEntry).empty());
}

// ---- damaged structures

struct DamageCase {
  const char* name;
  void (*spoil)(ExtVolumeBuilder& v);
  bool scans;
  const char* stillListed;  // a path that must survive, or null
};

void rootWithBadRecord(ExtVolumeBuilder& v, std::uint16_t recordLength) {
  ByteVector block = directoryBlock({{2, ".", kDir}, {2, "..", kDir}, {12, "good.txt"}, {13, "after.txt"}}, 1024);
  block[24 + 16 + 4] = static_cast<std::uint8_t>(recordLength);  // after.txt's record (good.txt at 24, 16 bytes)
  block[24 + 16 + 5] = static_cast<std::uint8_t>(recordLength >> 8);
  v.setFile(12, text("good\n"));
  v.setFile(13, text("after\n"));
  v.setFolder(2, {block});
}

const DamageCase kDamage[] = {
    {"RecordLengthZero", [](ExtVolumeBuilder& v) { rootWithBadRecord(v, 0); }, true, "good.txt"},
    {"RecordLengthOdd", [](ExtVolumeBuilder& v) { rootWithBadRecord(v, 13); }, true, "good.txt"},
    {"RecordLengthPastTheBlock", [](ExtVolumeBuilder& v) { rootWithBadRecord(v, 4000); }, true, "good.txt"},
    {"IndirectBlockPointsAtItself",
     [](ExtVolumeBuilder& v) {
       const std::uint64_t self = v.allocate();
       ByteVector block(1024, 0);
       for (std::size_t i = 0; i < 256; ++i) put32(block, i * 4, static_cast<std::uint32_t>(self));
       v.writeBlock(self, block);
       std::vector<std::uint32_t> p(15, 0);
       p[12] = p[13] = p[14] = static_cast<std::uint32_t>(self);
       ExtInodeFields fields;
       fields.size = 0xFFFFFFFFFFull;  // as much as a triple-indirect map can reach
       fields.blockArea = blockMapArea(p);
       v.setInode(12, fields);
       root(v, {{12, "loop.bin"}});
     },
     true, "loop.bin"},
    {"ExtentIndexPointsAtItself",
     [](ExtVolumeBuilder& v) {
       const std::uint64_t node = v.allocate();
       v.writeBlock(node, extentIndexNode({{0, node}}, 1, 1024));
       ExtInodeFields fields;
       fields.flags = 0x80000;
       fields.size = 5000;
       fields.blockArea = areaFrom(extentIndexNode({{0, node}}, 2, 60));
       v.setInode(12, fields);
       root(v, {{12, "loop.bin"}});
     },
     true, "loop.bin"},
    {"ExtentTreeClaimsAbsurdDepth",
     [](ExtVolumeBuilder& v) {
       ExtInodeFields fields;
       fields.flags = 0x80000;
       fields.size = 5000;
       fields.blockArea = areaFrom(extentIndexNode({{0, 7}}, 40000, 60));
       v.setInode(12, fields);
       root(v, {{12, "deep.bin"}});
     },
     true, "deep.bin"},
    {"ExtentsOutsideTheVolume",
     [](ExtVolumeBuilder& v) {
       ExtInodeFields fields;
       fields.flags = 0x80000;
       fields.size = 5000;
       fields.blockArea = areaFrom(extentLeafNode({{0, 5, 0xFFFFFFFFFFFFull}}, 60));
       v.setInode(12, fields);
       root(v, {{12, "far.bin"}});
     },
     true, "far.bin"},
    {"AbsurdSizeHighHalf",
     [](ExtVolumeBuilder& v) {
       v.setFile(12, text("short\n"));
       ByteVector patch(4, 0xFF);
       v.writeAt(v.inodeTableBlock(0) * 1024 + 11 * 256 + 108, patch);
       root(v, {{12, "huge.txt"}});
     },
     true, "huge.txt"},
    {"FolderMapNamesOneBlockOverAndOver",
     [](ExtVolumeBuilder& v) {
       const std::uint64_t names = v.allocate(), self = v.allocate();
       v.writeBlock(names, directoryBlock({{2, ".", kDir}, {2, "..", kDir}, {12, "x.txt"}}, 1024));
       ByteVector block(1024, 0);
       for (std::size_t i = 0; i < 256; ++i) put32(block, i * 4, static_cast<std::uint32_t>(i % 2 ? names : self));
       v.writeBlock(self, block);
       std::vector<std::uint32_t> p(15, static_cast<std::uint32_t>(names));
       p[12] = p[13] = p[14] = static_cast<std::uint32_t>(self);
       ExtInodeFields fields;
       fields.mode = 0x41ED;
       fields.size = 0xFFFFFFFFull;
       fields.blockArea = blockMapArea(p);
       v.setInode(2, fields);
       v.setFile(12, text("x"));
     },
     true, "x.txt"},
    {"FoldersNamingEachOther",
     [](ExtVolumeBuilder& v) {
       v.setFolder(12, {directoryBlock({{12, ".", kDir}, {13, "..", kDir}, {13, "B", kDir}}, 1024)});
       v.setFolder(13, {directoryBlock({{13, ".", kDir}, {12, "..", kDir}, {12, "A", kDir}}, 1024)});
       v.setFile(14, text("x"));
       root(v, {{14, "x.txt"}});
     },
     true, "x.txt"},
    {"InodeTableOutsideTheVolume",
     [](ExtVolumeBuilder& v) {
       v.setFile(12, text("group 0\n"));
       root(v, {{12, "zero.txt"}});
       ByteVector far(4, 0xFF);
       v.writeAt(v.descriptorOffset(1) + 8, far);
     },
     true, "zero.txt"},
    {"DescriptorsBeyondTheVolume",
     [](ExtVolumeBuilder& v) {
       root(v, {});
       ByteVector s = v.superblock();
       put32(s, 4, 0xFFFFFFFF);  // a volume of 4 TiB in a 3 MiB image
       put32(s, 0, 32);
       v.superblock() = s;
     },
     true, nullptr},
    {"InodesPerGroupAbsurd",
     [](ExtVolumeBuilder& v) {
       root(v, {});
       put32(v.superblock(), 40, 0x7FFFFFFF);
     },
     false, nullptr},
    {"NoSuperblockAnywhere", [](ExtVolumeBuilder& v) { put32(v.superblock(), 56, 0); }, false, nullptr},
};

class ExtDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(ExtDamage, IsCutWithoutACrashOrAHang) {
  ExtVolumeBuilder v;
  GetParam().spoil(v);
  const auto s = scanExt(v);
  EXPECT_EQ(s->scanned, GetParam().scans);
  if (!s->scanned) {
    EXPECT_FALSE(s->observer.messages.empty()) << "a refused volume says why";
    return;
  }
  EXPECT_LT(walkedEntries(*s->parser), 1000u);
  walkCatalogue(*s->parser, std::nullopt, [&](const CatalogueItem& item) {
    CountingSink sink(64ull << 20);
    s->parser->readContent(item.id, sink);
    EXPECT_LE(sink.bytes, 8ull << 20) << item.name << ": more than the volume holds";
    return true;
  });
  if (GetParam().stillListed) {
    EXPECT_NE(s->find(GetParam().stillListed), kNoEntry);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ExtDamage, ::testing::ValuesIn(kDamage), [](const auto& info) { return std::string(info.param.name); });

TEST(ExtDamage, ABackupSuperblockStandsInForAZeroedPrimary) {
  ExtVolumeBuilder v;
  v.setFile(12, text("found via the backup\n"));
  root(v, {{12, "backup.txt"}});
  ByteVector backup = v.superblock();
  backup[90] = 1;  // block group 1's copy, in the first block of group 1
  v.writeAt(1025 * 1024, backup);
  auto image = v.materialize();
  // The descriptors follow the copy, as they follow the primary.
  ByteVector table(1024);
  {
    std::ifstream in(image->path(), std::ios::binary);
    in.seekg(2 * 1024);
    in.read(reinterpret_cast<char*>(table.data()), 1024);
  }
  image->write(1026 * 1024, table);
  image->write(1024, ByteVector(1024, 0));
  image->write(2 * 1024, ByteVector(1024, 0));
  const auto s = scanExt(std::move(image));
  ASSERT_TRUE(s->scanned);
  EXPECT_EQ(s->content(s->find("backup.txt")), text("found via the backup\n"));
}

}  // namespace
}  // namespace quorvel
