// Which state of a deleted inode the journal gives back when both a block
// copy of its table block and a fast-commit record of it survive, and the
// names fast commits made, folder by folder.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fs/ext/JournalBuilder.h"
#include "fs/ext/JournalRecovery.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

namespace ej = extfmt::journal;
using test::FastCommitWriter;
using test::JournalBuilder;
using test::putLe16;
using test::putLe32;
using ByteVector = std::vector<std::uint8_t>;
using Tag = ej::FastCommitTag;

constexpr std::uint32_t kBlockSize = 1024;
constexpr std::size_t kInodeSize = 256;
constexpr std::uint64_t kTableBlock = 50;
constexpr std::uint32_t kNumber = 20;

// A regular file's slot: live with one extent, or as deletion leaves it
// (no links, a deletion time, its map wiped). `size` tells the states apart.
ByteVector slot(bool live, std::uint32_t size, std::size_t bytes = kInodeSize) {
  ByteVector s(bytes, 0);
  putLe16(s, 0, 0x81A4);
  putLe32(s, 4, size);
  putLe32(s, 32, 0x80000);  // extents
  putLe16(s, 40, 0xF30A);
  putLe16(s, 44, 4);
  if (live) {
    putLe16(s, 26, 1);
    putLe16(s, 42, 1);
    putLe32(s, 52, 1);      // one block
    putLe32(s, 56, 3000);   // at block 3000
  } else {
    putLe32(s, 20, 1'800'000'000);
  }
  return s;
}

struct Source {
  std::optional<std::uint32_t> blockCopy;  // the sequence of a live copy of the table block
  std::vector<std::pair<std::uint32_t, bool>> records;  // fast-commit INODE records in order: tid, live
};

struct ChoiceCase {
  const char* name;
  Source source;
  std::optional<bool> fromFastCommit;  // none: no live state at all
  std::uint32_t size;                  // of the state chosen
};

class LiveInodeChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(LiveInodeChoice, TakesTheLaterLiveState) {
  const ChoiceCase& c = GetParam();
  JournalBuilder j(kBlockSize, 300, ej::kIncompat64Bit | ej::kIncompatCsumV3);
  j.fastCommitArea(16, false);
  if (c.source.blockCopy) {
    ByteVector table(kBlockSize, 0);
    const ByteVector live = slot(true, 1000 + *c.source.blockCopy);
    std::copy(live.begin(), live.end(), table.begin());
    j.transaction(1, *c.source.blockCopy, {{kTableBlock, table}});
  }
  FastCommitWriter w(kBlockSize);
  for (const auto& [tid, live] : c.source.records) w.inode(kNumber, slot(live, 2000 + tid, 160)).tail(tid);
  j.put(j.ringEnd(), w.blocks());
  ej::JournalIndex index = j.index(true);
  ASSERT_TRUE(index.usable()) << index.fault();
  ej::FastCommitLog log = ej::FastCommitLog::ofJournal(j.reader(), index.superblock(), kInodeSize);
  ASSERT_EQ(log.inodes().size(), c.source.records.size());

  extfmt::Superblock super;
  super.inodeSize = kInodeSize;
  const extfmt::BlockDevice device{VolumeView(), kBlockSize, 4096};
  const extfmt::JournalRecovery recovery(device, super, std::move(index), std::move(log));
  ByteVector now = slot(false, 0);
  now[200] = 0xAB;  // past a record's bytes: kept from the volume's slot
  const std::optional<extfmt::LiveInodeCopy> got = recovery.liveInode(kNumber, kTableBlock, 0, now);
  ASSERT_EQ(got.has_value(), c.fromFastCommit.has_value());
  if (!got) return;
  EXPECT_EQ(got->fastCommit, *c.fromFastCommit);
  const extfmt::Inode n = extfmt::decodeInode(got->raw, false);
  EXPECT_EQ(n.size, c.size);
  ASSERT_EQ(got->raw.size(), kInodeSize);
  if (got->fastCommit) EXPECT_EQ(got->raw[200], 0xAB);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LiveInodeChoice,
    ::testing::Values(ChoiceCase{"OnlyAFastCommit", {std::nullopt, {{7, true}}}, true, 2007},
                      ChoiceCase{"ABlockCopyOfAnEarlierTransaction", {5, {{7, true}}}, true, 2007},
                      ChoiceCase{"ABlockCopyOfTheFastCommitsOwnTransaction", {7, {{7, true}}}, false, 1007},
                      ChoiceCase{"ABlockCopyOfALaterTransaction", {9, {{7, true}}}, false, 1009},
                      ChoiceCase{"TheNewestLiveRecordOfSeveral", {std::nullopt, {{6, true}, {7, true}, {7, false}}}, true,
                                 2007},
                      ChoiceCase{"NoRecordLive", {std::nullopt, {{7, false}}}, std::nullopt, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FastCommitNames, AreGivenToTheirFolderMadeNamesOnly) {
  JournalBuilder j(kBlockSize, 300, ej::kIncompatCsumV3);
  j.fastCommitArea(16, true);
  FastCommitWriter w(kBlockSize);
  w.dentry(Tag::Create, 12, 30, "made.txt")
      .dentry(Tag::Create, 14, 31, "elsewhere.txt")
      .dentry(Tag::Link, 12, 32, "linked.txt")
      .dentry(Tag::Unlink, 12, 30, "made.txt")
      .tail(3);
  j.put(j.ringEnd(), w.blocks());
  ej::JournalIndex index = j.index();
  ej::FastCommitLog log = ej::FastCommitLog::ofJournal(j.reader(), index.superblock(), kInodeSize);
  extfmt::Superblock super;
  super.inodeSize = kInodeSize;
  const extfmt::BlockDevice device{VolumeView(), kBlockSize, 4096};
  const extfmt::JournalRecovery recovery(device, super, std::move(index), std::move(log));
  std::vector<std::string> names;
  recovery.forEachFastCommitName(12, [&](const ej::FastCommitName& n) { names.push_back(n.name); });
  EXPECT_EQ(names, (std::vector<std::string>{"made.txt", "linked.txt"}));
  EXPECT_TRUE(recovery.hasFastCommitNames(14));
  EXPECT_FALSE(recovery.hasFastCommitNames(13));
}

}  // namespace
}  // namespace quorvel
