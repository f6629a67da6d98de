// `quorvel-cli candidates`, and `ls` and `save` in advanced mode, on FAT16,
// FAT32 and exFAT volumes whose boot sector or root directory is gone, that
// were formatted again, or whose FATs survive only as a copy elsewhere
// (tests/fixtures/build-fat-damaged-images). The oracle is the intact volume
// each was made from, as the standard mode reads it (itself checked against
// The Sleuth Kit by the FAT end-to-end tests).
#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/CliListing.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

[[maybe_unused]] const bool kInUtc = useUtc();

const std::string kOrphans = "ROOT/ORPHAN ENTRY/";

fs::path fixture(const std::string& folder, const std::string& name) { return fixtureImage(fs::path(folder) / name); }

// IMAGE.facts: KEY TAB VALUE a line.
std::map<std::string, std::string> readFacts(const fs::path& path) {
  std::map<std::string, std::string> facts;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) facts[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return facts;
}

std::vector<std::string> sourceFragments(const std::string& source) {
  std::vector<std::string> paths;
  std::ifstream in(fixture("fat", source + ".facts"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind("fragmented\t", 0) == 0) paths.push_back("ROOT/" + line.substr(11));
  return paths;
}

struct Damaged {
  std::string image;
  std::string kind;
};

std::ostream& operator<<(std::ostream& os, const Damaged& d) { return os << d.image; }

struct Recovery {
  fs::path image;
  fs::path source;
  std::string sourceName;
  std::vector<std::string> selection;  // --volume-image --kind K --mode advanced ...
  bool formatted = false;
  bool wholeTree = false;
  std::string chainLost;  // "ROOT/Many/": a folder whose entries may cross cluster ends the FAT no longer links
};

// What `candidates` offers first: the index of the first FAT copy and heap
// offset, and the first cluster size's value, as a user takes them.
struct FirstOffers {
  std::string tfs, sectorsPerCluster, heap;
};

FirstOffers firstOffers(const fs::path& image, const std::string& kind) {
  const CommandResult r = cli({"candidates", image.string(), "--volume-image", "--kind", kind, "--json"});
  if (r.exitCode != 0) throw std::runtime_error("candidates failed: " + r.err);
  FirstOffers first;
  for (const JsonObject& o : parseJsonLines(r.out)) {
    if (jsonInteger(o, "index") != 0) continue;
    const std::string& list = jsonText(o, "list");
    if (list == "tfs") first.tfs = "0";
    if (list == "heapOffset") first.heap = "0";
    if (list == "sectorsPerCluster") first.sectorsPerCluster = jsonText(o, "text");
  }
  return first;
}

Recovery recoveryOf(const Damaged& d) {
  const auto facts = readFacts(fixture("fat-damaged", d.image + ".facts"));
  Recovery r;
  r.image = fixture("fat-damaged", d.image + ".img");
  r.sourceName = facts.at("source");
  r.source = fixture("fat", r.sourceName + ".img");
  r.formatted = facts.at("formatted") == "1";
  r.wholeTree = facts.at("whole-tree") == "1";
  r.selection = {"--volume-image", "--kind", d.kind};
  // No choices: the damage leaves the standard mode able to read it.
  if (facts.at("tfs") == "-") return r;
  if (d.kind == "exFAT") {
    // exFAT: the first of everything offered, as a user picks.
    const FirstOffers first = firstOffers(r.image, d.kind);
    r.selection.insert(r.selection.end(), {"--mode", "advanced", "--tfs", first.tfs, "--spc", first.sectorsPerCluster,
                                           "--heap", first.heap});
  } else {
    r.selection.insert(r.selection.end(), {"--mode", "advanced", "--tfs", facts.at("tfs"), "--spc", facts.at("spc")});
  }
  if (r.formatted) r.selection.push_back("--formatted");
  if (facts.count("chain-lost")) r.chainLost = "ROOT/" + facts.at("chain-lost") + "/";
  return r;
}

// "ROOT/a/b/c" -> "b/c": where a file stands when the folder above it went
// with the root directory.
std::string belowTopFolder(const std::string& path) {
  const std::size_t first = path.find('/', 5);
  return first == std::string::npos ? std::string() : path.substr(first + 1);
}

class DamagedVolume : public ::testing::TestWithParam<Damaged> {};

// Every live file of the volume is listed with its size: in place where the
// tree survived, else under "ORPHAN ENTRY", below the folders that were
// found; and saved with its original bytes (a formatted volume's FAT is
// new, so its files in pieces cannot come back whole).
TEST_P(DamagedVolume, ListsAndSavesWhatTheVolumeHeld) {
  const Recovery r = recoveryOf(GetParam());
  const Listing source = listVolume(r.source, {"--volume-image"});
  const Listing found = listVolume(r.image, r.selection);

  TempFolder temp;
  const fs::path sourceOut = temp.path() / "source";
  const fs::path foundOut = temp.path() / "found";
  ASSERT_EQ(cli({"save", r.source.string(), "--volume-image", "--path", "ROOT", "--out", sourceOut.string()}).exitCode, 0);
  std::vector<std::string> save = {"save", r.image.string()};
  save.insert(save.end(), r.selection.begin(), r.selection.end());
  save.insert(save.end(), {"--path", "ROOT", "--out", foundOut.string()});
  const CommandResult saved = cli(save);
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  const auto sourceFiles = filesBelow(sourceOut);
  const auto foundFiles = filesBelow(foundOut);
  const std::vector<std::string> fragments = sourceFragments(r.sourceName);

  std::vector<std::string> problems;
  std::size_t checked = 0;
  for (const LsEntry& e : source.entries) {
    if (e.folder || e.deleted) continue;
    // Recycle-bin names come from the bin's folder, which a lost root takes along.
    if (!r.wholeTree && e.path.rfind("ROOT/$RECYCLE.BIN", 0) == 0) continue;
    if (!r.chainLost.empty() && e.path.rfind(r.chainLost, 0) == 0) continue;
    std::vector<std::string> places = {e.path};
    if (!r.wholeTree) {
      places = {kOrphans + e.path.substr(5)};
      if (const std::string below = belowTopFolder(e.path); !below.empty()) places.push_back(kOrphans + below);
      else continue;  // a top-level file went with the root (exFAT's later root clusters may keep it)
    }
    const LsEntry* match = nullptr;
    std::string place;
    for (const std::string& p : places)
      for (const LsEntry* l : found.at(p))
        if (!l->folder && !match) match = l, place = p;
    if (!match) {
      problems.push_back(e.path + " is not listed (looked for " + places.front() + ")");
      continue;
    }
    ++checked;
    if (match->size != e.size) problems.push_back(place + ": size " + std::to_string(match->size) + ", expected " + std::to_string(e.size));
    if (r.formatted && std::find(fragments.begin(), fragments.end(), e.path) != fragments.end()) continue;
    const auto want = sourceFiles.find(e.path.substr(5));
    const auto got = foundFiles.find(place.substr(5));
    if (want == sourceFiles.end()) continue;  // a name the host cannot hold
    if (got == foundFiles.end())
      problems.push_back(place + " was not saved");
    else if (got->second != want->second)
      problems.push_back(place + ": " + describeDifference(got->second, want->second));
  }
  expectNoProblems(problems, GetParam().image);
  EXPECT_GT(checked, 10u) << "too few files to say anything";
  if (r.wholeTree) EXPECT_EQ(found.entries.size(), source.entries.size());
}

INSTANTIATE_TEST_SUITE_P(Fat, DamagedVolume,
                         ::testing::Values(Damaged{"fat16-2k-noboot", "FAT16"}, Damaged{"fat16-8k-noroot", "FAT16"},
                                           Damaged{"fat16-2k-reformatted", "FAT16"}, Damaged{"fat16-2k-planted", "FAT16"},
                                           Damaged{"fat32-512-noboot", "FAT32"}, Damaged{"fat32-4k-noroot", "FAT32"},
                                           Damaged{"fat32-4k-reformatted", "FAT32"}, Damaged{"fat32-4k-nocount", "FAT32"},
                                           Damaged{"exfat-32k-noboot", "exFAT"},
                                           Damaged{"exfat-4k-noroot", "exFAT"}, Damaged{"exfat-4k-reformatted", "exFAT"}),
                         [](const auto& info) {
                           std::string name = info.param.image;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

// `candidates` lists the FAT copies in volume order, the cluster sizes with
// the boot sector's first where it has one, and exFAT's heap offsets.
TEST(FatCandidates, ListsCopiesClusterSizesAndHeaps) {
  struct Case {
    std::string folder, image, kind;
    std::vector<std::string> tfs, sectorsPerClusterFirst, heap;
  };
  const std::vector<Case> cases = {
      // Two FATs; no boot sector, so the fixed list comes first.
      {"fat-damaged", "fat16-2k-noboot", "FAT16", {"FAT_ENTRY:0", "FAT_ENTRY:1"}, {"4", "8", "16", "2"}, {}},
      // Only the planted copy is left.
      {"fat-damaged", "fat16-2k-planted", "FAT16", {"FAT_ENTRY:0"}, {"4", "8"}, {}},
      // An intact boot sector of 4 sectors per cluster offers its value first.
      {"fat", "fat16-2k", "FAT16", {"FAT_ENTRY:0", "FAT_ENTRY:1"}, {"4", "4", "8"}, {}},
      // An odd value (1) is not offered first; 1 still comes at the end.
      {"fat", "fat32-512", "FAT32", {"FAT32_ENTRY:0", "FAT32_ENTRY:1"}, {"2", "4", "16"}, {}},
      {"fat", "fat32-4k", "FAT32", {"FAT32_ENTRY:0", "FAT32_ENTRY:1"}, {"8", "2", "4"}, {}},
      {"fat", "exfat-32k", "exFAT", {"FAT64_ENTRY:0"}, {"6", "8", "9", "10", "11", "0"}, {"HEAP_OFFSET_ENTRY:0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    const CommandResult r = cli({"candidates", fixture(c.folder, c.image + ".img").string(), "--volume-image", "--kind",
                                 c.kind, "--max", "8", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::map<std::string, std::vector<std::string>> lists;
    for (const JsonObject& o : parseJsonLines(r.out)) lists[jsonText(o, "list")].push_back(jsonText(o, "text"));
    EXPECT_EQ(lists["tfs"], c.tfs);
    const auto& spc = lists["sectorsPerCluster"];
    ASSERT_GE(spc.size(), c.sectorsPerClusterFirst.size());
    EXPECT_EQ(std::vector<std::string>(spc.begin(), spc.begin() + static_cast<std::ptrdiff_t>(c.sectorsPerClusterFirst.size())),
              c.sectorsPerClusterFirst);
    // Every cluster size a volume may have can be chosen.
    const std::set<std::string> offered(spc.begin(), spc.end());
    const std::vector<std::string> every = c.kind == "exFAT"
        ? std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16"}
        : std::vector<std::string>{"1", "2", "4", "8", "16", "32", "64", "128"};
    for (const std::string& v : every) EXPECT_TRUE(offered.count(v)) << v;
    if (!c.heap.empty()) {
      EXPECT_EQ(std::vector<std::string>(lists["heapOffset"].begin(), lists["heapOffset"].begin() + 1), c.heap);
    }
    // Each heap offset says where it lies and why it is offered; the boot
    // sector's comes first, and its structures agree with it.
    bool firstHeap = true;
    for (const JsonObject& o : parseJsonLines(r.out)) {
      if (jsonText(o, "list") != "heapOffset") continue;
      EXPECT_GE(jsonUnsigned(o, "offset"), 24u * 512);
      const std::vector<std::string> evidence = jsonStrings(o, "evidence");
      EXPECT_FALSE(evidence.empty());
      if (firstHeap) EXPECT_EQ(evidence, (std::vector<std::string>{"boot", "upcase", "bitmap", "root"}));
      firstHeap = false;
    }
  }
}

// Choices that make no sense end with a message, not a crash or an empty success.
TEST(FatAdvancedChoices, NonsenseEndsWithAMessage) {
  struct Case {
    std::string image, kind;
    std::vector<std::string> choices;
    std::string said;
  };
  const std::vector<Case> cases = {
      {"fat16-2k-noboot", "FAT16", {"--tfs", "0", "--spc", "3"}, "power of two"},
      {"fat16-2k-noboot", "FAT16", {"--tfs", "0", "--spc", "256"}, "power of two"},
      {"fat16-2k-noboot", "FAT16", {"--tfs", "5", "--spc", "4"}, "--tfs"},
      {"exfat-32k-noboot", "exFAT", {"--tfs", "0", "--spc", "17", "--heap", "0"}, "shift"},
      {"exfat-32k-noboot", "exFAT", {"--tfs", "0", "--spc", "6", "--heap", "7"}, "heap offset"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image + " " + c.choices[3]);
    std::vector<std::string> args = {"ls", fixture("fat-damaged", c.image + ".img").string(), "--volume-image", "--kind",
                                     c.kind, "--mode", "advanced"};
    args.insert(args.end(), c.choices.begin(), c.choices.end());
    const CommandResult r = cli(args);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }
}

// A cluster size far above the volume's still ends: the volume is a few
// clusters, and whatever they hold is listed without a crash.
TEST(FatAdvancedChoices, HugeClustersStillEnd) {
  const CommandResult r = cli({"ls", fixture("fat-damaged", "fat16-2k-noboot.img").string(), "--volume-image", "--kind",
                               "FAT16", "--mode", "advanced", "--tfs", "0", "--spc", "128"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// A deleted folder of several clusters: its chain is gone, but its clusters
// follow each other and are still free, so every name it held is listed as
// deleted, in standard mode and when the advanced scan finds the folder.
TEST(DeletedFolder, IsReadWholeWhereItsClustersFollowEachOther) {
  const fs::path image = fixture("fat-damaged", "fat32-deleted-folder.img");
  std::vector<std::string> names;
  std::ifstream in(fixture("fat-damaged", "fat32-deleted-folder.names"));
  for (std::string line; std::getline(in, line);) names.push_back(line);
  ASSERT_GT(names.size(), 16u) << "the folder must need several 512-byte clusters";

  const std::vector<std::pair<std::string, std::vector<std::string>>> modes = {
      {"standard", {"--volume-image", "--kind", "FAT32"}},
      {"advanced", {"--volume-image", "--kind", "FAT32", "--mode", "advanced", "--tfs", "0", "--spc", "1"}},
  };
  for (const auto& [mode, selection] : modes) {
    SCOPED_TRACE(mode);
    const Listing listing = listVolume(image, selection);
    std::vector<std::string> problems;
    for (const std::string& name : names) {
      const auto found = listing.at("ROOT/Big/" + name);
      if (found.empty())
        problems.push_back(name + " is not listed under Big/");
      else if (!found.front()->deleted)
        problems.push_back(name + " is not marked deleted");
    }
    expectNoProblems(problems, "the deleted folder's names");
    // The live file behind the folder's clusters stays where it is.
    EXPECT_EQ(listing.at("ROOT/kept.txt").size(), 1u);
  }
}

}  // namespace
}  // namespace quorvel
