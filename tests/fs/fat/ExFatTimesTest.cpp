// exFAT entry times: UTC offsets where the entry records a valid one, local
// time where not, 10 ms increments; the list shows the fields as recorded.
#include <gtest/gtest.h>

#include "fs/fat/ExFatBuilders.h"

namespace quorvel::test {
namespace {

std::unique_ptr<ScannedFat> scanSets(const std::vector<ExFatEntrySet>& sets) {
  ExFatVolume volume(600, 3);  // one 4 KiB root cluster
  ExFatDirectory root;
  for (const ExFatEntrySet& s : sets) root.set(s);
  volume.writeRoot(root);
  auto v = scanExFat(volume);
  EXPECT_TRUE(v->scanned);
  return v;
}

ExFatEntrySet stamped(const std::u16string& name, std::uint32_t stamp, std::uint8_t offset) {
  ExFatEntrySet e = exFile(name, 0, 0);
  e.created = e.modified = e.accessed = stamp;
  e.createdUtcOffset = e.modifiedUtcOffset = e.accessedUtcOffset = offset;
  return e;
}

TEST(ExFatTimes, AValidUtcOffsetPlacesTheFieldsInTime) {
  // The reader's zone must not matter when the entry says where it was written.
  TimeZoneGuard zone("QRV-2");
  const struct {
    const char* what;
    int quarters;
  } cases[] = {
      {"UTC", 0},
      {"one hour east", 4},
      {"one hour west", -4},
      {"5:45 east", 23},
      {"12 hours west", -48},
      {"15:45 east, the most", 63},
      {"16 hours west, the most", -64},
  };
  std::vector<ExFatEntrySet> sets;
  for (const auto& c : cases) {
    const std::string what = c.what;
    sets.push_back(
        stamped(std::u16string(what.begin(), what.end()), exFatStamp(2023, 7, 15, 13, 5, 8), utcOffset(c.quarters)));
  }
  const auto v = scanSets(sets);
  const std::vector<EntryId> ids = v->parser->topEntries();
  ASSERT_EQ(ids.size(), std::size(cases));
  for (std::size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    const FileTime expected{unixTime(2023, 7, 15, 13, 5, 8) - cases[i].quarters * 15 * 60, 0};
    const EntryTimes t = v->parser->times(ids[i]);
    EXPECT_EQ(t.created, expected);
    EXPECT_EQ(t.modified, expected);
    EXPECT_EQ(t.accessed, expected);
  }
}

TEST(ExFatTimes, EachTimestampTakesItsOwnOffset) {
  TimeZoneGuard zone("QRV+3");  // three hours west
  ExFatEntrySet e = exFile(u"three.txt", 0, 0);
  e.created = exFatStamp(2020, 3, 1, 10, 0, 0);
  e.modified = exFatStamp(2021, 4, 2, 11, 30, 0);
  e.accessed = exFatStamp(2022, 5, 3, 12, 0, 0);
  e.createdUtcOffset = utcOffset(8);     // +2:00
  e.modifiedUtcOffset = utcOffset(-20);  // -5:00
  e.accessedUtcOffset = 0x00;            // local
  const auto v = scanSets({e});
  const EntryTimes t = v->parser->times(v->find("three.txt"));
  EXPECT_EQ(t.created, (FileTime{unixTime(2020, 3, 1, 8, 0, 0), 0}));
  EXPECT_EQ(t.modified, (FileTime{unixTime(2021, 4, 2, 16, 30, 0), 0}));
  EXPECT_EQ(t.accessed, (FileTime{unixTime(2022, 5, 3, 15, 0, 0), 0}));
}

TEST(ExFatTimes, WithoutAValidOffsetTheFieldsAreLocalTime) {
  // Bit 7 clear: whatever the other bits say, the reader's zone applies.
  ExFatEntrySet e = exFile(u"local.txt", 0, 0);
  e.created = exFatStamp(2023, 7, 15, 13, 5, 8);
  e.modified = exFatStamp(2024, 1, 2, 0, 10, 30);
  e.accessed = exFatStamp(2024, 1, 2, 0, 10, 30);
  e.createdUtcOffset = 0x00;
  e.modifiedUtcOffset = 0x04;
  e.accessedUtcOffset = 0x7F;
  TimeZoneGuard zone("UTC0");
  const struct {
    const char* zone;
    std::int64_t julyOffset, januaryOffset;  // seconds to add to the local time for UTC
  } cases[] = {
      {"UTC0", 0, 0},
      {"QRV-2", -7200, -7200},
      {"EST5EDT,M3.2.0,M11.1.0", 4 * 3600, 5 * 3600},
      {"IST-5:30", -5 * 3600 - 1800, -5 * 3600 - 1800},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zone);
    zone.set(c.zone);
    const auto v = scanSets({e});
    const EntryId id = v->find("local.txt");
    ASSERT_NE(id, kNoEntry);
    const EntryTimes t = v->parser->times(id);
    EXPECT_EQ(t.created, (FileTime{unixTime(2023, 7, 15, 13, 5, 8) + c.julyOffset, 0}));
    EXPECT_EQ(t.modified, (FileTime{unixTime(2024, 1, 2, 0, 10, 30) + c.januaryOffset, 0}));
    EXPECT_EQ(t.accessed, (FileTime{unixTime(2024, 1, 2, 0, 10, 30) + c.januaryOffset, 0}));
  }
}

TEST(ExFatTimes, TenMillisecondIncrementsAddUpToTwoSeconds) {
  TimeZoneGuard zone("UTC0");
  const struct {
    std::uint8_t increments;
    std::int64_t seconds;
    std::uint32_t nanoseconds;
  } cases[] = {{0, 0, 0},   {1, 0, 10'000'000}, {99, 0, 990'000'000}, {100, 1, 0}, {199, 1, 990'000'000},
               {200, 0, 0}, {255, 0, 0}};
  std::vector<ExFatEntrySet> sets;
  for (const auto& c : cases) {
    ExFatEntrySet e =
        stamped(u"t" + std::u16string(1, char16_t(u'A' + sets.size())), exFatStamp(2001, 2, 3, 4, 5, 6), utcOffset(0));
    e.created10ms = c.increments;
    e.modified10ms = c.increments;
    sets.push_back(e);
  }
  for (const bool local : {false, true}) {
    SCOPED_TRACE(local ? "local" : "with offset");
    if (local)
      for (ExFatEntrySet& e : sets) e.createdUtcOffset = e.modifiedUtcOffset = e.accessedUtcOffset = 0;
    const auto v = scanSets(sets);
    const std::vector<EntryId> ids = v->parser->topEntries();
    ASSERT_EQ(ids.size(), std::size(cases));
    for (std::size_t i = 0; i < ids.size(); ++i) {
      SCOPED_TRACE(static_cast<int>(cases[i].increments));
      const std::int64_t base = unixTime(2001, 2, 3, 4, 5, 6);
      const EntryTimes t = v->parser->times(ids[i]);
      EXPECT_EQ(t.created, (FileTime{base + cases[i].seconds, cases[i].nanoseconds}));
      EXPECT_EQ(t.modified, (FileTime{base + cases[i].seconds, cases[i].nanoseconds}));
      EXPECT_EQ(t.accessed, (FileTime{base, 0}));  // the access time has no finer part
    }
  }
}

TEST(ExFatTimes, FieldsThatNameNoTimeGiveNone) {
  TimeZoneGuard zone("UTC0");
  const std::uint32_t good = exFatStamp(2010, 6, 7, 8, 9, 10);
  const struct {
    const char* what;
    std::uint32_t stamp;
  } cases[] = {
      {"zero", 0},
      {"month 0", good & ~(0x0Fu << 21)},
      {"month 13", (good & ~(0x0Fu << 21)) | (13u << 21)},
      {"day 0", good & ~(0x1Fu << 16)},
      {"hour 24", (good & ~(0x1Fu << 11)) | (24u << 11)},
      {"minute 60", (good & ~(0x3Fu << 5)) | (60u << 5)},
      {"second 60", (good & ~0x1Fu) | 30u},
  };
  std::vector<ExFatEntrySet> sets;
  for (const auto& c : cases) {
    const std::string what = c.what;
    for (const std::uint8_t offset : {utcOffset(4), std::uint8_t{0}}) {
      ExFatEntrySet e =
          stamped(std::u16string(what.begin(), what.end()) + (offset ? u" utc" : u" local"), c.stamp, offset);
      sets.push_back(e);
    }
  }
  const auto v = scanSets(sets);
  for (EntryId id : v->parser->topEntries()) {
    SCOPED_TRACE(v->parser->name(id));
    const EntryTimes t = v->parser->times(id);
    EXPECT_FALSE(t.created.has_value());
    EXPECT_FALSE(t.modified.has_value());
    EXPECT_FALSE(t.accessed.has_value());
  }
  EXPECT_EQ(v->parser->topEntries().size(), 2 * std::size(cases));
}

TEST(ExFatTimes, TheListShowsTheFieldsAsRecorded) {
  // Neither the offset nor the reader's zone moves the texts.
  TimeZoneGuard zone("QRV-2");
  ExFatEntrySet e = exFile(u"row.txt", 0, 0);
  e.created = exFatStamp(2023, 7, 15, 13, 5, 8);
  e.accessed = exFatStamp(2024, 2, 29, 12, 30, 0);
  e.modified = exFatStamp(2024, 1, 2, 0, 10, 30);
  e.createdUtcOffset = utcOffset(-20);
  e.accessedUtcOffset = utcOffset(36);
  e.modifiedUtcOffset = 0;
  e.attributes = 0x27;
  ExFatEntrySet late = stamped(u"late.txt", exFatStamp(1999, 12, 31, 23, 59, 58), utcOffset(0));
  const auto v = scanSets({e, late});
  const RowTexts row = v->parser->formatRow(v->find("row.txt"));
  EXPECT_EQ(row.created, "07/15/2023  01:05 PM");
  EXPECT_EQ(row.accessed, "02/29/2024  12:30 PM");
  EXPECT_EQ(row.modified, "01/02/2024  12:10 AM");
  EXPECT_EQ(row.attributes, "-R-H-S-A");
  EXPECT_EQ(v->parser->formatRow(v->find("late.txt")).modified, "12/31/1999  11:59 PM");
}

TEST(ExFatTimes, TheAttributeTextNamesTheLowByteFlags) {
  TimeZoneGuard zone("UTC0");
  const struct {
    std::uint16_t attributes;
    const char* text;
  } cases[] = {{0x0000, ""},     {0x0001, "-R"}, {0x0002, "-H"},       {0x0004, "-S"}, {0x0020, "-A"},
               {0x0021, "-R-A"}, {0x0010, ""},   {0x0037, "-R-H-S-A"}, {0x0120, "-A"}, {0xFF00, ""}};
  std::vector<ExFatEntrySet> sets;
  for (const auto& c : cases) {
    ExFatEntrySet e = exFile(u"a" + std::u16string(1, char16_t(u'A' + sets.size())), 0, 0);
    e.attributes = c.attributes;
    sets.push_back(e);
  }
  const auto v = scanSets(sets);
  const std::vector<EntryId> ids = v->parser->topEntries();
  ASSERT_EQ(ids.size(), std::size(cases));
  for (std::size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(cases[i].attributes);
    EXPECT_EQ(v->parser->formatRow(ids[i]).attributes, cases[i].text);
  }
}

}  // namespace
}  // namespace quorvel::test
