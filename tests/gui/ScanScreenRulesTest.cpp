// The scan and advanced-input screens' rules, without a display.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "logic/AdvancedInputRules.h"
#include "logic/ScanScreenRules.h"
#include "support/FakeParser.h"
#include "support/TestSupport.h"

using namespace wizard;
using quorvel::CandidateLists;
using quorvel::EntryId;
using quorvel::test::FakeParser;
using quorvel::test::filesBelow;
namespace fs = std::filesystem;

TEST(AdvancedInputRules, KindsChooseTheirSearchLettersIgnored) {
  const struct {
    const char* kind;
    AdvancedFamily family;
    const char* caption;
    bool heapList;
  } cases[] = {
      {"NTFS", AdvancedFamily::Ntfs, "TFS :", false},
      {"ntfs", AdvancedFamily::Ntfs, "TFS :", false},
      {"FAT16", AdvancedFamily::Fat16, "Total fat16 Entries Found:", false},
      {"fat", AdvancedFamily::Fat16, "Total fat16 Entries Found:", false},
      {"FAT32", AdvancedFamily::Fat32, "TFS :", false},
      {"FAT64", AdvancedFamily::ExFat, "Total fat64 Entries Found:", true},
      {"eXFAT", AdvancedFamily::ExFat, "Total fat64 Entries Found:", true},
      {"extX", AdvancedFamily::Other, "TFS :", false},
      {"HFS+", AdvancedFamily::Other, "TFS :", false},
      {"Basic data partition", AdvancedFamily::Other, "TFS :", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(advancedFamily(c.kind), c.family) << c.kind;
    const AdvancedInputLayout layout = advancedInputLayout(advancedFamily(c.kind));
    EXPECT_EQ(layout.firstCaption, c.caption) << c.kind;
    EXPECT_EQ(layout.heapListShown, c.heapList) << c.kind;
    EXPECT_EQ(layout.searches, c.family != AdvancedFamily::Other) << c.kind;
    EXPECT_EQ(layout.clusterListShown, c.family != AdvancedFamily::Other) << c.kind;
  }
}

TEST(AdvancedInputRules, MaxCountBelowOneMeansThree) {
  const struct { int typed, used; } cases[] = {{0, 3}, {-5, 3}, {1, 1}, {3, 3}, {12, 12}};
  for (const auto& c : cases) EXPECT_EQ(maxCandidates(c.typed), c.used) << c.typed;
}

TEST(AdvancedInputRules, TheReportNamesWhatWasFound) {
  const CandidateLists two{{"MFT_ENTRY:0", "MFT_ENTRY:1"}, {"8"}, {}};
  const CandidateLists none{{}, {"8"}, {}};
  const CandidateLists exfat{
      {"FAT64_ENTRY:0"}, {"8"}, {"HEAP_OFFSET_ENTRY:0", "HEAP_OFFSET_ENTRY:1", "HEAP_OFFSET_ENTRY:2"}};
  const struct {
    AdvancedFamily family;
    const CandidateLists* lists;
    const char* message;
    const char* status;
  } cases[] = {
      {AdvancedFamily::Ntfs, &two,
       "Number of MFT-ENTRY found = 2 . Please select the choice from combo box and click Next button to proceed.",
       "Parsing done.Click next to continue."},
      {AdvancedFamily::Fat16, &none,
       "Number of FAT-ENTRY found = 0 . Please select the choice from combo box and click Next button to proceed.",
       "Parsing done.Click Next to continue."},
      {AdvancedFamily::Fat32, &two,
       "Number of FAT32-ENTRY found = 2 . Please select the choice from combo box and click Next button to proceed.",
       "Parsing done.Click Next to continue."},
      {AdvancedFamily::Fat32, &none, "NO FAT  FAT32-ENTRY found ..", ""},
      {AdvancedFamily::ExFat, &exfat,
       "Number of FAT64-ENTRY found = 1 and Number of HeapOffset-ENTRY found =  3  . Please select the choice from "
       "( Entry and Heap ) Combobox and click Next button to proceed.",
       "Parsing done.Click Next to continue."},
  };
  for (const auto& c : cases) {
    const SearchReport report = searchReport(c.family, *c.lists);
    EXPECT_EQ(report.message, c.message);
    EXPECT_EQ(report.status, c.status);
  }
}

TEST(AdvancedInputRules, ChoicesCarryThePickedPositionsAndTheClusterValue) {
  const CandidateLists lists{{"MFT_ENTRY:0", "MFT_ENTRY:1"}, {"8", "4", "16"}, {"HEAP_OFFSET_ENTRY:0"}};
  const struct {
    int candidate, cluster, heap;
    bool chosen;
    int tfs, sectors, heapOffset;
  } cases[] = {
      {1, 2, -1, true, 1, 16, -1}, {0, 0, 0, true, 0, 8, 0},
      {0, 1, 5, true, 0, 4, -1},   {-1, 0, 0, false, 0, 0, 0},  // nothing found or picked
      {2, 0, 0, false, 0, 0, 0},   {0, -1, 0, false, 0, 0, 0},  // no cluster size
  };
  for (const auto& c : cases) {
    const auto choices = advancedChoices(lists, c.candidate, c.cluster, c.heap, true, 0);
    ASSERT_EQ(choices.has_value(), c.chosen) << c.candidate << "/" << c.cluster;
    if (!choices) continue;
    EXPECT_EQ(choices->tfs, c.tfs);
    EXPECT_EQ(choices->sectorsPerCluster, c.sectors);
    EXPECT_EQ(choices->heapOffset, c.heapOffset);
    EXPECT_TRUE(choices->formatted);
    EXPECT_EQ(choices->maxCandidates, 3);
  }
}

TEST(ScanScreenRules, EveryKindSaysWhyNothingCanBeScannedWithoutASource) {
  const struct {
    const char* kind;
    const char* text;
    bool captioned;
  } cases[] = {
      {"NTFS", "Please Restart the program to re begin necessary initialization...", true},
      {"fat32", "Please Restart the program to re begin necessary initialization...", true},
      {"FAT16", "Please Restart the program to rebegin necessary initialisation...", false},
      {"extX", "Please Restart the program to rebegin necessary initialisation...", false},
      {"eXFAT", "Please Restart the program to rebegin necessary initialisation...", false},
  };
  for (const auto& c : cases) {
    const ScreenMessage message = missingSourceMessage(c.kind);
    EXPECT_EQ(message.text, c.text) << c.kind;
    EXPECT_EQ(message.captioned, c.captioned) << c.kind;
  }
}

TEST(ScanScreenRules, SearchHitsLieInTheFoldersOfTheirPath) {
  const struct {
    const char* path;
    const char* name;
    std::vector<std::string> folders;
  } cases[] = {
      {"ROOT/readme.txt", "readme.txt", {}},
      {"ROOT/Documents/Projects/2024/Q1/plan.txt", "plan.txt", {"Documents", "Projects", "2024", "Q1"}},
      {"ROOT/a/b/c/x", "x", {"a", "b", "c"}},
      {"ROOT/ORPHAN_ENTRY/left", "left", {"ORPHAN_ENTRY"}},
      {"ROOT/a/odd/name", "odd/name", {"a"}},  // a name may hold a slash
  };
  for (const auto& c : cases) EXPECT_EQ(hitFolders(c.path, c.name), c.folders) << c.path;
}
