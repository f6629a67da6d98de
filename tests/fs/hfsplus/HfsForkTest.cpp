// A fork's extents: its own eight, then the overflow records in start-block
// order, never looping and never more than the fork's total.
#include <gtest/gtest.h>

#include "fs/hfsplus/HfsFork.h"

namespace quorvel::test {
namespace {

using namespace hfsfmt;

ExtentsRecord overflowRecord(std::uint32_t startBlock, std::vector<Extent> extents, std::uint8_t fork = kDataFork,
                             std::uint32_t fileId = 30) {
  ExtentsRecord r;
  r.forkType = fork;
  r.fileId = fileId;
  r.startBlock = startBlock;
  std::copy(extents.begin(), extents.end(), r.extents.begin());
  return r;
}

ForkData eightSingleBlocks(std::uint32_t total) {
  ForkData f;
  f.totalBlocks = total;
  for (std::uint32_t i = 0; i < 8; ++i) f.extents[i] = {100 + 2 * i, 1};
  return f;
}

std::uint64_t blocksIn(const std::vector<Extent>& extents) {
  std::uint64_t n = 0;
  for (const Extent& e : extents) n += e.blockCount;
  return n;
}

TEST(HfsForkExtents, OverflowRecordsCarryOnInStartBlockOrder) {
  struct Case {
    const char* what;
    std::uint32_t total;
    std::vector<ExtentsRecord> records;
    std::uint64_t blocks;
    std::vector<Extent> tail;  // the extents after the first eight
  };
  const Case cases[] = {
      {"no overflow needed", 8, {}, 8, {}},
      {"one record", 12, {overflowRecord(8, {{500, 4}})}, 12, {{500, 4}}},
      {"two records", 14, {overflowRecord(10, {{600, 4}}), overflowRecord(8, {{500, 2}})}, 14, {{500, 2}, {600, 4}}},
      {"record missing", 12, {overflowRecord(9, {{500, 4}})}, 8, {}},
      {"resource fork only", 12, {overflowRecord(8, {{500, 4}}, 0xFF)}, 8, {}},
      {"another file's", 12, {overflowRecord(8, {{500, 4}}, kDataFork, 31)}, 8, {}},
      {"adds nothing: points at itself", 12, {overflowRecord(8, {{0, 0}})}, 8, {}},
      {"more than the total, cut", 10, {overflowRecord(8, {{500, 4}})}, 10, {{500, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExtentsOverflow overflow;
    for (const ExtentsRecord& r : c.records) overflow.add(r);
    const std::vector<Extent> extents = forkExtents(30, eightSingleBlocks(c.total), &overflow);
    EXPECT_EQ(blocksIn(extents), c.blocks);
    ASSERT_GE(extents.size(), 8u);
    EXPECT_EQ(std::vector<Extent>(extents.begin() + 8, extents.end()), c.tail);
  }
}

TEST(HfsForkExtents, ADataForkRecordIsNotReplacedByAResourceForkOneAtTheSameBlock) {
  ExtentsOverflow overflow;
  overflow.add(overflowRecord(8, {{500, 4}}));
  overflow.add(overflowRecord(8, {{900, 4}}, 0xFF));
  const std::vector<Extent> extents = forkExtents(30, eightSingleBlocks(12), &overflow);
  ASSERT_EQ(extents.size(), 9u);
  EXPECT_EQ(extents.back(), (Extent{500, 4}));
}

TEST(HfsForkExtents, ExtentsEndAtTheFirstEmptyOne) {
  ForkData f;
  f.totalBlocks = 5;
  f.extents[0] = {100, 3};
  f.extents[2] = {200, 2};  // behind an empty extent: not the fork's
  EXPECT_EQ(forkExtents(30, f, nullptr), (std::vector<Extent>{{100, 3}}));
}

}  // namespace
}  // namespace quorvel::test
