// The journal reader on hand-made journals: tag layouts under each feature
// set, escaping, the ring's wrap, revocations, transactions torn or
// overwritten, checksums, and journals that lie.
#include <gtest/gtest.h>

#include <string>

#include "fs/ext/JournalBuilder.h"
#include "io/Crc32c.h"

namespace quorvel {
namespace {

namespace ej = extfmt::journal;
using test::JournalBuilder;
using ByteVector = std::vector<std::uint8_t>;

ByteVector readCopy(const ej::JournalIndex& index, const ej::JournalCopy& copy) {
  ByteVector out(index.superblock().blockSize);
  EXPECT_TRUE(index.read(copy, out));
  return out;
}

TEST(Crc32c, MatchesTheCastagnoliCheckValue) {
  const std::string text = "123456789";
  const auto bytes = Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  EXPECT_EQ(crc32cUpdate(~0u, bytes) ^ ~0u, 0xE3069283u);
}

TEST(Crc32c, AgreesWithTheBitwiseDefinitionAtEveryLengthAndAlignment) {
  // Whichever way the sum is computed, words and a tail of odd bytes.
  const auto bitwise = [](std::uint32_t crc, Bytes bytes) {
    for (const std::uint8_t b : bytes) {
      crc ^= b;
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
    }
    return crc;
  };
  ByteVector data(80);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37 + 11);
  for (std::size_t offset = 0; offset < 8; ++offset)
    for (std::size_t length = 0; offset + length <= data.size(); ++length) {
      const Bytes piece = Bytes(data).subspan(offset, length);
      ASSERT_EQ(crc32cUpdate(0x1234567u, piece), bitwise(0x1234567u, piece)) << offset << "+" << length;
    }
  // The iSCSI vectors: 32 bytes of zeros, of ones, counting up.
  ByteVector zeros(32, 0), ones(32, 0xFF), up(32);
  for (std::uint8_t i = 0; i < 32; ++i) up[i] = i;
  EXPECT_EQ(crc32cUpdate(~0u, zeros) ^ ~0u, 0x8A9136AAu);
  EXPECT_EQ(crc32cUpdate(~0u, ones) ^ ~0u, 0x62A8AB43u);
  EXPECT_EQ(crc32cUpdate(~0u, up) ^ ~0u, 0x46DD794Eu);
}

struct FeatureCase {
  const char* name;
  std::uint32_t incompat;
  std::size_t tagBytes;
};

class JournalFeatures : public ::testing::TestWithParam<FeatureCase> {};

TEST_P(JournalFeatures, EveryTagLayoutGivesBackItsBlocksAndData) {
  const FeatureCase& c = GetParam();
  JournalBuilder j(1024, 64, c.incompat);
  const bool wide = c.incompat & ej::kIncompat64Bit;
  const std::uint64_t far = wide ? 0x1'0000'0123ull : 0x123;
  j.transaction(1, 7, {{far, j.filled(0xA1)}, {5, j.filled(0xB2)}, {9, j.filled(0xC3)}}, true, 1'700'000'000);
  const ej::JournalIndex index = j.index();
  ASSERT_TRUE(index.usable()) << index.fault();
  EXPECT_EQ(index.superblock().tagBytes(), c.tagBytes);
  const std::pair<std::uint64_t, std::uint8_t> expected[] = {{far, 0xA1}, {5, 0xB2}, {9, 0xC3}};
  for (const auto& [block, fill] : expected) {
    SCOPED_TRACE(block);
    const auto copies = index.copiesOf(block);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0].sequence, 7u);
    EXPECT_TRUE(copies[0].has(ej::JournalCopy::kCommitted));
    EXPECT_EQ(copies[0].has(ej::JournalCopy::kChecked), index.superblock().checksummed());
    EXPECT_EQ(readCopy(index, copies[0]), j.filled(fill));
  }
  ASSERT_TRUE(index.commitOf(7));
  EXPECT_EQ(index.commitOf(7)->seconds, 1'700'000'000);
}

INSTANTIATE_TEST_SUITE_P(Layouts, JournalFeatures,
                         ::testing::Values(FeatureCase{"Plain", ej::kIncompatRevoke, 8},
                                           FeatureCase{"Wide", ej::kIncompat64Bit, 12},
                                           FeatureCase{"CsumV2", ej::kIncompatCsumV2, 10},
                                           FeatureCase{"WideCsumV2", ej::kIncompat64Bit | ej::kIncompatCsumV2, 14},
                                           FeatureCase{"CsumV3", ej::kIncompatCsumV3, 16},
                                           FeatureCase{"WideCsumV3", ej::kIncompat64Bit | ej::kIncompatCsumV3, 16}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Journal, AnEscapedBlockGetsItsMagicBack) {
  JournalBuilder j(1024, 32, ej::kIncompatCsumV3);
  ByteVector data = j.filled(0x5A);
  data[0] = 0xC0, data[1] = 0x3B, data[2] = 0x39, data[3] = 0x98;
  j.transaction(1, 3, {{40, data}});
  const ej::JournalIndex index = j.index();
  const auto copies = index.copiesOf(40);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_TRUE(copies[0].has(ej::JournalCopy::kEscaped));
  EXPECT_EQ(readCopy(index, copies[0]), data);
}

TEST(Journal, ATransactionAtTheRingsEndRunsOnAtItsStart) {
  JournalBuilder j(1024, 16, ej::kIncompatCsumV3);
  // Descriptor at 14, data at 15 and (wrapped) 1, commit at 2.
  j.transaction(14, 9, {{100, j.filled(1)}, {101, j.filled(2)}});
  const ej::JournalIndex index = j.index();
  ASSERT_EQ(index.copiesOf(101).size(), 1u);
  EXPECT_EQ(index.copiesOf(101)[0].journalBlock, 1u);
  EXPECT_EQ(readCopy(index, index.copiesOf(101)[0]), j.filled(2));
  EXPECT_TRUE(index.commitOf(9));
}

struct FastCommitAreaCase {
  const char* name;
  std::uint32_t count;  // as the superblock stores it
  bool flagged;         // the journal's own flag (cleared at a clean unmount)
  bool volumeFastCommit;
  std::uint32_t ringEnd;
};

class JournalFastCommitArea : public ::testing::TestWithParam<FastCommitAreaCase> {};

TEST_P(JournalFastCommitArea, TheRingWrapsBeforeIt) {
  const FastCommitAreaCase& c = GetParam();
  JournalBuilder j(1024, 300, ej::kIncompatCsumV3);
  j.fastCommitArea(c.count, c.flagged);
  ASSERT_EQ(j.ringEnd(), c.ringEnd);
  // Fast-commit blocks open with no journal magic: read as ring blocks they
  // would pass for the wrapped transaction's data.
  for (std::uint32_t b = c.ringEnd; b < j.size(); ++b) j.block(b) = j.filled(0x77);
  // Descriptor and the first data block at the ring's end, the second data
  // block and the commit at its start.
  j.transaction(c.ringEnd - 2, 9, {{100, j.filled(1)}, {101, j.filled(2)}});
  const ej::JournalIndex index = j.index(c.volumeFastCommit);
  ASSERT_TRUE(index.usable()) << index.fault();
  EXPECT_EQ(index.superblock().logEnd(), c.ringEnd);
  EXPECT_EQ(index.superblock().fastCommitArea(), j.size() - c.ringEnd);
  ASSERT_EQ(index.copiesOf(101).size(), 1u);
  EXPECT_EQ(index.copiesOf(101)[0].journalBlock, 1u);
  EXPECT_EQ(readCopy(index, index.copiesOf(101)[0]), j.filled(2));
  for (const ej::JournalCopy& copy : index.copies()) EXPECT_LT(copy.journalBlock, c.ringEnd);
  EXPECT_TRUE(index.commitOf(9));
}

INSTANTIATE_TEST_SUITE_P(Areas, JournalFastCommitArea,
                         ::testing::Values(FastCommitAreaCase{"FlaggedDefaultSize", 0, true, false, 300 - 256},
                                           FastCommitAreaCase{"FlaggedOwnSize", 32, true, false, 268},
                                           FastCommitAreaCase{"FlagClearedOnAFastCommitVolume", 32, false, true, 268},
                                           // Only the volume says so, and the area would leave no ring: none.
                                           FastCommitAreaCase{"NoRoomForTheAreaTheVolumeNames", 300, false, true, 300}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Journal, OlderCopiesStayAndTheNewestComesFirstAcrossTheSequenceWrap) {
  JournalBuilder j(1024, 32, ej::kIncompatCsumV3);
  std::uint32_t at = j.transaction(1, 0xFFFFFFFE, {{50, j.filled(1)}});
  at = j.transaction(at, 0xFFFFFFFF, {{50, j.filled(2)}});
  j.transaction(at, 0, {{50, j.filled(3)}, {51, j.filled(4)}});
  const ej::JournalIndex index = j.index();
  const auto copies = index.copiesOf(50);
  ASSERT_EQ(copies.size(), 3u);
  EXPECT_EQ(copies[0].sequence, 0u);
  EXPECT_EQ(copies[1].sequence, 0xFFFFFFFFu);
  EXPECT_EQ(copies[2].sequence, 0xFFFFFFFEu);
  EXPECT_EQ(readCopy(index, copies[2]), j.filled(1));
}

TEST(Journal, ATornTransactionKeepsItsCopiesUncommitted) {
  JournalBuilder j(1024, 32, ej::kIncompatCsumV3);
  j.transaction(1, 4, {{60, j.filled(7)}}, false);
  const ej::JournalIndex index = j.index();
  ASSERT_EQ(index.copiesOf(60).size(), 1u);
  EXPECT_FALSE(index.copiesOf(60)[0].has(ej::JournalCopy::kCommitted));
  EXPECT_FALSE(index.commitOf(4));
}

TEST(Journal, BlocksALaterTransactionOverwroteAreNotTakenForTheOlderOnesCopies) {
  // A later log started at block 4 over the tail of transaction 5: its
  // header ends 5's blocks there.
  JournalBuilder j(1024, 32, ej::kIncompatRevoke);
  j.transaction(1, 5, {{10, j.filled(1)}, {11, j.filled(2)}, {12, j.filled(3)}, {13, j.filled(4)}});
  j.transaction(4, 6, {{20, j.filled(9)}});
  const ej::JournalIndex index = j.index();
  EXPECT_EQ(index.copiesOf(10).size(), 1u);
  EXPECT_EQ(index.copiesOf(11).size(), 1u);
  EXPECT_TRUE(index.copiesOf(12).empty());
  EXPECT_TRUE(index.copiesOf(13).empty());
  ASSERT_EQ(index.copiesOf(20).size(), 1u);
}

TEST(Journal, WithChecksumsADataBlockOverwrittenLaterIsNotACopy) {
  JournalBuilder j(1024, 32, ej::kIncompatCsumV3);
  j.transaction(1, 5, {{10, j.filled(1)}, {11, j.filled(2)}});
  j.block(3) = j.filled(0xEE);  // a later write with no header before it
  const ej::JournalIndex index = j.index();
  EXPECT_EQ(index.copiesOf(10).size(), 1u);
  EXPECT_TRUE(index.copiesOf(11).empty());
}

TEST(Journal, RevokeBlocksNameTheirBlocksInBothWidths) {
  for (const std::uint32_t incompat : {ej::kIncompatRevoke, ej::kIncompatRevoke | ej::kIncompat64Bit}) {
    SCOPED_TRACE(incompat);
    JournalBuilder j(1024, 32, incompat);
    const std::uint64_t far = incompat & ej::kIncompat64Bit ? 0x2'0000'0007ull : 7;
    j.revoke(1, 12, {far, 300});
    const ej::JournalIndex index = j.index();
    ASSERT_EQ(index.revocations().size(), 2u);
    EXPECT_EQ(index.revocations()[0].fileSystemBlock, std::min<std::uint64_t>(far, 300));
    EXPECT_EQ(index.revocations()[1].fileSystemBlock, std::max<std::uint64_t>(far, 300));
    EXPECT_EQ(index.revocations()[0].sequence, 12u);
  }
}

// ---- journals that lie

struct LieCase {
  const char* name;
  void (*spoil)(JournalBuilder& j);
  bool usable;
};

void putBe32(ByteVector& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

class JournalLies : public ::testing::TestWithParam<LieCase> {};

TEST_P(JournalLies, AreCutOrRefusedNeverFollowed) {
  JournalBuilder j(1024, 32, ej::kIncompatRevoke);
  j.transaction(1, 5, {{10, j.filled(1)}, {11, j.filled(2)}});
  GetParam().spoil(j);
  const ej::JournalIndex index = j.index();
  EXPECT_EQ(index.usable(), GetParam().usable) << index.fault();
  if (!index.usable()) {
    EXPECT_FALSE(index.fault().empty());
  }
  EXPECT_LE(index.copies().size(), j.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JournalLies,
    ::testing::Values(
        LieCase{"LongerThanItsFile", [](JournalBuilder& j) { putBe32(j.block(0), 0x10, 1u << 30); }, false},
        LieCase{"OtherBlockSize", [](JournalBuilder& j) { putBe32(j.block(0), 0x0C, 4096); }, false},
        LieCase{"LogStartsPastItsEnd", [](JournalBuilder& j) { putBe32(j.block(0), 0x14, 40); }, false},
        LieCase{"NoSuperblock", [](JournalBuilder& j) { j.block(0).assign(1024, 0); }, false},
        LieCase{"UnknownFeature", [](JournalBuilder& j) { putBe32(j.block(0), 0x28, 0x8000); }, false},
        LieCase{"RevokeCountPastItsBlock",
                [](JournalBuilder& j) {
                  j.revoke(20, 6, {1, 2});
                  putBe32(j.block(20), 12, 0xFFFFFFF0);
                },
                true},
        LieCase{"TagsThatNeverEnd",
                [](JournalBuilder& j) {
                  // Every tag without LAST_TAG, all the block long.
                  ByteVector& d = j.block(1);
                  for (std::size_t at = 12 + 8 + 16; at + 8 <= d.size(); at += 8) {
                    putBe32(d, at, 10);
                    d[at + 7] = ej::kTagSameUuid;
                  }
                },
                true},
        LieCase{"EveryBlockTheSameDescriptor",
                [](JournalBuilder& j) {
                  for (std::uint32_t i = 2; i < j.size(); ++i) j.block(i) = j.block(1);
                },
                true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
