// The wizard screens' rules, without a display.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fs/FileSystemKinds.h"
#include "logic/DecimalText.h"
#include "logic/DriveParsingRules.h"
#include "logic/RecoveryModeRules.h"
#include "logic/VolumeListRules.h"

using namespace wizard;
using quorvel::FileSystemId;
using quorvel::VolumeRecord;

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// A record as discovery makes it: the kind's text and the kind it names.
VolumeRecord volumeAt(std::int64_t start, const std::string& kind = "NTFS", const std::string& size = "300   MB") {
  VolumeRecord v;
  v.kind = kind;
  v.fileSystem = quorvel::fileSystemNamed(kind);
  v.sizeText = size;
  v.startSector = start;
  return v;
}

std::vector<std::string> shownStarts(const VolumeListRows& rows) {
  std::vector<std::string> starts;
  for (const VolumeRow& row : rows.rows()) starts.push_back(row.texts[3]);
  return starts;
}

}  // namespace

TEST(DecimalText, ReadsTheLeadingNumberOfACell) {
  const struct {
    const char* text;
    std::int64_t value;
  } cases[] = {
      {"300   MB", 300},
      {"  2048", 2048},
      {"-12x", -12},
      {"+7", 7},
      {"MB 300", 0},
      {"", 0},
      {"9223372036854775807", kMax},
      {"99999999999999999999", kMax},
      {"-9223372036854775808", kMin},
      {"-99999999999999999999", kMin},
  };
  for (const auto& c : cases) EXPECT_EQ(readDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(VolumeListRules, SelectedRowGivesItsSectorRange) {
  const struct {
    const char* size;
    const char* start;
    std::int64_t end;
  } cases[] = {
      {"300   MB", "2048", 616447},
      {"0   MB", "2048", 0},
      {"0", "0", 0},
      {"1", "0", 2047},
      {"16  MB", "34816", 67583},
      {"garbage", "5", 0},
      {"9223372036854775807", "10", kMax},
  };
  for (const auto& c : cases) {
    const SectorRange range = rangeOfRow(c.size, c.start);
    EXPECT_EQ(range.start, readDecimal(c.start)) << c.size << " / " << c.start;
    EXPECT_EQ(range.end, c.end) << c.size << " / " << c.start;
  }
}

TEST(VolumeListRules, AListedRowsRangeEndsAtTheVolumesLastSectorNotAtItsRoundedSize) {
  // 327,679 sectors show as "159 MB": a range from the text would leave the
  // last 2,047 sectors out of a raw recovery.
  const struct {
    std::uint64_t sizeBytes;  // 0: the listing knows only the size text
    std::int64_t end;
  } cases[] = {
      {327679ull * 512, 2048 + 327679 - 1},
      {327680ull * 512, 2048 + 327680 - 1},
      {327679ull * 512 + 100, 2048 + 327680 - 1},  // a partial last sector is read too
      {0, 2048 + 159 * 2048 - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sizeBytes);
    quorvel::VolumeRecord v;
    v.kind = "FAT32";
    v.startSector = 2048;
    v.sizeBytes = c.sizeBytes;
    v.sizeText = std::to_string(c.sizeBytes ? quorvel::bytesToMebibytes(c.sizeBytes) : 159) + "   MB";
    VolumeListRows rows(ListingMode::Standard);
    rows.setListed({v});
    ASSERT_EQ(rows.rows().size(), 1u);
    const SectorRange range = rangeOfRow(rows.rows()[0]);
    EXPECT_EQ(range.start, 2048);
    EXPECT_EQ(range.end, c.end);
  }
}

TEST(VolumeListRules, UpDownArrowsStepTheSectorNumber) {
  const struct {
    const char* text;
    int steps;
    const char* result;
  } cases[] = {
      {"2048", 1, "2049"}, {"2048", -1, "2047"}, {"0", -1, "0"},
      {"", 1, "1"},        {"", -1, "0"},        {"9223372036854775807", 1, "9223372036854775807"},
  };
  for (const auto& c : cases) EXPECT_EQ(stepSector(c.text, c.steps), c.result) << c.text << ' ' << c.steps;
}

TEST(VolumeListRules, TreatAsOffersEveryReadableKindAndRaw) {
  EXPECT_EQ(treatAsEntries(), (std::vector<std::string>{"EXTX", "FAT16", "FAT32", "FAT64", "HFS+", "NTFS", "RAW"}));
}

TEST(VolumeListRules, TreatAsFollowsTheClickedRowsKind) {
  const struct {
    const char* kind;
    const char* entry;  // null: the choice stays as it was
  } cases[] = {
      {"extX", "EXTX"}, {"FAT16", "FAT16"}, {"FAT32", "FAT32"}, {"fat64", "FAT64"}, {"HFS+", "HFS+"},
      {"NTFS", "NTFS"}, {"FAT12", nullptr}, {"Unknown", nullptr}, {"CUSTOM ", nullptr}, {"FAT", "FAT16"},
  };
  for (const auto& c : cases) {
    const int entry = treatAsEntryFor(c.kind);
    if (!c.entry)
      EXPECT_EQ(entry, -1) << c.kind;
    else
      EXPECT_EQ(entry >= 0 ? treatAsEntries()[static_cast<std::size_t>(entry)] : "", c.entry) << c.kind;
  }
}

TEST(VolumeListRules, StandardListingLabelsByPlaceInListOrder) {
  VolumeListRows rows(ListingMode::Standard);
  VolumeRecord a = volumeAt(2048), b = volumeAt(34816, "FAT32");
  a.label = "7";  // the listing's own numbering is replaced
  rows.setListed({a, b});
  ASSERT_EQ(rows.rows().size(), 2u);
  EXPECT_EQ(rows.rows()[0].texts, (std::array<std::string, 4>{"0", "NTFS", "300   MB", "2048"}));
  EXPECT_EQ(rows.rows()[1].texts, (std::array<std::string, 4>{"1", "FAT32", "300   MB", "34816"}));
}

TEST(VolumeListRules, AdvancedFindsShowNewestFirstAndKeepFoundOrder) {
  VolumeListRows rows(ListingMode::Advanced);
  rows.addFound(volumeAt(2048));
  rows.addFound(volumeAt(36864, "FAT32"));
  EXPECT_EQ(shownStarts(rows), (std::vector<std::string>{"36864", "2048"}));
  ASSERT_EQ(rows.volumes().size(), 2u);
  EXPECT_EQ(rows.volumes()[0].startSector, 2048);
}

TEST(VolumeListRules, CustomVolumeIsNumberedAfterTheRecords) {
  for (const ListingMode mode : {ListingMode::Standard, ListingMode::Advanced}) {
    VolumeListRows rows(mode);
    rows.addFound(volumeAt(2048));
    rows.addFound(volumeAt(4096));
    const int row = rows.addCustom();
    const bool advanced = mode == ListingMode::Advanced;
    EXPECT_EQ(row, advanced ? 0 : 2);
    EXPECT_EQ(rows.rows()[static_cast<std::size_t>(row)].texts, (std::array<std::string, 4>{"2", "CUSTOM ", "0", "0"}));
    EXPECT_EQ(rows.volumes().size(), 3u);
  }
}

TEST(VolumeListRules, FilterKeepsVolumesOneSectorBehindTheirPredecessor) {
  const struct {
    std::vector<std::int64_t> starts;
    std::vector<std::string> shown;  // top first
    std::vector<std::string> labels;
  } cases[] = {
      {{63, 64, 2048, 4096}, {"64"}, {"1"}},
      {{2048}, {}, {}},
      {{}, {}, {}},
      {{10, 11, 12, 40}, {"12", "11"}, {"2", "1"}},
      {{kMax, kMin}, {}, {}},
  };
  for (const auto& c : cases) {
    VolumeListRows rows(ListingMode::Advanced);
    for (const std::int64_t start : c.starts) rows.addFound(volumeAt(start));
    rows.filter();
    EXPECT_EQ(shownStarts(rows), c.shown);
    std::vector<std::string> labels;
    for (const VolumeRow& row : rows.rows()) labels.push_back(row.texts[0]);
    EXPECT_EQ(labels, c.labels);
  }
}

TEST(VolumeListRules, CustomSettingRewritesTheSelectedRecord) {
  const struct {
    const char* start;
    const char* end;
    const char* treatAs;
    NextStep step;
    std::int64_t startSector;
    const char* sizeText;
    const char* kind;
    std::optional<FileSystemId> fileSystem;
  } cases[] = {
      {"2048", "2048", "", NextStep::RecoveryMode, 2048, "0", "NTFS", FileSystemId::Ntfs},
      {"2048", "4095", "", NextStep::RecoveryMode, 2048, "1", "NTFS", FileSystemId::Ntfs},
      {"2048", "616447", "FAT32", NextStep::RecoveryMode, 2048, "300", "fat32", FileSystemId::Fat32},
      {"100", "50", "", NextStep::RecoveryMode, 100, "0", "NTFS", FileSystemId::Ntfs},
      {"0", "2047", "EXTX", NextStep::RecoveryMode, 0, "1", "extX", FileSystemId::Ext},
      {"0", "2047", "NTFS", NextStep::RecoveryMode, 0, "1", "ntfs", FileSystemId::Ntfs},
      {"0", "2047", "FAT16", NextStep::RecoveryMode, 0, "1", "fat16", FileSystemId::Fat16},
      {"0", "2047", "FAT64", NextStep::RecoveryMode, 0, "1", "fat64", FileSystemId::ExFat},
      {"0", "2047", "HFS+", NextStep::RecoveryMode, 0, "1", "HFS+", FileSystemId::HfsPlus},
      {"0", "2047", "RAW", NextStep::RawRecovery, 0, "1", "RAW", std::nullopt},
  };
  for (const auto& c : cases) {
    VolumeListRows rows(ListingMode::Standard);
    rows.setListed({volumeAt(2048)});
    const NextStep step = rows.next(0, {true, c.start, c.end, c.treatAs});
    const VolumeRecord& chosen = rows.record(0);
    EXPECT_EQ(step, c.step) << c.start << '-' << c.end << ' ' << c.treatAs;
    EXPECT_EQ(chosen.startSector, c.startSector) << c.start << '-' << c.end;
    EXPECT_EQ(chosen.sizeText, c.sizeText) << c.start << '-' << c.end;
    EXPECT_EQ(chosen.kind, c.kind) << c.treatAs;
    EXPECT_EQ(chosen.fileSystem, c.fileSystem) << c.treatAs;
    EXPECT_TRUE(rows.customApplied());
  }
}

TEST(VolumeListRules, UntickedCustomSettingRestoresTheRowsTexts) {
  VolumeListRows rows(ListingMode::Standard);
  rows.setListed({volumeAt(2048, "NTFS", "300   MB")});
  ASSERT_EQ(rows.next(0, {true, "4096", "8191", "FAT32"}), NextStep::RecoveryMode);
  ASSERT_EQ(rows.record(0).kind, "fat32");
  ASSERT_EQ(rows.record(0).fileSystem, FileSystemId::Fat32);

  ASSERT_EQ(rows.next(0, {false, "4096", "8191", "FAT32"}), NextStep::RecoveryMode);
  const VolumeRecord& restored = rows.record(0);
  EXPECT_EQ(restored.label, "0");
  EXPECT_EQ(restored.kind, "NTFS");
  EXPECT_EQ(restored.fileSystem, FileSystemId::Ntfs);
  EXPECT_EQ(restored.sizeText, "300");
  EXPECT_EQ(restored.startSector, 2048);
}

TEST(VolumeListRules, WithoutCustomSettingTheListedRecordGoesOnUnchanged) {
  VolumeListRows rows(ListingMode::Standard);
  rows.setListed({volumeAt(2048, "NTFS", "300   MB")});
  ASSERT_EQ(rows.next(0, {false, "1", "2", "FAT32"}), NextStep::RecoveryMode);
  EXPECT_EQ(rows.record(0).sizeText, "300   MB");
  EXPECT_FALSE(rows.customApplied());
}

// Discovery marks the volumes whose kind it could not tell ("Unknown" in
// the MBR walk, "UNKNOWN" for a damaged boot sector); a GPT partition's name
// or a custom volume names no kind either but goes on to the scan, which
// says why it cannot read it.
TEST(VolumeListRules, NextNeedsAParsableSelection) {
  const struct {
    const char* kind;
    bool unknown;
    NextStep step;
  } cases[] = {
      {"Unknown", true, NextStep::UnknownVolume},
      {"UNKNOWN", true, NextStep::UnknownVolume},
      {"Basic data partition", false, NextStep::RecoveryMode},
      {"CUSTOM ", false, NextStep::RecoveryMode},
  };
  for (const auto& c : cases) {
    VolumeRecord volume = volumeAt(2048, c.kind);
    volume.kindUnknown = c.unknown;
    VolumeListRows rows(ListingMode::Standard);
    rows.setListed({volume});
    EXPECT_EQ(rows.next(0, {}), c.step) << c.kind;
    EXPECT_EQ(rows.next(-1, {}), NextStep::NoSelection);
    EXPECT_EQ(rows.next(1, {}), NextStep::NoSelection);
  }
  VolumeRecord unknown = volumeAt(2048, "Unknown");
  unknown.kindUnknown = true;
  VolumeListRows custom(ListingMode::Standard);
  custom.setListed({unknown});
  EXPECT_EQ(custom.next(0, {true, "2048", "4095", "NTFS"}), NextStep::RecoveryMode);
  EXPECT_FALSE(custom.record(0).kindUnknown);
  // Unticking the custom setting gives the volume back its unknown kind.
  EXPECT_EQ(custom.next(0, {false, "2048", "4095", "NTFS"}), NextStep::UnknownVolume);
}

TEST(DriveParsingRules, OptionsGoOnAndTheRangeOnlyWithANonNegativeEnd) {
  const struct {
    bool standard;
    bool custom;
    const char* start;
    const char* end;
    std::int64_t customStart;
    std::int64_t customEnd;
  } cases[] = {
      {false, true, "100", "50", 100, 50},   {false, true, "2048", "", 2048, 0}, {false, true, "5", "-1", 0, 0},
      {false, false, "100", "200", 0, 0},    {true, true, "100", "200", 100, 200},
  };
  for (const auto& c : cases) {
    DriveParsingChoices choices{"disk.img", c.standard, true, true, c.custom, c.start, c.end};
    const VolumeListRequest request = volumeListRequest(choices);
    EXPECT_EQ(request.imagePath, "disk.img");
    EXPECT_EQ(request.mode, c.standard ? ListingMode::Standard : ListingMode::Advanced);
    EXPECT_TRUE(request.gpt);
    EXPECT_TRUE(request.doNotSkip);
    EXPECT_EQ(request.customStart, c.customStart) << c.start << '-' << c.end;
    EXPECT_EQ(request.customEnd, c.customEnd) << c.start << '-' << c.end;
  }
}

// The kinds of records as discovery or the user names them: by the text
// the list shows, read through the registry.
TEST(RecoveryModeRules, KindDecidesTheOfferedModes) {
  const struct {
    const char* kind;
    bool advanced;
    bool deep;
    bool formatted;
  } cases[] = {
      {"NTFS", true, true, false},   {"  NTFS", true, true, false},  {"ntfs", true, true, false},
      {"FAT32", true, false, true},  {"FAT16", true, false, true},   {"FAT12", true, false, true},
      {"FAT64", true, false, true},  {"fat32", true, false, true},   {"eXFAT", true, false, true},
      {"extX", false, false, false}, {"HFS+", false, true, false},   {"CUSTOM ", true, true, false},
      {"", true, true, false},       {"\t FA", true, true, false},   {"Ünïcode", true, true, false},
      {"Basic data partition", true, true, false},
  };
  for (const auto& c : cases) {
    const OfferedModes modes = offeredModes(quorvel::fileSystemNamed(c.kind));
    EXPECT_TRUE(modes.standard) << c.kind;
    EXPECT_EQ(modes.advanced, c.advanced) << c.kind;
    EXPECT_EQ(modes.deep, c.deep) << c.kind;
    EXPECT_EQ(modes.formattedChoice, c.formatted) << c.kind;
  }
}
