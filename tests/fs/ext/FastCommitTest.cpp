// The fast-commit area on hand-made journals: records as the kernel lays
// them out, runs kept only where their TAIL holds, stale runs behind the
// newest, and areas that lie about their records' lengths.
#include <gtest/gtest.h>

#include <string>

#include "fs/ext/JournalBuilder.h"

namespace quorvel {
namespace {

namespace ej = extfmt::journal;
using test::FastCommitWriter;
using test::JournalBuilder;
using ByteVector = std::vector<std::uint8_t>;
using Tag = ej::FastCommitTag;

constexpr std::uint32_t kBlockSize = 1024;
constexpr std::uint32_t kArea = 16;

// A journal whose fast-commit area holds `blocks` from its start; its flag
// cleared, as a clean unmount leaves it.
ej::FastCommitLog logOf(const std::vector<ByteVector>& blocks, std::size_t inodeSize = 256) {
  JournalBuilder j(kBlockSize, 300, ej::kIncompat64Bit | ej::kIncompatCsumV3);
  j.fastCommitArea(kArea, false);
  j.put(j.ringEnd(), blocks);
  ej::JournalIndex index = j.index(true);
  EXPECT_TRUE(index.usable()) << index.fault();
  return ej::FastCommitLog::ofJournal(j.reader(), index.superblock(), inodeSize);
}

ByteVector rawInode(std::uint8_t fill, std::size_t bytes = 160) { return ByteVector(bytes, fill); }

TEST(FastCommit, RecordsOfFastCommitsThatEndedComeBackInOrderWithTheirTransaction) {
  FastCommitWriter w(kBlockSize);
  w.head(7)
      .inode(13, rawInode(0xA1))
      .range(13, 0, 5, 0x1'0000'2000ull)
      .dentry(Tag::Create, 12, 13, "first.txt")
      .inode(13, rawInode(0xA2))
      .tail(7);
  w.inode(14, rawInode(0xB1)).dentry(Tag::Link, 12, 14, "second").dentry(Tag::Unlink, 12, 13, "first.txt").tail(7);
  w.range(15, 8, 32768 + 3, 900).tail(7);
  const ej::FastCommitLog log = logOf(w.blocks());
  EXPECT_EQ(log.commits(), 3u);
  EXPECT_EQ(log.droppedRuns(), 0u);

  ASSERT_EQ(log.inodes().size(), 3u);
  EXPECT_EQ(log.inodes()[1].number, 13u);
  EXPECT_EQ(log.inodes()[1].raw, rawInode(0xA2));
  EXPECT_EQ(log.inodes()[2].number, 14u);
  EXPECT_EQ(log.inodes()[2].place.tid, 7u);
  EXPECT_TRUE(ej::FastCommitLog::later(log.inodes()[1].place, log.inodes()[0].place));

  ASSERT_EQ(log.names().size(), 3u);
  const std::tuple<Tag, std::uint32_t, std::uint32_t, std::string> names[] = {
      {Tag::Create, 12, 13, "first.txt"}, {Tag::Link, 12, 14, "second"}, {Tag::Unlink, 12, 13, "first.txt"}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(log.names()[i].tag, std::get<0>(names[i]));
    EXPECT_EQ(log.names()[i].parent, std::get<1>(names[i]));
    EXPECT_EQ(log.names()[i].inode, std::get<2>(names[i]));
    EXPECT_EQ(log.names()[i].name, std::get<3>(names[i]));
  }

  ASSERT_EQ(log.ranges().size(), 2u);
  EXPECT_EQ(log.ranges()[0].physical, 0x1'0000'2000ull);
  EXPECT_EQ(log.ranges()[0].length, 5u);
  EXPECT_FALSE(log.ranges()[0].unwritten);
  EXPECT_EQ(log.ranges()[1].logical, 8u);
  EXPECT_EQ(log.ranges()[1].length, 3u);
  EXPECT_TRUE(log.ranges()[1].unwritten);
}

TEST(FastCommit, AFastCommitPaddedOverSeveralBlocksIsOneRun) {
  FastCommitWriter w(kBlockSize);
  w.head(3);
  for (std::uint32_t i = 0; i < 40; ++i) w.dentry(Tag::Create, 2, 100 + i, std::string(60, static_cast<char>('a' + i % 26)));
  w.tail(3);
  ASSERT_GT(w.blocks().size(), 2u);
  const ej::FastCommitLog log = logOf(w.blocks());
  EXPECT_EQ(log.commits(), 1u);
  ASSERT_EQ(log.names().size(), 40u);
  EXPECT_EQ(log.names()[39].inode, 139u);
}

TEST(FastCommit, AStaleRunBehindTheNewestIsKeptAsTheOlderTransaction) {
  // Transaction 5 wrote three blocks of fast commits; after its full
  // commit, transaction 9 wrote the area again from its start.
  FastCommitWriter stale(kBlockSize);
  stale.head(5).inode(20, rawInode(1)).tail(5).inode(21, rawInode(2)).tail(5).inode(22, rawInode(3)).tail(5);
  FastCommitWriter fresh(kBlockSize);
  fresh.head(9).inode(20, rawInode(4)).tail(9);
  std::vector<ByteVector> area = stale.blocks();
  area[0] = fresh.blocks()[0];
  const ej::FastCommitLog log = logOf(area);
  ASSERT_EQ(log.inodes().size(), 3u);
  EXPECT_EQ(log.inodes()[0].place.tid, 9u);
  EXPECT_EQ(log.inodes()[1].place.tid, 5u);
  EXPECT_EQ(log.inodes()[2].number, 22u);
  EXPECT_TRUE(ej::FastCommitLog::later(log.inodes()[0].place, log.inodes()[2].place));
}

// ---- areas that lie

void putLe16(ByteVector& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

struct LieCase {
  const char* name;
  // Writes the run under test; a good fast commit (inode 50, tid 4) follows
  // it in a block of its own.
  void (*write)(FastCommitWriter& w);
  void (*spoil)(std::vector<ByteVector>& blocks);
};

class FastCommitLies : public ::testing::TestWithParam<LieCase> {};

TEST_P(FastCommitLies, DropTheirRunAndKeepTheNextFastCommit) {
  FastCommitWriter w(kBlockSize);
  GetParam().write(w);
  const std::size_t spoiled = w.blocks().size();
  w.inode(50, rawInode(9)).tail(4);
  std::vector<ByteVector> blocks = w.blocks();
  std::vector<ByteVector> first(blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(spoiled));
  if (GetParam().spoil) GetParam().spoil(first);
  std::copy(first.begin(), first.end(), blocks.begin());
  const ej::FastCommitLog log = logOf(blocks, 256);
  EXPECT_EQ(log.commits(), 1u);
  EXPECT_GE(log.droppedRuns(), 1u);
  EXPECT_TRUE(log.names().empty());
  ASSERT_EQ(log.inodes().size(), 1u);
  EXPECT_EQ(log.inodes()[0].number, 50u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FastCommitLies,
    ::testing::Values(
        LieCase{"TailCrcWrong", [](FastCommitWriter& w) { w.head(4).dentry(Tag::Create, 2, 30, "x").tail(4, false); },
                nullptr},
        LieCase{"TailOfAnotherTransactionThanItsHead",
                [](FastCommitWriter& w) { w.head(4).dentry(Tag::Create, 2, 30, "x").tail(3); }, nullptr},
        LieCase{"RecordPastItsBlock", [](FastCommitWriter& w) { w.dentry(Tag::Create, 2, 30, "x").tail(4); },
                [](std::vector<ByteVector>& b) { putLe16(b[0], 2, 0xFFF0); }},
        LieCase{"NameLongerThan255",
                [](FastCommitWriter& w) { w.dentry(Tag::Create, 2, 30, std::string(256, 'n')).tail(4); }, nullptr},
        LieCase{"EmptyName", [](FastCommitWriter& w) { w.dentry(Tag::Link, 2, 30, "").tail(4); }, nullptr},
        LieCase{"InodeShorterThan128",
                [](FastCommitWriter& w) { w.dentry(Tag::Create, 2, 30, "x").inode(30, rawInode(1, 100)).tail(4); },
                nullptr},
        LieCase{"InodeLongerThanTheVolumesSlots",
                [](FastCommitWriter& w) { w.dentry(Tag::Create, 2, 30, "x").inode(30, rawInode(1, 300)).tail(4); },
                nullptr},
        LieCase{"UnknownTag", [](FastCommitWriter& w) { w.dentry(Tag::Create, 2, 30, "x").record(0x44, {1, 2}).tail(4); },
                nullptr},
        LieCase{"RangeOfTheWrongLength",
                [](FastCommitWriter& w) { w.dentry(Tag::Create, 2, 30, "x").record(1, ByteVector(12, 0)).tail(4); },
                nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FastCommit, RunsThatNeverReachATailHoldNothing) {
  FastCommitWriter w(kBlockSize);
  w.head(4).inode(50, rawInode(9)).dentry(Tag::Create, 2, 50, "x");
  const ej::FastCommitLog untailed = logOf(w.blocks());
  EXPECT_EQ(untailed.commits(), 0u);
  EXPECT_EQ(untailed.droppedRuns(), 1u);
  EXPECT_TRUE(untailed.inodes().empty());

  // Zero-length PADs all the area long, then garbage: every step moves on.
  std::vector<ByteVector> blocks(kArea, ByteVector(kBlockSize, 0));
  for (std::size_t b = 0; b < blocks.size(); ++b)
    for (std::size_t at = 0; at + 4 <= kBlockSize; at += 4) blocks[b][at] = b % 2 ? 0xFF : 7;
  const ej::FastCommitLog pads = logOf(blocks);
  EXPECT_EQ(pads.commits(), 0u);
  EXPECT_TRUE(pads.names().empty());
}

TEST(FastCommit, AJournalWithoutTheFeatureHasNoArea) {
  JournalBuilder j(kBlockSize, 300, ej::kIncompatCsumV3);
  FastCommitWriter w(kBlockSize);
  w.inode(50, rawInode(9)).tail(4);
  j.put(290, w.blocks());
  const ej::JournalIndex index = j.index();
  EXPECT_FALSE(index.superblock().hasFastCommitArea());
  EXPECT_TRUE(ej::FastCommitLog::ofJournal(j.reader(), index.superblock(), 256).inodes().empty());
}

}  // namespace
}  // namespace quorvel
