// The scan and advanced-input screens' rules, without a display.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fs/FileSystemKinds.h"
#include "logic/AdvancedInputRules.h"
#include "logic/ScanScreenRules.h"
#include "support/FakeParser.h"
#include "support/TestSupport.h"

using namespace wizard;
using quorvel::CandidateLists;
using quorvel::FileSystemId;
using quorvel::EntryId;
using quorvel::test::FakeParser;
using quorvel::test::filesBelow;
namespace fs = std::filesystem;

// Kinds named as the list shows them (letter case ignored), read through the
// registry: only kinds that offer the Advanced mode search.
TEST(AdvancedInputRules, KindsChooseTheirSearchLettersIgnored) {
  const struct {
    const char* kind;
    std::optional<FileSystemId> id;
    const char* caption;
    bool searches;
    bool heapList;
  } cases[] = {
      {"NTFS", FileSystemId::Ntfs, "TFS :", true, false},
      {"ntfs", FileSystemId::Ntfs, "TFS :", true, false},
      {"FAT16", FileSystemId::Fat16, "Total fat16 Entries Found:", true, false},
      {"fat", FileSystemId::Fat16, "Total fat16 Entries Found:", true, false},
      {"FAT32", FileSystemId::Fat32, "TFS :", true, false},
      {"FAT64", FileSystemId::ExFat, "Total fat64 Entries Found:", true, true},
      {"eXFAT", FileSystemId::ExFat, "Total fat64 Entries Found:", true, true},
      {"extX", FileSystemId::Ext, "TFS :", false, false},
      {"HFS+", FileSystemId::HfsPlus, "TFS :", false, false},
      {"Basic data partition", std::nullopt, "TFS :", false, false},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(quorvel::fileSystemNamed(c.kind), c.id) << c.kind;
    const AdvancedInputLayout layout = advancedInputLayout(c.id);
    EXPECT_EQ(layout.firstCaption, c.caption) << c.kind;
    EXPECT_EQ(layout.heapListShown, c.heapList) << c.kind;
    EXPECT_EQ(layout.searches, c.searches) << c.kind;
    EXPECT_EQ(layout.clusterListShown, c.searches) << c.kind;
    // A kind without a search still says nothing about one.
    if (!c.searches) {
      EXPECT_TRUE(fixedClusterChoices(c.id).empty()) << c.kind;
      EXPECT_TRUE(searchReport(c.id, {}).message.empty()) << c.kind;
    }
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
    FileSystemId kind;
    const CandidateLists* lists;
    const char* message;
    const char* status;
  } cases[] = {
      {FileSystemId::Ntfs, &two,
       "Number of MFT-ENTRY found = 2 . Please select the choice from combo box and click Next button to proceed.",
       "Parsing done.Click next to continue."},
      {FileSystemId::Fat16, &none,
       "Number of FAT-ENTRY found = 0 . Please select the choice from combo box and click Next button to proceed.",
       "Parsing done.Click Next to continue."},
      {FileSystemId::Fat32, &two,
       "Number of FAT32-ENTRY found = 2 . Please select the choice from combo box and click Next button to proceed.",
       "Parsing done.Click Next to continue."},
      {FileSystemId::Fat32, &none, "NO FAT  FAT32-ENTRY found ..", ""},
      {FileSystemId::ExFat, &exfat,
       "Number of FAT64-ENTRY found = 1 and Number of HeapOffset-ENTRY found =  3  . Please select the choice from "
       "( Entry and Heap ) Combobox and click Next button to proceed.",
       "Parsing done.Click Next to continue."},
  };
  for (const auto& c : cases) {
    const SearchReport report = searchReport(c.kind, *c.lists);
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

// exFAT's list holds shifts under a caption that speaks of sectors: each
// item says the cluster size it stands for. Other kinds' counts stay bare.
TEST(AdvancedInputRules, ClusterItemsSayWhatTheyMean) {
  const std::vector<std::string> shifts = {"6", "8", "9", "11", "0", "1", "16"};
  EXPECT_EQ(clusterChoiceTexts(FileSystemId::ExFat, shifts),
            (std::vector<std::string>{"6 (32 KiB clusters)", "8 (128 KiB clusters)", "9 (256 KiB clusters)",
                                      "11 (1 MiB clusters)", "0 (512-byte clusters)", "1 (1 KiB clusters)",
                                      "16 (32 MiB clusters)"}));
  for (const FileSystemId kind : {FileSystemId::Fat16, FileSystemId::Fat32, FileSystemId::Ntfs})
    EXPECT_EQ(clusterChoiceTexts(kind, {"8", "4"}), (std::vector<std::string>{"8", "4"}));
}

// Next comes with the lists; after a Stop, not while a list the scan needs is empty.
TEST(AdvancedInputRules, NextAfterStopNeedsTheListsTheScanNeeds) {
  const CandidateLists full{{"FAT64_ENTRY:0"}, {"8"}, {"HEAP_OFFSET_ENTRY:0"}};
  const CandidateLists noHeap{{"FAT64_ENTRY:0"}, {"8"}, {}};
  const CandidateLists noCopy{{}, {"8"}, {"HEAP_OFFSET_ENTRY:0"}};
  const struct {
    FileSystemId kind;
    const CandidateLists* lists;
    bool stopped, offered;
  } cases[] = {
      {FileSystemId::ExFat, &full, true, true},     {FileSystemId::ExFat, &noHeap, true, false},
      {FileSystemId::ExFat, &noCopy, true, false},  {FileSystemId::ExFat, &noHeap, false, true},
      {FileSystemId::Fat16, &noHeap, true, true},   {FileSystemId::Fat16, &noCopy, true, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(nextOffered(c.kind, *c.lists, c.stopped), c.offered)
        << static_cast<int>(c.kind) << " " << c.lists->tfs.size() << c.lists->heapOffsets.size() << c.stopped;
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
      {"Unknown", "Please Restart the program to rebegin necessary initialisation...", false},
  };
  for (const auto& c : cases) {
    const ScreenMessage message = missingSourceMessage(quorvel::fileSystemNamed(c.kind));
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
