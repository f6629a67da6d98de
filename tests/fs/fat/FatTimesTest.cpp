// Entry times: DOS fields are local wall-clock times, made into UTC points
// for saving and shown as recorded in the list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "fs/fat/FatBuilders.h"

namespace quorvel::test {
namespace {

using fatfmt::FatWidth;

// Pins the time zone for a test and puts the old one back.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old, hadOld_ = true;
    set(zone);
  }
  ~ZoneGuard() {
    if (hadOld_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  void set(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  std::string old_;
  bool hadOld_ = false;
};

ShortSlot timed(const std::string& name11, std::uint16_t date, std::uint16_t time, std::uint8_t tenths = 0) {
  ShortSlot e;
  e.name = name11;
  e.creationDate = date;
  e.creationTime = time;
  e.creationTenths = tenths;
  e.writeDate = date;
  e.writeTime = time;
  e.accessDate = date;
  return e;
}

std::unique_ptr<ScannedFat> scanEntries(const std::vector<ShortSlot>& entries) {
  FatVolume volume(FatWidth::Fat12, 200);
  Directory root;
  for (const ShortSlot& e : entries) root.entry(e);
  volume.writeRoot(root);
  auto v = scanFat(volume);
  EXPECT_TRUE(v->scanned);
  return v;
}

TEST(FatTimes, LocalFieldsBecomeUtcInTheZoneTheVolumeIsReadIn) {
  ShortSlot e;
  e.name = "TIMES   TXT";
  e.creationDate = dosDate(2023, 7, 15);
  e.creationTime = dosTime(13, 5, 8);
  e.creationTenths = 150;
  e.writeDate = dosDate(2024, 1, 2);
  e.writeTime = dosTime(0, 10, 30);
  e.accessDate = dosDate(2024, 2, 29);
  ZoneGuard zone("UTC0");
  struct Case {
    const char* zone;
    std::int64_t julyOffset, januaryOffset;  // seconds to add to the local time for UTC
  };
  const Case cases[] = {
      {"UTC0", 0, 0},
      {"QRV-2", -7200, -7200},                             // two hours east
      {"EST5EDT,M3.2.0,M11.1.0", 4 * 3600, 5 * 3600},      // summer time in July only
      {"IST-5:30", -5 * 3600 - 1800, -5 * 3600 - 1800},    // half-hour offsets
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zone);
    zone.set(c.zone);
    const auto v = scanEntries({e});
    const EntryId id = v->find("TIMES.TXT");
    ASSERT_NE(id, kNoEntry);
    const EntryTimes t = v->parser->times(id);
    ASSERT_TRUE(t.created && t.modified && t.accessed);
    EXPECT_EQ(*t.created, (FileTime{unixTime(2023, 7, 15, 13, 5, 8) + 1 + c.julyOffset, 500'000'000}));
    EXPECT_EQ(*t.modified, (FileTime{unixTime(2024, 1, 2, 0, 10, 30) + c.januaryOffset, 0}));
    EXPECT_EQ(*t.accessed, (FileTime{unixTime(2024, 2, 29, 0, 0, 0) + c.januaryOffset, 0}));
  }
}

TEST(FatTimes, CreationKeepsItsHundredths) {
  ZoneGuard zone("UTC0");
  const struct {
    std::uint8_t tenths;
    std::int64_t seconds;
    std::uint32_t nanoseconds;
  } cases[] = {{0, 0, 0}, {1, 0, 10'000'000}, {99, 0, 990'000'000}, {100, 1, 0}, {199, 1, 990'000'000}, {200, 0, 0},
               {255, 0, 0}};
  std::vector<ShortSlot> entries;
  for (const auto& c : cases) {
    char name[12];
    std::snprintf(name, sizeof name, "T%03d    TXT", c.tenths);
    entries.push_back(timed(name, dosDate(2001, 2, 3), dosTime(4, 5, 6), c.tenths));
  }
  const auto v = scanEntries(entries);
  const std::vector<EntryId> ids = v->parser->topEntries();
  ASSERT_EQ(ids.size(), std::size(cases));
  for (std::size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(static_cast<int>(cases[i].tenths));
    const EntryTimes t = v->parser->times(ids[i]);
    ASSERT_TRUE(t.created && t.modified);
    EXPECT_EQ(*t.created, (FileTime{unixTime(2001, 2, 3, 4, 5, 6) + cases[i].seconds, cases[i].nanoseconds}));
    EXPECT_EQ(*t.modified, (FileTime{unixTime(2001, 2, 3, 4, 5, 6), 0}));  // the write time has no finer part
  }
}

TEST(FatTimes, FieldsThatNameNoTimeGiveNone) {
  ZoneGuard zone("UTC0");
  const std::uint16_t goodDate = dosDate(2010, 6, 7);
  const std::uint16_t goodTime = dosTime(8, 9, 10);
  const struct {
    const char* name11;
    std::uint16_t date, time;
    bool valid;
  } cases[] = {
      {"ZERO    TXT", 0, 0, false},
      {"MONTH0  TXT", static_cast<std::uint16_t>(goodDate & ~0x01E0), goodTime, false},
      {"MONTH13 TXT", static_cast<std::uint16_t>((goodDate & ~0x01E0) | (13 << 5)), goodTime, false},
      {"MONTH15 TXT", static_cast<std::uint16_t>(goodDate | 0x01E0), goodTime, false},
      {"DAY0    TXT", static_cast<std::uint16_t>(goodDate & ~0x001F), goodTime, false},
      {"HOUR24  TXT", goodDate, static_cast<std::uint16_t>((goodTime & 0x07FF) | (24 << 11)), false},
      {"MINUTE60TXT", goodDate, static_cast<std::uint16_t>((goodTime & ~0x07E0) | (60 << 5)), false},
      {"SECOND60TXT", goodDate, static_cast<std::uint16_t>((goodTime & ~0x001F) | 30), false},
      {"FIRST   TXT", dosDate(1980, 1, 1), dosTime(0, 0, 0), true},
      {"LAST    TXT", dosDate(2107, 12, 31), dosTime(23, 59, 58), true},
  };
  std::vector<ShortSlot> entries;
  for (const auto& c : cases) entries.push_back(timed(c.name11, c.date, c.time));
  const auto v = scanEntries(entries);
  const std::vector<EntryId> ids = v->parser->topEntries();
  ASSERT_EQ(ids.size(), std::size(cases));
  for (std::size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(cases[i].name11);
    const EntryTimes t = v->parser->times(ids[i]);
    EXPECT_EQ(t.created.has_value(), cases[i].valid);
    EXPECT_EQ(t.modified.has_value(), cases[i].valid);
  }
  // The access column has a date only: a bad time beside it does not matter.
  EXPECT_TRUE(v->parser->times(ids[5]).accessed.has_value());
  EXPECT_FALSE(v->parser->times(ids[0]).accessed.has_value());
  EXPECT_EQ(v->parser->times(ids[9]).modified, (FileTime{unixTime(2107, 12, 31, 23, 59, 58), 0}));
}

TEST(FatTimes, RowsShowTheFieldsAsRecorded) {
  const struct {
    const char* name11;
    int year, month, day, hour, minute;
    const char* timeText;
    const char* dateText;
  } cases[] = {
      {"AFTNOON TXT", 2023, 7, 15, 13, 5, "07/15/2023  01:05 PM", "07/15/2023 "},
      {"NOON    TXT", 2023, 7, 15, 12, 30, "07/15/2023  12:30 PM", "07/15/2023 "},
      {"NOONTOP TXT", 2023, 7, 15, 12, 0, "07/15/2023  12:00 PM", "07/15/2023 "},
      {"NOONEND TXT", 2023, 7, 15, 12, 59, "07/15/2023  12:59 PM", "07/15/2023 "},
      {"MIDNIGHTTXT", 2024, 1, 2, 0, 10, "01/02/2024  12:10 AM", "01/02/2024 "},
      {"ONEAM   TXT", 2024, 1, 2, 1, 0, "01/02/2024  01:00 AM", "01/02/2024 "},
      {"MORNING TXT", 1999, 12, 31, 11, 59, "12/31/1999  11:59 AM", "12/31/1999 "},
      {"LATE    TXT", 2000, 2, 29, 23, 59, "02/29/2000  11:59 PM", "02/29/2000 "},
      {"FIRST   TXT", 1980, 1, 1, 0, 0, "01/01/1980  12:00 AM", "01/01/1980 "},
      {"LAST    TXT", 2107, 12, 31, 23, 58, "12/31/2107  11:58 PM", "12/31/2107 "},
  };
  std::vector<ShortSlot> entries;
  for (const auto& c : cases) {
    ShortSlot e = timed(c.name11, dosDate(c.year, c.month, c.day), dosTime(c.hour, c.minute, 44));
    e.writeTime = dosTime(c.hour, c.minute, 0);
    e.accessDate = dosDate(c.year, c.month, c.day);
    entries.push_back(e);
  }
  ZoneGuard zone("UTC0");
  const auto v = scanEntries(entries);
  const std::vector<EntryId> ids = v->parser->topEntries();
  ASSERT_EQ(ids.size(), std::size(cases));
  // The zone does not move what the list shows.
  for (const char* z : {"UTC0", "QRV-9"}) {
    zone.set(z);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      SCOPED_TRACE(std::string(z) + " " + cases[i].name11);
      const RowTexts row = v->parser->formatRow(ids[i]);
      EXPECT_EQ(row.created, cases[i].timeText);
      EXPECT_EQ(row.modified, cases[i].timeText);
      EXPECT_EQ(row.accessed, cases[i].dateText);
    }
  }
}

TEST(FatTimes, AttributeColumnNamesTheBitsSet) {
  const struct {
    std::uint8_t attributes;
    const char* text;
  } cases[] = {{0x00, ""},     {0x01, "-R"},   {0x02, "-H"},   {0x04, "-S"},       {0x20, "-A"},
               {0x21, "-R-A"}, {0x22, "-H-A"}, {0x06, "-H-S"}, {0x27, "-R-H-S-A"}, {0x10, ""}, {0x31, "-R-A"}};
  FatVolume volume(FatWidth::Fat12, 200);
  Directory root;
  for (const auto& c : cases) {
    char name[12];
    std::snprintf(name, sizeof name, "ATTR%02X  TXT", c.attributes);
    root.file(name, 0, 0, c.attributes);
  }
  volume.writeRoot(root);
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  const std::vector<EntryId> ids = v->parser->topEntries();
  ASSERT_EQ(ids.size(), std::size(cases));
  for (std::size_t i = 0; i < ids.size(); ++i)
    EXPECT_EQ(v->parser->formatRow(ids[i]).attributes, cases[i].text) << static_cast<int>(cases[i].attributes);
}

}  // namespace
}  // namespace quorvel::test
