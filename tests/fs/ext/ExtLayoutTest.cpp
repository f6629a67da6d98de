// The ext on-disk decoding: superblock checks, both descriptor forms,
// extent entries with 48-bit starts and uninitialised lengths, inode times
// with epoch bits, types, names and permission letters.
#include <gtest/gtest.h>

#include "fs/ext/ExtParser.h"
#include "fs/ext/ExtNameTable.h"
#include "fs/ext/ExtDirectory.h"
#include "fs/ext/ExtInode.h"
#include "fs/ext/ExtSuperblock.h"
#include "fs/ext/ExtBuilders.h"

namespace quorvel {
namespace {

using namespace extfmt;
using test::ByteVector;

ByteVector goodSuperblock() { return test::ExtVolumeBuilder().superblock(); }

void put32(ByteVector& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(ByteVector& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

struct SuperblockCase {
  const char* name;
  std::size_t offset;
  std::uint32_t value;
  int width;
  bool usable;
};

TEST(ExtSuperblock, AbsurdCountsAndSizesAreRefused) {
  const SuperblockCase cases[] = {
      {"as built", 0, 0, 0, true},
      {"no inodes", 0, 0, 4, false},
      {"no blocks", 4, 0, 4, false},
      {"log block size 7", 24, 7, 4, false},
      {"log block size huge", 24, 0xFFFFFFFF, 4, false},
      {"no blocks per group", 32, 0, 4, false},
      {"more blocks per group than a bitmap maps", 32, 8 * 1024 + 1, 4, false},
      {"more inodes per group than a bitmap maps", 40, 8 * 1024 + 1, 4, false},
      {"inode size 100", 88, 100, 2, false},
      {"inode size above the block", 88, 2048, 2, false},
      {"inode size not a power of two", 88, 384, 2, false},
      {"more inodes than the groups hold", 0, 0xFFFFFFF0, 4, false},
      {"bad magic", 56, 0xEF54, 2, false},
  };
  for (const SuperblockCase& c : cases) {
    SCOPED_TRACE(c.name);
    ByteVector s = goodSuperblock();
    if (c.width == 4) put32(s, c.offset, c.value);
    if (c.width == 2) put16(s, c.offset, static_cast<std::uint16_t>(c.value));
    EXPECT_EQ(superblockFault(decodeSuperblock(s)).empty(), c.usable) << superblockFault(decodeSuperblock(s));
  }
}

TEST(ExtSuperblock, EveryGroupCountsTheLastPartialOneToo) {
  ByteVector s = goodSuperblock();  // 3000 blocks of 1 KiB from block 1, 1024 a group
  EXPECT_EQ(decodeSuperblock(s).groupCount(), 3u);
  put32(s, 4, 1025);
  EXPECT_EQ(decodeSuperblock(s).groupCount(), 1u);
  put32(s, 4, 1026);
  EXPECT_EQ(decodeSuperblock(s).groupCount(), 2u);
}

TEST(ExtSuperblock, GenerationsByFeatures) {
  struct Case {
    std::uint32_t compat, incompat, roCompat;
    const char* name;
  };
  for (const Case& c : {Case{0, 0x2, 0x3, "ext 2"}, Case{0x4, 0x2, 0x3, "ext 3"}, Case{0x4, 0x2C2, 0x46B, "ext 4"},
                        Case{0, 0x40, 0, "ext 4"}, Case{0x4, 0x2, 0x8, "ext 4"}}) {
    ByteVector s = goodSuperblock();
    put32(s, 92, c.compat);
    put32(s, 96, c.incompat);
    put32(s, 100, c.roCompat);
    EXPECT_EQ(decodeSuperblock(s).generationName(), c.name);
  }
}

TEST(ExtGroupDescriptor, MetaGroupsKeepTheirDescriptorsInTheirFirstGroup) {
  ByteVector s = goodSuperblock();  // 1 KiB blocks, 1024 a group, first data block 1
  put32(s, 100, 0x1);               // sparse_super
  put32(s, 96, 0x2 | 0x80 | 0x10);  // file types, 64-bit (16 descriptors a block), meta_bg
  put16(s, 0xFE, 64);
  put32(s, 0x104, 1);  // meta group 0 keeps the classic table
  const Superblock b = decodeSuperblock(s);
  struct Case {
    std::uint64_t group, block;
  };
  // Group 16 heads meta group 1 and has no superblock copy (16 is even);
  // group 48 heads meta group 3, and 48 is no power of 3, 5 or 7.
  for (const Case& c : {Case{0, 2}, Case{15, 2}, Case{16, 1 + 16 * 1024}, Case{31, 1 + 16 * 1024}, Case{48, 1 + 48 * 1024}})
    EXPECT_EQ(b.descriptorBlock(c.group, 1), c.block) << c.group;
  for (const std::uint64_t g : {0, 1, 3, 5, 7, 9, 25, 27, 49, 125, 343}) EXPECT_TRUE(b.groupHasSuperblock(g)) << g;
  for (const std::uint64_t g : {2, 4, 15, 16, 21, 45, 81 * 2}) EXPECT_FALSE(b.groupHasSuperblock(g)) << g;
  put32(s, 96, 0x2);  // without meta_bg the table follows the superblock, whatever its copy
  EXPECT_EQ(decodeSuperblock(s).descriptorBlock(40, 8193), 8194u + 40 / 32);
}

TEST(ExtGroupDescriptor, TheWideFormAddsTheHighHalves) {
  ByteVector d(64, 0);
  put32(d, 0, 0x11), put32(d, 4, 0x22), put32(d, 8, 0x33), put16(d, 18, 0x1), put16(d, 28, 7);
  put32(d, 0x20, 1), put32(d, 0x24, 2), put32(d, 0x28, 3), put16(d, 0x32, 1);
  const GroupDescriptor narrow = decodeGroupDescriptor(d, 32);
  EXPECT_EQ(narrow.inodeTable, 0x33u);
  EXPECT_EQ(narrow.unusedInodes, 7u);
  const GroupDescriptor wide = decodeGroupDescriptor(d, 64);
  EXPECT_EQ(wide.blockBitmap, 0x100000011u);
  EXPECT_EQ(wide.inodeBitmap, 0x200000022u);
  EXPECT_EQ(wide.inodeTable, 0x300000033u);
  EXPECT_EQ(wide.unusedInodes, 0x10007u);
  EXPECT_EQ(wide.flags, kGroupInodesUninit);
}

TEST(ExtExtents, LeavesCarry48BitStartsAndUninitialisedLengths) {
  const ByteVector node = test::extentLeafNode(
      {{0, 32768, 0x123456789ABCull}, {40000, 32769, 5}, {70000, 65535, 6}, {1, 1, 0xFFFF00000000ull}}, 60);
  const struct {
    std::uint32_t logical, length;
    std::uint64_t start;
    bool uninitialised;
  } want[] = {{0, 32768, 0x123456789ABC, false}, {40000, 1, 5, true}, {70000, 32767, 6, true}, {1, 1, 0xFFFF00000000, false}};
  for (std::size_t i = 0; i < 4; ++i) {
    const ExtentLeaf e = decodeExtentLeaf(node, i);
    EXPECT_EQ(e.logical, want[i].logical);
    EXPECT_EQ(e.length, want[i].length);
    EXPECT_EQ(e.start, want[i].start);
    EXPECT_EQ(e.uninitialised, want[i].uninitialised);
  }
  EXPECT_TRUE(headerFits(decodeExtentHeader(node), 60));
}

TEST(ExtExtents, HeadersThatCannotBeTrustedAreRefused) {
  ByteVector node = test::extentLeafNode({{0, 1, 5}}, 60);
  EXPECT_FALSE(headerFits(decodeExtentHeader(node), 60 - 13));  // room for fewer than max entries
  put16(node, 2, 5);                                             // more entries than the maximum (4)
  EXPECT_FALSE(headerFits(decodeExtentHeader(node), 60));
  node = test::extentIndexNode({{0, 9}}, 6, 60);  // deeper than any tree
  EXPECT_FALSE(headerFits(decodeExtentHeader(node), 60));
  node = test::extentLeafNode({{0, 1, 5}}, 60, 200);  // a maximum beyond the node
  EXPECT_FALSE(headerFits(decodeExtentHeader(node), 60));
}

TEST(ExtInode, TimesAreUtcWithEpochBitsAndNanoseconds) {
  struct Case {
    std::int32_t seconds;
    std::uint32_t extra;
    std::int64_t wantSeconds;
    std::uint32_t wantNs;
  };
  for (const Case& c : {Case{1700000000, 0, 1700000000, 0}, Case{-1, 0, -1, 0}, Case{5, (123u << 2), 5, 123},
                        Case{-2147483647 - 1, 1, 2147483648LL, 0}, Case{100, (999999999u << 2) | 2, 100 + (2LL << 32), 999999999}}) {
    ByteVector raw(256, 0);
    put16(raw, 0, 0x81A4);
    put32(raw, 16, static_cast<std::uint32_t>(c.seconds));
    put16(raw, 128, 32);
    put32(raw, 136, c.extra);
    const Inode n = decodeInode(raw, false);
    ASSERT_TRUE(n.modified.has_value());
    EXPECT_EQ(n.modified->seconds, c.wantSeconds);
    EXPECT_EQ(n.modified->nanoseconds, c.wantNs);
  }
  // A 128-byte inode has no extra words: the seconds alone.
  ByteVector small(128, 0);
  put32(small, 16, 77);
  EXPECT_EQ(decodeInode(small, false).modified->seconds, 77);
}

TEST(ExtInode, TheSizeHighHalfCountsOnlyWhenSet) {
  ByteVector raw(128, 0);
  put32(raw, 4, 0xFFFFFFFF);
  EXPECT_EQ(decodeInode(raw, false).size, 0xFFFFFFFFu);
  put32(raw, 108, 2);
  EXPECT_EQ(decodeInode(raw, false).size, 0x2FFFFFFFFull);
}

TEST(ExtInode, KnownTypesAreDecidedByTheWholeTypeField) {
  for (const std::uint16_t mode : {0x1000, 0x2000, 0x4000, 0x6000, 0x8000, 0xA000, 0xC000}) EXPECT_TRUE(isKnownType(mode));
  for (const std::uint16_t mode : {0x0000, 0x3000, 0x5000, 0x7000, 0xE000, 0xF000}) EXPECT_FALSE(isKnownType(mode));
}

TEST(ExtNames, BytesThatAreNotUtf8AreReplacedOneByOne) {
  struct Case {
    std::string raw, shown;
  };
  for (const Case& c : {Case{"plain.txt", "plain.txt"}, Case{"\xD0\xB4\xD0\xBE\xD0\xBA", "\xD0\xB4\xD0\xBE\xD0\xBA"},
                        Case{"latin1-\xE9t\xE9", "latin1-\xEF\xBF\xBDt\xEF\xBF\xBD"},
                        Case{"\xFF\xFE", "\xEF\xBF\xBD\xEF\xBF\xBD"},
                        Case{"cut-\xE6\x97", "cut-\xEF\xBF\xBD\xEF\xBF\xBD"},
                        Case{"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}})
    EXPECT_EQ(displayName(c.raw), c.shown) << c.raw;
}

TEST(ExtRows, PermissionLettersFollowTheModeBits) {
  EXPECT_EQ(ExtParser::permissionText(0x81ED), "-OE-OR-GE-GR-UE-UW-UR");
  EXPECT_EQ(ExtParser::permissionText(0x8000), "");
  EXPECT_EQ(ExtParser::permissionText(0x41FF), "-OE-OW-OR-GE-GW-GR-UE-UW-UR");
  EXPECT_EQ(ExtParser::permissionText(0x8100), "-UR");
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// One directory entry: inode, record length, name, file type.
void putEntry(test::ByteVector& b, std::size_t at, std::uint32_t inode, std::uint16_t recordLength,
              const std::string& name, std::uint8_t type) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(inode >> (8 * i));
  b[at + 4] = static_cast<std::uint8_t>(recordLength);
  b[at + 5] = static_cast<std::uint8_t>(recordLength >> 8);
  b[at + 6] = static_cast<std::uint8_t>(name.size());
  b[at + 7] = type;
  std::copy(name.begin(), name.end(), b.begin() + static_cast<std::ptrdiff_t>(at + 8));
}

TEST(ExtDirectory, RemovedNamesAtABlockStartAndInSlackAreFoundLiveOnesKept) {
  // gone.txt opened the block and was removed (inode 0, its length kept);
  // keep.txt covers the removed old.txt after it, last a removed name whose
  // inode number was cleared; a checksum tail ends the block.
  test::ByteVector block(1024, 0);
  putEntry(block, 0, 0, 16, "gone.txt", 1);
  putEntry(block, 16, 12, 36, "keep.txt", 1);
  putEntry(block, 32, 13, 20, "old.txt", 1);
  putEntry(block, 52, 14, 48, "last", 2);
  // Behind last: a name whose inode number was cleared, then bytes that only
  // look like an entry (no name), which must not be taken for one.
  putEntry(block, 64, 0, 24, ".a.txt.swp", 1);
  putEntry(block, 88, 0, 12, "", 1);
  putEntry(block, 100, 15, 1024 - 100 - 12, "tail", 1);
  putEntry(block, 1012, 0, 12, "", 0xDE);
  extfmt::DirectoryBlockWalk how;
  how.inodeCount = 100;
  std::vector<std::string> seen;
  extfmt::walkDirectoryBlock(block, how, [&](const extfmt::DirectoryName& n) {
    seen.push_back(std::string(n.name) + ":" + std::to_string(n.inode) + (n.removed ? ":removed" : ""));
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"gone.txt:0:removed", "keep.txt:12", "old.txt:13:removed", "last:14",
                                              ".a.txt.swp:0:removed", "tail:15"}));
}

}  // namespace
}  // namespace quorvel
