#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "fs/ntfs/NtfsBuilders.h"

namespace quorvel::test {
namespace {

class NtfsRowTexts : public testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

NonResidentSpec sparseOf(std::uint64_t bytes) {
  const std::uint64_t clusters = (bytes + 4095) / 4096;
  NonResidentSpec s;
  s.runList = encodeRuns({{clusters, -1}});
  s.lastVcn = clusters - 1;
  s.allocatedSize = clusters * 4096;
  s.realSize = s.initializedSize = bytes;
  return s;
}

TEST_F(NtfsRowTexts, SizeTextsInPowersOf1024) {
  struct Case {
    std::uint64_t bytes;
    const char* text;
  };
  const Case cases[] = {{0, "0 Bytes"},           {1023, "1023 Bytes"},         {1024, "1.00 KB"},
                        {1536, "1.50 KB"},        {1048575, "1024.00 KB"},      {1048576, "1.00 MB"},
                        {5u << 20, "5.00 MB"},    {3ull << 30, "3.00 GB"},      {(3ull << 30) + (1ull << 29), "3.50 GB"}};
  TestVolume volume;
  volume.addSystemRecords();
  std::uint32_t number = 11;
  for (const Case& c : cases) {
    RecordBuilder b;
    b.fileName(5, 5, u"f" + std::u16string(1, static_cast<char16_t>('a' + number - 11)));
    if (c.bytes < 600)
      b.residentData(ByteVector(c.bytes, 'z'));
    else
      b.nonResidentData(sparseOf(c.bytes));
    volume.setRecord(number++, b.build());
  }
  const auto v = scanImage(volume.image());
  number = 11;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(v->parser->size(number), c.bytes);
    EXPECT_EQ(v->parser->formatSize(number), c.text);
    ++number;
  }
}

TEST_F(NtfsRowTexts, TimesComeFromStandardInformationInClockOrder) {
  TestVolume volume;
  volume.addSystemRecords();
  const std::uint64_t created = windowsTime(2021, 3, 4, 12, 30);
  const std::uint64_t accessed = windowsTime(2021, 3, 4, 13, 5);
  const std::uint64_t modified = windowsTime(1999, 12, 31, 0, 15);
  volume.setRecord(11, RecordBuilder().standardInformation(created, modified, accessed).fileName(5, 5, u"t.txt").build());
  const auto v = scanImage(volume.image());
  const quorvel::RowTexts row = v->parser->formatRow(11);
  EXPECT_EQ(row.created, "03/04/2021  12:30 PM");
  EXPECT_EQ(row.accessed, "03/04/2021  01:05 PM");
  EXPECT_EQ(row.modified, "12/31/1999  12:15 AM");

  const EntryTimes times = v->parser->times(11);
  ASSERT_TRUE(times.created && times.accessed && times.modified);
  EXPECT_EQ(times.created->seconds, 1614861000);
  EXPECT_EQ(times.accessed->seconds, 1614863100);
  EXPECT_EQ(times.modified->seconds, 946599300);
}

TEST_F(NtfsRowTexts, MissingTimesAreEmpty) {
  TestVolume volume;
  volume.addSystemRecords();
  volume.setRecord(11, RecordBuilder().fileName(5, 5, u"no times").build());
  const auto v = scanImage(volume.image());
  const quorvel::RowTexts row = v->parser->formatRow(11);
  EXPECT_EQ(row.created, "");
  EXPECT_FALSE(v->parser->times(11).modified);
  const quorvel::RowTexts orphanRow = v->parser->formatRow(v->find("ORPHAN_ENTRY"));
  EXPECT_EQ(orphanRow.modified, "");
  EXPECT_EQ(orphanRow.attributes, "");
}

TEST_F(NtfsRowTexts, AttributeLettersInTheirFixedOrder) {
  struct Case {
    std::uint32_t flags;
    const char* letters;
  };
  const Case cases[] = {{0, ""},          {0x20, "-A"},        {0x1 | 0x20, "-R-A"},
                        {0x4000 | 0x800 | 0x200 | 0x20 | 0x2 | 0x1, "-R-H-S-A-C-E"},
                        {0x4, ""},        {0x10000002, "-H"}};
  TestVolume volume;
  volume.addSystemRecords();
  std::uint32_t number = 11;
  for (const Case& c : cases) {
    volume.setRecord(number, RecordBuilder().fileName(5, 5, u"x" + std::u16string(1, static_cast<char16_t>('a' + number)), 1, c.flags)
                                 .build());
    ++number;
  }
  // With two names, the later file-name attribute's flags count.
  volume.setRecord(number, RecordBuilder().fileName(5, 5, u"LONG~1", 2, 0x1).fileName(5, 5, u"long name", 1, 0x20).build());
  const auto v = scanImage(volume.image());
  number = 11;
  for (const Case& c : cases) EXPECT_EQ(v->parser->formatRow(number++).attributes, c.letters) << c.flags;
  EXPECT_EQ(v->parser->formatRow(number).attributes, "-A");
}

}  // namespace
}  // namespace quorvel::test
