// What the journal's older copies are trusted for: an inode only from a copy
// in which it lived, a map node only from the file's own lifetime and, where
// the volume keeps metadata checksums, only when the checksum names this very
// file; folder blocks only when their tail names this folder.
#include <gtest/gtest.h>

#include <memory>

#include "fs/ext/ExtBuilders.h"
#include "fs/ext/JournalBuilder.h"
#include "fs/ext/JournalRecovery.h"
#include "io/Crc32c.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using namespace extfmt;
using test::ByteVector;
using test::JournalBuilder;

constexpr std::uint32_t kBlockSize = 1024;
constexpr std::uint64_t kVolumeBlocks = 128;
constexpr std::uint32_t kFile = 40;
constexpr std::uint32_t kGeneration = 7;

// The checksum ext4 seeds a file's metadata with, computed the documented
// way: the volume's UUID, then the inode number and generation.
std::uint32_t fileSeed(const Superblock& s, std::uint32_t number, std::uint32_t generation) {
  ByteVector n(4), g(4);
  test::putLe32(n, 0, number);
  test::putLe32(g, 0, generation);
  return crc32cUpdate(crc32cUpdate(crc32cUpdate(~0u, Bytes(s.uuid, 16)), n), g);
}

Superblock volumeSuper(bool checksums) {
  Superblock s;
  s.logBlockSize = 0;
  s.inodeSize = 256;
  s.featureIncompat = kIncompatExtents;
  if (checksums) s.featureRoCompat = kRoCompatMetadataChecksum;
  for (std::uint8_t i = 0; i < 16; ++i) s.uuid[i] = static_cast<std::uint8_t>(0x30 + i);
  return s;
}

// An extent leaf of one extent, its tail checksum seeded for `owner`.
ByteVector leafOf(const Superblock& s, std::uint64_t start, std::uint32_t owner) {
  ByteVector node = test::extentLeafNode({{0, 4, start}}, kBlockSize);
  const std::size_t tail = 12 + std::size_t{(kBlockSize - 12) / 12} * 12;
  test::putLe32(node, tail, crc32cUpdate(fileSeed(s, owner, kGeneration), Bytes(node).first(tail)));
  return node;
}

// A folder's leaf block with the checksum tail that names `owner`.
ByteVector folderBlockOf(const Superblock& s, std::uint32_t owner, const std::string& name) {
  ByteVector block = test::directoryBlock({{owner, "."}, {2, ".."}, {50, name}}, kBlockSize - 12);
  block.resize(kBlockSize, 0);
  const std::size_t tail = kBlockSize - 12;
  block[tail + 4] = 12;
  block[tail + 7] = 0xDE;
  test::putLe32(block, tail + 8, crc32cUpdate(fileSeed(s, owner, kGeneration), Bytes(block).first(tail)));
  return block;
}

// An inode-table slot: live with an extent root, or as deletion leaves it.
ByteVector inodeSlot(bool live, std::uint16_t entries) {
  ByteVector raw(256, 0);
  raw[0] = 0xA4, raw[1] = 0x81;  // a regular file
  test::putLe32(raw, 4, 4096);
  raw[26] = live ? 1 : 0;
  if (!live) test::putLe32(raw, 20, 1800000000);  // deletion time
  test::putLe32(raw, 32, 0x80000);                // extents
  const ByteVector root = test::extentLeafNode({{0, 4, 90}}, 60, 4);
  std::copy(root.begin(), root.end(), raw.begin() + 40);
  raw[42] = static_cast<std::uint8_t>(entries);
  test::putLe32(raw, 100, kGeneration);
  return raw;
}

struct Fixture {
  explicit Fixture(const Superblock& s, const JournalBuilder& j, const ByteVector& volumeBlock = {},
                   std::uint64_t at = 0)
      : super(s) {
    image = std::make_unique<test::TempImage>();
    image->resize(kVolumeBlocks * kBlockSize);
    if (!volumeBlock.empty()) image->write(at * kBlockSize, volumeBlock);
    source.open(image->path());
    device = BlockDevice{VolumeView(source, {0, kVolumeBlocks * kBlockSize}), kBlockSize, kVolumeBlocks};
    recovery = std::make_unique<JournalRecovery>(device, super, j.index());
  }
  Superblock super;
  std::unique_ptr<test::TempImage> image;
  FileReadSeek source;
  BlockDevice device;
  std::unique_ptr<JournalRecovery> recovery;
};

Inode fileInode() { return decodeInode(inodeSlot(true, 1), false); }

struct NodeCase {
  const char* name;
  bool checksums;
  std::uint64_t wantStart;  // the extent start of the node the reader gives
};

class MapNodesAt : public ::testing::TestWithParam<NodeCase> {};

TEST_P(MapNodesAt, TakesTheNewestCopyFromTheFilesLifetimeThatIsItsOwn) {
  const NodeCase& c = GetParam();
  const Superblock s = volumeSuper(c.checksums);
  JournalBuilder j(kBlockSize, 64, 0);
  // The inode's live copy is from transaction 10. Block 50 was this file's
  // node at 9 (extent at 70), another file's at 10 (extent at 71), this
  // file's again at 12, after the copy the inode was taken from (72).
  std::uint32_t at = j.transaction(1, 9, {{50, leafOf(s, 70, kFile)}});
  at = j.transaction(at, 10, {{50, leafOf(s, 71, kFile + 1)}});
  j.transaction(at, 12, {{50, leafOf(s, 72, kFile)}});
  Fixture f(s, j, leafOf(s, 73, kFile), 50);
  const MapNodeReader read = f.recovery->mapNodesAt(fileInode(), kFile, 10);
  ByteVector out(kBlockSize);
  ASSERT_TRUE(read(50, out));
  EXPECT_EQ(out, leafOf(s, c.wantStart, c.wantStart == 71 ? kFile + 1 : kFile));
}

INSTANTIATE_TEST_SUITE_P(Cases, MapNodesAt,
                         ::testing::Values(NodeCase{"ChecksumsRejectAnotherFilesNode", true, 70},
                                           NodeCase{"WithoutChecksumsTheNewestInTimeIsTaken", false, 71}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MapNodesAt, WithNoCopyOfItsOwnTheVolumesBlockIsRead) {
  const Superblock s = volumeSuper(true);
  JournalBuilder j(kBlockSize, 64, 0);
  ByteVector broken = leafOf(s, 70, kFile);
  broken[0] = 0;  // not an extent node at all
  std::uint32_t at = j.transaction(1, 9, {{50, broken}});
  j.transaction(at, 10, {{50, leafOf(s, 71, kFile + 1)}});
  Fixture f(s, j, leafOf(s, 73, kFile), 50);
  ByteVector out(kBlockSize);
  ASSERT_TRUE(f.recovery->mapNodesAt(fileInode(), kFile, 10)(50, out));
  EXPECT_EQ(out, leafOf(s, 73, kFile));
}

TEST(FolderCopies, OnlyVersionsWhoseTailNamesTheFolderAreVisited) {
  const Superblock s = volumeSuper(true);
  JournalBuilder j(kBlockSize, 64, 0);
  ByteVector noTail = test::directoryBlock({{kFile, "."}, {2, ".."}, {50, "no-tail.txt"}}, kBlockSize);
  std::uint32_t at = j.transaction(1, 7, {{60, noTail}});
  at = j.transaction(at, 8, {{60, folderBlockOf(s, kFile + 1, "other-folder.txt")}});
  at = j.transaction(at, 9, {{60, folderBlockOf(s, kFile, "mine.txt")}});
  ByteVector damaged = folderBlockOf(s, kFile, "damaged.txt");
  damaged[40] ^= 1;
  j.transaction(at, 11, {{60, damaged}});
  Fixture f(s, j);
  std::vector<ByteVector> seen;
  f.recovery->forEachFolderCopy(60, kFile, kGeneration, [&](Bytes b) { seen.emplace_back(b.begin(), b.end()); });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], folderBlockOf(s, kFile, "mine.txt"));
}

TEST(LiveInode, TheNewestCopyInWhichTheInodeLivedAndMappedSomethingIsTaken) {
  const Superblock s = volumeSuper(true);
  const auto table = [](const ByteVector& slot) {
    ByteVector block(kBlockSize, 0);
    std::copy(slot.begin(), slot.end(), block.begin() + 256);  // the block's second slot
    return block;
  };
  JournalBuilder j(kBlockSize, 64, 0);
  std::uint32_t at = j.transaction(1, 14, {{5, table(inodeSlot(true, 1))}});
  at = j.transaction(at, 15, {{5, table(inodeSlot(true, 1))}});
  at = j.transaction(at, 16, {{5, table(inodeSlot(true, 0))}});  // live, its extents already cut away
  j.transaction(at, 20, {{5, table(inodeSlot(false, 1))}});      // deleted
  Fixture f(s, j);
  const ByteVector now = inodeSlot(false, 1);
  const std::optional<LiveInodeCopy> copy = f.recovery->liveInode(kFile, 5, 256, now);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->sequence, 15u);
  EXPECT_EQ(copy->raw, inodeSlot(true, 1));
  EXPECT_FALSE(f.recovery->liveInode(kFile, 5, 0, now));     // an empty slot never lived
  EXPECT_FALSE(f.recovery->liveInode(kFile, 5, 1000, now));  // a slot past the block's end
}

}  // namespace
}  // namespace quorvel
