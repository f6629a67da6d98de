// `quorvel-cli ls`, `save` and `search` on HFS+ and HFSX volumes made by
// xorriso (tests/fixtures/build-hfs-images), in the standard and deep
// modes, with The Sleuth Kit as the oracle: fls for names, sizes and times,
// tsk_recover and icat for contents. fls prints names as the volume stores
// them (decomposed); they are composed here, as the listing shows them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "fs/UnicodeText.h"
#include "support/CliListing.h"
#include "support/TestSupport.h"
#include "support/TskOracle.h"

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

// An image of build-hfs-images by its name, or of build-images by "../NAME".
fs::path hfsImage(const std::string& name) { return fixtureImage(fs::path("hfs") / name); }

// The user's files and folders as fls lists them, by composed path; the
// volume's own files ("$ExtentsFile"...) left out.
struct TskListing {
  std::map<std::string, TskEntry> byPath;
  std::size_t files = 0;
};

TskListing readTsk(const fs::path& image) {
  TskListing tsk;
  for (TskEntry e : flsEntries(image, "hfs")) {
    if (!e.fileOrFolder() || e.deleted || e.path.starts_with("$")) continue;
    e.path = composedNfc(e.path);
    if (!e.folder) ++tsk.files;
    tsk.byPath[e.path] = e;
  }
  if (tsk.byPath.size() < 5) throw std::runtime_error("fls listed only " + std::to_string(tsk.byPath.size()) + " names");
  return tsk;
}

const TskListing& tskOf(const std::string& image) {
  static std::map<std::string, std::unique_ptr<TskListing>> cache;
  std::unique_ptr<TskListing>& slot = cache[image];
  if (!slot) slot = std::make_unique<TskListing>(readTsk(hfsImage(image)));
  return *slot;
}

// Every file and folder fls lists is listed once at its path, with the same
// folder flag and size; nothing else is listed, no ORPHAN_ENTRY either.
void expectListingMatchesFls(const TskListing& tsk, const Listing& ls) {
  std::vector<std::string> problems;
  for (const auto& [path, e] : tsk.byPath) {
    const std::vector<const LsEntry*> listed = ls.at("ROOT/" + path);
    if (listed.size() != 1) {
      problems.push_back("ROOT/" + path + ": listed " + std::to_string(listed.size()) + " times, expected once");
      continue;
    }
    if (listed[0]->folder != e.folder) problems.push_back("ROOT/" + path + ": folder flag differs from fls");
    if (!e.folder && listed[0]->size != e.size)
      problems.push_back("ROOT/" + path + ": size " + std::to_string(listed[0]->size) + ", fls says " +
                         std::to_string(e.size));
    if (listed[0]->deleted) problems.push_back("ROOT/" + path + ": listed as deleted");
  }
  for (const LsEntry& l : ls.entries)
    if (!l.path.starts_with("ROOT/") || !tsk.byPath.count(l.path.substr(5)))
      problems.push_back(l.path + ": listed, but fls does not know it");
  expectNoProblems(problems, "differences from fls");
}

struct ListingCase {
  std::string name;
  std::string image;
  std::vector<std::string> selection;
  std::string oracle;  // the image fls reads: the intact one for the damaged copies
};

void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.name; }

const std::vector<ListingCase> kListingCases = {
    {"Main", "hfs-main.img", {"--volume-image"}, "hfs-main.img"},
    {"MainDeep", "hfs-main.img", {"--volume-image", "--mode", "deep"}, "hfs-main.img"},
    // The deep scan finds the leaf nodes without the catalog's header node...
    {"CatalogHeaderZeroedDeep", "hfs-cathdr-zero.img", {"--volume-image", "--mode", "deep"}, "hfs-main.img"},
    // ...and without knowing where the catalog lies.
    {"CatalogExtentSpoiltDeep", "hfs-catext-bad.img", {"--volume-image", "--mode", "deep"}, "hfs-main.img"},
    {"Blocks512", "hfs-512.img", {"--volume-image"}, "hfs-512.img"},
    {"Blocks512Deep", "hfs-512.img", {"--volume-image", "--mode", "deep"}, "hfs-512.img"},
    {"Hfsx", "hfsx.img", {"--volume-image"}, "hfsx.img"},
    {"Overflow", "hfs-overflow.img", {"--volume-image"}, "hfs-overflow.img"},
    // The ISO as a disk: no MBR, so the volume is found by the sector scan.
    {"WholeIsoAsDisk", "hfs-disk.iso", {"--volume", "0", "--advanced"}, "hfs-main.img"},
    // A GPT partition of the disk image build-images makes.
    {"GptPartition", "../gpt.img", {"--gpt", "--volume", "4"}, "../vol-hfsplus.img"},
    {"GptPartitionDeep", "../gpt.img", {"--gpt", "--volume", "4", "--mode", "deep"}, "../vol-hfsplus.img"},
};

class HfsListing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(HfsListing, MatchesFls) {
  expectListingMatchesFls(tskOf(GetParam().oracle), listVolume(hfsImage(GetParam().image), GetParam().selection));
}

INSTANTIATE_TEST_SUITE_P(Images, HfsListing, ::testing::ValuesIn(kListingCases),
                         [](const ::testing::TestParamInfo<ListingCase>& info) { return info.param.name; });

// --- Saving: every file byte for byte as TSK reads it, with its times.

// TSK's copies of hfs-main.img's files, by composed path.
const std::map<std::string, std::string>& tskCopies() {
  static const std::map<std::string, std::string> copies = [] {
    TempFolder temp;
    toolOutput({"tsk_recover", "-a", hfsImage("hfs-main.img").string(), (temp.path() / "tsk").string()});
    std::map<std::string, std::string> out;
    for (const auto& [path, content] : filesBelow(temp.path() / "tsk")) out[composedNfc(path)] = content;
    return out;
  }();
  return copies;
}

struct SavedTimes {
  std::int64_t accessed = 0;
  std::int64_t modified = 0;
};

struct SaveCase {
  std::string name;
  std::string image;
  std::vector<std::string> selection;
};

void PrintTo(const SaveCase& c, std::ostream* os) { *os << c.name; }

class HfsSaving : public ::testing::TestWithParam<SaveCase> {};

TEST_P(HfsSaving, SavesEveryFileAsTheSleuthKitReadsItWithItsTimes) {
  TempFolder temp;
  const fs::path out = temp.path() / "saved";
  std::vector<std::string> args = {"save", hfsImage(GetParam().image).string()};
  args.insert(args.end(), GetParam().selection.begin(), GetParam().selection.end());
  args.insert(args.end(), {"--path", "ROOT", "--out", out.string()});
  const CommandResult r = cli(args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, SavedTimes> times;
  for (const auto& item : fs::recursive_directory_iterator(out)) {
    struct stat st {};
    if (lstat(item.path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
      times[fs::relative(item.path(), out).generic_string()] = {st.st_atim.tv_sec, st.st_mtim.tv_sec};
  }
  const std::map<std::string, std::string> saved = filesBelow(out);
  std::vector<std::string> problems;
  std::size_t compared = 0;
  for (const auto& [path, e] : tskOf("hfs-main.img").byPath) {
    if (e.folder) continue;
    const auto got = saved.find(path);
    // Empty files have no blocks, and no file is made for them.
    if (e.size == 0) {
      if (got != saved.end() && !got->second.empty()) problems.push_back(path + ": empty, saved with content");
      continue;
    }
    if (got == saved.end()) {
      problems.push_back(path + ": not saved");
      continue;
    }
    ++compared;
    // tsk_recover cannot write a decomposed name longer than 255 bytes.
    const auto copy = tskCopies().find(path);
    const std::string want =
        copy != tskCopies().end() ? copy->second : icat(hfsImage("hfs-main.img"), e.inode, "hfs");
    if (got->second != want) problems.push_back(path + ": " + describeDifference(got->second, want));
    const SavedTimes& t = times[path];
    if (t.modified != e.modified)
      problems.push_back(path + ": modified " + std::to_string(t.modified) + ", fls says " + std::to_string(e.modified));
    if (t.accessed != e.accessed)
      problems.push_back(path + ": accessed " + std::to_string(t.accessed) + ", fls says " + std::to_string(e.accessed));
  }
  EXPECT_GT(compared, 2500u);  // a seventh of Many/ is empty
  expectNoProblems(problems, "saved files that differ from TSK's");
}

INSTANTIATE_TEST_SUITE_P(
    Images, HfsSaving,
    ::testing::Values(SaveCase{"Main", "hfs-main.img", {"--volume-image"}},
                      SaveCase{"CatalogHeaderZeroedDeep", "hfs-cathdr-zero.img", {"--volume-image", "--mode", "deep"}},
                      SaveCase{"CatalogExtentSpoiltDeep", "hfs-catext-bad.img", {"--volume-image", "--mode", "deep"}}),
    [](const ::testing::TestParamInfo<SaveCase>& info) { return info.param.name; });

// The files whose storage is out of the ordinary, each against icat itself.
TEST(HfsUnusualFiles, SavedAsIcatReadsThem) {
  struct Case {
    std::string image;
    std::string path;
  };
  const Case cases[] = {
      {"hfs-overflow.img", "Split/nine.bin"},  // eight extents in its record, the rest in two overflow records
      {"hfs-overflow.img", "Split/after.txt"},
      {"hfsx.img", "Sizes/size-30000.bin"},
      {"hfs-512.img", "Sizes/size-513.bin"},
      {"hfs-512.img", "Unicode/caf\u00e9 \u00fcber.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image + " " + c.path);
    TempFolder temp;
    const CommandResult r = cli({"save", hfsImage(c.image).string(), "--volume-image", "--path",
                                 "ROOT/" + c.path, "--out", temp.path().string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const fs::path saved = temp.path() / baseName(c.path);
    ASSERT_TRUE(fs::is_regular_file(saved)) << r.out;
    const std::string want = icat(hfsImage(c.image), tskOf(c.image).byPath.at(c.path).inode, "hfs");
    const std::string got = readWhole(saved);
    EXPECT_TRUE(got == want) << describeDifference(got, want);
  }
}

// --- Times: the list shows the content-modification date, and the JSON
// gives the catalog's dates as UTC, counted from 1904.

TEST(HfsTimes, ListedTimesAreTheCatalogDates) {
  setenv("TZ", "UTC", 1);
  tzset();
  const TskListing& tsk = tskOf("hfs-main.img");
  const Listing ls = listVolume(hfsImage("hfs-main.img"), {"--volume-image"});
  std::vector<std::string> problems;
  for (const auto& [path, e] : tsk.byPath) {
    const std::vector<const LsEntry*> listed = ls.at("ROOT/" + path);
    if (listed.size() != 1) continue;  // reported by the listing test
    const LsEntry& l = *listed[0];
    const std::pair<const char*, std::pair<std::optional<std::string>, std::int64_t>> utc[] = {
        {"created", {l.createdUtc, e.created}}, {"accessed", {l.accessedUtc, e.accessed}},
        {"modified", {l.modifiedUtc, e.modified}}};
    for (const auto& [field, pair] : utc) {
      const std::optional<std::string> want = pair.second == 0 ? std::nullopt : std::optional(utcTime(pair.second));
      if (pair.first != want)
        problems.push_back(path + ": " + field + " " + pair.first.value_or("null") + ", fls says " + want.value_or("none"));
    }
    if (!e.folder && l.modified != rowTime(e.modified))
      problems.push_back(path + ": row modified \"" + l.modified + "\", expected \"" + rowTime(e.modified) + "\"");
  }
  expectNoProblems(problems, "times that differ from the catalog's");
}

// --- Refusals: a clear message and a failing exit, never a listing.

TEST(HfsRefusals, StandardModeOnUnreadableVolumesSaysWhy) {
  struct Case {
    std::string image;
    std::vector<std::string> selection;
    std::string message;
  };
  const Case cases[] = {
      {"hfs-cathdr-zero.img", {"--volume-image"}, "deep mode"},
      {"hfs-catext-bad.img", {"--volume-image"}, "deep mode"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    std::vector<std::string> args = {"ls", hfsImage(c.image).string()};
    args.insert(args.end(), c.selection.begin(), c.selection.end());
    const CommandResult r = cli(args);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

// --- Search: composed names typed on Linux find the decomposed names stored.

TEST(HfsSearch, ComposedPatternsFindDecomposedNames) {
  struct Case {
    std::string pattern;
    std::vector<std::string> hits;
  };
  const Case cases[] = {
      {"caf\u00e9", {"ROOT/Unicode/caf\u00e9.txt"}},
      {"^inner\\.txt$", {"ROOT/Unicode/\u00e9t\u00e9/inner.txt"}},
      {"\ud55c\uad6d", {"ROOT/Unicode/\ud55c\uad6d\uc5b4.txt"}},
      {"^file-0000[12]\\.txt$", {"ROOT/Many/file-00001.txt", "ROOT/Many/file-00002.txt"}},
  };
  for (const std::string mode : {"standard", "deep"})
    for (const Case& c : cases) {
      SCOPED_TRACE(mode + " " + c.pattern);
      const CommandResult r = cli({"search", hfsImage("hfs-main.img").string(), "--volume-image", "--mode", mode, c.pattern});
      ASSERT_EQ(r.exitCode, 0) << r.err;
      std::set<std::string> hits;
      std::istringstream in(r.out);
      for (std::string line; std::getline(in, line);) hits.insert(line);
      EXPECT_EQ(hits, std::set<std::string>(c.hits.begin(), c.hits.end()));
    }
}

}  // namespace
}  // namespace quorvel
