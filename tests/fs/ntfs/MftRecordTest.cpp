#include <gtest/gtest.h>

#include <functional>

#include "fs/ntfs/MftRecord.h"
#include "fs/ntfs/NtfsBuilders.h"

namespace quorvel::ntfsfmt {
namespace {

using test::ByteVector;
using test::RecordBuilder;

// A record whose resident data runs across every stride end, so a missed
// fix-up shows in the value.
ByteVector patternRecord(std::uint32_t size, ByteVector& pattern) {
  pattern.resize(size - 0x100);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return RecordBuilder(size).standardInformation(1, 2, 3).residentData(pattern).build();
}

TEST(NtfsFixups, RestoreEveryStrideOfTheRecordSize) {
  for (const std::uint32_t size : {512u, 1024u, 4096u}) {
    SCOPED_TRACE(size);
    ByteVector pattern;
    ByteVector record = patternRecord(size, pattern);
    ByteVector copy = record;
    EXPECT_EQ(applyFixups(copy), size);
    const std::optional<RecordImage> image = prepareRecord(record);
    ASSERT_TRUE(image);
    std::vector<AttributeHeader> attributes;
    ASSERT_TRUE(collectAttributeHeaders(*image, attributes));
    ASSERT_EQ(attributes.size(), 2u);
    const Bytes value = residentValue(*image, attributes[1]);
    EXPECT_TRUE(std::equal(value.begin(), value.end(), pattern.begin(), pattern.end()));
  }
}

TEST(NtfsFixups, TornStrideKeepsOnlyTheStridesBeforeIt) {
  struct Case {
    std::uint32_t tornStride;  // 1-based
    std::uint32_t usable;
  };
  for (const Case c : {Case{1, 0}, Case{2, 512}, Case{4, 1536}, Case{8, 3584}}) {
    SCOPED_TRACE(c.tornStride);
    ByteVector pattern;
    ByteVector record = patternRecord(4096, pattern);
    // A stride from an older write does not end in the sequence number.
    test::putLe16(record, c.tornStride * 512 - 2, 0x1234);
    EXPECT_EQ(applyFixups(record), c.usable);
  }
}

TEST(NtfsFixups, TornSecondStrideHidesTheAttributesBehindIt) {
  ByteVector big(600, 0x55);
  ByteVector record = RecordBuilder(1024).standardInformation(1, 2, 3).residentData(big).build();
  test::putLe16(record, 1022, 0x1234);
  const std::optional<RecordImage> image = prepareRecord(record);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->bytes.size(), 512u);
  std::vector<AttributeHeader> attributes;
  EXPECT_FALSE(collectAttributeHeaders(*image, attributes));
  ASSERT_EQ(attributes.size(), 1u);
  EXPECT_EQ(attributes[0].type, kStandardInformation);
}

TEST(NtfsFixups, UnusableSequenceArrayLeavesNothingUsable) {
  const std::vector<std::pair<const char*, std::function<void(ByteVector&)>>> spoilers = {
      {"count 0", [](ByteVector& r) { test::putLe16(r, 6, 0); }},
      {"odd offset", [](ByteVector& r) { test::putLe16(r, 4, 0x31); }},
      {"array past the end", [](ByteVector& r) { test::putLe16(r, 4, 1020); }},
      {"offset inside the signature", [](ByteVector& r) { test::putLe16(r, 4, 2); }},
  };
  for (const auto& [name, spoil] : spoilers) {
    SCOPED_TRACE(name);
    ByteVector record = RecordBuilder(1024).standardInformation(1, 2, 3).build();
    spoil(record);
    EXPECT_EQ(applyFixups(record), 0u);
    EXPECT_FALSE(prepareRecord(record));
  }
}

TEST(NtfsFixups, ShortArrayCoversOnlyItsStrides) {
  ByteVector record = RecordBuilder(1024).standardInformation(1, 2, 3).build();
  test::putLe16(record, 6, 2);  // sequence word plus one stride
  EXPECT_EQ(applyFixups(record), 512u);
}

TEST(NtfsRecordStart, NeedsTheSignatureAndHeaderOffsetsInsideTheSector) {
  ByteVector record = RecordBuilder(1024).standardInformation(1, 2, 3).build();
  EXPECT_TRUE(looksLikeRecordStart(record));
  for (const std::size_t field : {4u, 6u, 0x14u}) {
    ByteVector spoiled = record;
    test::putLe16(spoiled, field, 0x200);
    EXPECT_FALSE(looksLikeRecordStart(spoiled)) << field;
  }
  ByteVector notFile = record;
  notFile[0] = 'B';
  EXPECT_FALSE(looksLikeRecordStart(notFile));
}

TEST(NtfsRecordHeaders, RejectFirstAttributeOutsideTheRecord) {
  for (const std::uint16_t first : {0x10, 0x400, 0xFFFF}) {
    ByteVector record = RecordBuilder(1024).standardInformation(1, 2, 3).build();
    test::putLe16(record, 0x14, first);
    EXPECT_FALSE(prepareRecord(record)) << first;
  }
}

// The second attribute of the record is spoiled; the walk must keep the
// first and stop without reading outside the record.
TEST(NtfsAttributeWalk, StopsAtTheFirstAttributeThatDoesNotFit) {
  const ByteVector base = RecordBuilder(1024).standardInformation(1, 2, 3).fileName(5, 5, u"name.txt").build();
  ByteVector probe = base;
  const std::optional<RecordImage> image = prepareRecord(probe);
  ASSERT_TRUE(image);
  std::vector<AttributeHeader> attributes;
  ASSERT_TRUE(collectAttributeHeaders(*image, attributes));
  ASSERT_EQ(attributes.size(), 2u);
  const std::size_t second = attributes[1].offset;

  const std::vector<std::pair<const char*, std::function<void(ByteVector&)>>> spoilers = {
      {"zero length", [&](ByteVector& r) { test::putLe32(r, second + 4, 0); }},
      {"length past the record", [&](ByteVector& r) { test::putLe32(r, second + 4, 0x10000); }},
      {"length below its header", [&](ByteVector& r) { test::putLe32(r, second + 4, 0x10); }},
      {"huge length wrapping", [&](ByteVector& r) { test::putLe32(r, second + 4, 0xFFFFFFF8); }},
      {"value past the attribute", [&](ByteVector& r) { test::putLe32(r, second + 0x10, 0x200); }},
      {"value offset past the attribute", [&](ByteVector& r) { test::putLe16(r, second + 0x14, 0x300); }},
      {"value offset inside the header", [&](ByteVector& r) { test::putLe16(r, second + 0x14, 0x08); }},
      {"name past the attribute", [&](ByteVector& r) { r[second + 9] = 200; }},
      {"resident value flagged non-resident", [&](ByteVector& r) { r[second + 8] = 1; }},
  };
  for (const auto& [name, spoil] : spoilers) {
    SCOPED_TRACE(name);
    ByteVector record = base;
    // Spoil after the fix-ups so the change is what the walk sees.
    std::optional<RecordImage> fixed = prepareRecord(record);
    ASSERT_TRUE(fixed);
    spoil(record);
    EXPECT_FALSE(collectAttributeHeaders(*fixed, attributes));
    ASSERT_EQ(attributes.size(), 1u);
    EXPECT_EQ(attributes[0].type, kStandardInformation);
  }
}

TEST(NtfsAttributeWalk, NonResidentRunListOffsetMustLieInsideTheAttribute) {
  test::NonResidentSpec data;
  data.runList = test::encodeRuns({{2, 40}});
  data.lastVcn = 1;
  ByteVector record = RecordBuilder(1024).nonResidentData(data).build();
  std::optional<RecordImage> image = prepareRecord(record);
  ASSERT_TRUE(image);
  std::vector<AttributeHeader> attributes;
  ASSERT_TRUE(collectAttributeHeaders(*image, attributes));
  ASSERT_EQ(attributes.size(), 1u);
  EXPECT_EQ(runListBytes(*image, attributes[0])[0], 0x11);

  for (const std::uint16_t offset : {0x10, 0x1000}) {
    // A fresh record: preparing one applies its fix-ups in place.
    ByteVector spoiled = RecordBuilder(1024).nonResidentData(data).build();
    std::optional<RecordImage> fixed = prepareRecord(spoiled);
    ASSERT_TRUE(fixed);
    test::putLe16(spoiled, attributes[0].offset + 0x20, offset);
    EXPECT_FALSE(collectAttributeHeaders(*fixed, attributes)) << offset;
    EXPECT_TRUE(attributes.empty());
  }
}

TEST(NtfsAttributeWalk, MissingEndMarkerEndsAtTheRecordEnd) {
  ByteVector record = RecordBuilder(1024).standardInformation(1, 2, 3).build();
  std::optional<RecordImage> image = prepareRecord(record);
  ASSERT_TRUE(image);
  std::vector<AttributeHeader> attributes;
  ASSERT_TRUE(collectAttributeHeaders(*image, attributes));
  // Fill everything behind the attribute with a valid-looking tiny attribute
  // chain that never ends: the walk must end at the record's end.
  for (std::size_t at = attributes[0].offset + attributes[0].length; at + 0x18 <= 1024; at += 0x18) {
    test::putLe32(record, at, 0x40);
    test::putLe32(record, at + 4, 0x18);
    test::putLe16(record, at + 0x14, 0x18);
  }
  EXPECT_FALSE(collectAttributeHeaders(*image, attributes));
  EXPECT_GT(attributes.size(), 30u);
}

}  // namespace
}  // namespace quorvel::ntfsfmt
