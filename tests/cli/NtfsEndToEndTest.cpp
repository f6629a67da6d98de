// `quorvel-cli ls`, `save`, `search` and `candidates` on NTFS volumes made by
// mkntfs and populated through ntfs-3g (tests/fixtures/build-ntfs-images),
// with The Sleuth Kit as the oracle: fls for names, sizes and times, icat
// and tsk_recover for contents.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/CliListing.h"
#include "support/TestSupport.h"
#include "support/TskOracle.h"

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

const std::string kRecycleFolder = "$RECYCLE.BIN/S-1-5-21-1111-2222-3333-1001";

fs::path ntfsImage(const std::string& name) { return fixtureImage(fs::path("ntfs") / name); }

// Facts the builder wrote down because no oracle tool can tell them.
std::string fact(const std::string& key) {
  std::ifstream in(ntfsImage("ntfs-expected.txt"));
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
  throw std::runtime_error("ntfs-expected.txt has no " + key);
}

// --- The oracle: `fls -r -m /` (body format) gives every name with its
// inode, type, size of the unnamed data stream and $STANDARD_INFORMATION
// times, live and deleted.

struct TskListing {
  std::vector<TskEntry> live;                            // user files and folders: no metadata files, no named streams
  std::vector<TskEntry> deleted;                         // deleted names that still have a record of their own
  std::map<std::string, TskEntry> byPath;                // every live name, streams and metadata too
  std::map<std::string, std::vector<TskEntry>> streams;  // file path -> its named streams

  const TskEntry& at(const std::string& path) const {
    const auto it = byPath.find(path);
    if (it == byPath.end()) throw std::runtime_error("fls lists no " + path);
    return it->second;
  }
};

TskListing readTsk(const fs::path& image) {
  TskListing tsk;
  for (const TskEntry& e : flsEntries(image)) {
    if (e.path.find(" ($FILE_NAME)") != std::string::npos || e.reallocated) continue;
    if (!e.fileOrFolder()) continue;  // $OrphanFiles itself
    const bool metadata = e.path.starts_with("$");
    const bool stream = baseName(e.path).find(':') != std::string::npos;
    if (e.deleted) {
      // fls invents "OrphanFile-N" for records without any name.
      if (e.lostParent && baseName(e.path).starts_with("OrphanFile-")) continue;
      if (!stream) tsk.deleted.push_back(e);
      continue;
    }
    if (stream) {
      tsk.streams[e.path.substr(0, e.path.rfind(':'))].push_back(e);
    } else if (!metadata) {
      tsk.live.push_back(e);
    }
    tsk.byPath[e.path] = e;
  }
  if (tsk.live.size() < 3000) throw std::runtime_error("fls listed only " + std::to_string(tsk.live.size()) + " names");
  return tsk;
}

const TskListing& mainTsk() {
  static const TskListing tsk = readTsk(ntfsImage("ntfs-main.img"));
  return tsk;
}

std::string ntfsIcat(const fs::path& image, const std::string& inode) { return icat(image, inode, "ntfs"); }

// --- Listings: the same check on every image whose MFT can be reached.

// Every live file and folder fls lists is listed once at its path with the
// same folder flag and size; every live entry listed outside the metadata
// files and ORPHAN_ENTRY is one that fls knows; every deleted name fls
// knows is listed as deleted: at its path when its folder is live, else at
// its path or anywhere under ORPHAN_ENTRY.
void expectListingMatchesFls(const TskListing& tsk, const Listing& ls) {
  std::vector<std::string> problems;
  for (const TskEntry& e : tsk.live) {
    std::vector<const LsEntry*> live;
    for (const LsEntry* l : ls.at("ROOT/" + e.path))
      if (!l->deleted) live.push_back(l);
    if (live.size() != 1) {
      problems.push_back("ROOT/" + e.path + ": listed live " + std::to_string(live.size()) + " times, expected once");
      continue;
    }
    if (live[0]->folder != e.folder) problems.push_back("ROOT/" + e.path + ": folder flag differs from fls");
    if (!e.folder && live[0]->size != e.size)
      problems.push_back("ROOT/" + e.path + ": size " + std::to_string(live[0]->size) + ", fls says " +
                         std::to_string(e.size));
  }
  for (const LsEntry& l : ls.entries) {
    if (l.deleted || !l.path.starts_with("ROOT/") || l.path.starts_with("ROOT/$") ||
        l.path.starts_with("ROOT/ORPHAN_ENTRY"))
      continue;
    const auto it = tsk.byPath.find(l.path.substr(5));
    if (it == tsk.byPath.end()) problems.push_back(l.path + ": listed live, but fls does not know it");
  }
  for (const TskEntry& e : tsk.deleted) {
    const std::size_t slash = e.path.rfind('/');
    const bool liveFolder = slash == std::string::npos || tsk.byPath.count(e.path.substr(0, slash)) > 0;
    const std::string tail = "/" + baseName(e.path);
    bool found = false;
    for (const LsEntry& l : ls.entries) {
      if (!l.deleted || l.folder != e.folder || !l.path.ends_with(tail)) continue;
      if (l.path == "ROOT/" + e.path || (!liveFolder && (l.path.starts_with("ROOT/ORPHAN_ENTRY/") || e.lostParent)))
        found = true;
    }
    if (!found)
      problems.push_back(e.path + " (deleted): not listed as deleted at its path" +
                         (liveFolder ? "" : " or under ORPHAN_ENTRY"));
  }
  expectNoProblems(problems, "differences from fls");
}

struct ListingCase {
  std::string name;
  std::string image;
  std::vector<std::string> selection;  // "{current}" stands for the current MFT's candidate number
};

void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.name; }

class NtfsListing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(NtfsListing, MatchesFls) {
  // The copies differ from ntfs-main.img only in the boot sector or in free
  // clusters, so fls on ntfs-main.img is the oracle for all of them.
  std::vector<std::string> selection = GetParam().selection;
  for (std::string& a : selection)
    if (a == "{current}") a = fact("two-mfts.current-candidate");
  expectListingMatchesFls(mainTsk(), listVolume(ntfsImage(GetParam().image), selection));
}

INSTANTIATE_TEST_SUITE_P(
    Images, NtfsListing,
    ::testing::Values(ListingCase{"Main", "ntfs-main.img", {"--volume-image"}},
                      // The parser finds the MFT by scanning for its records.
                      ListingCase{"ZeroedBootSector", "ntfs-bootzero.img", {"--volume-image", "--kind", "NTFS"}},
                      ListingCase{"CurrentOfTwoMfts",
                                  "ntfs-two-mfts.img",
                                  {"--volume-image", "--mode", "advanced", "--tfs", "{current}", "--spc", "8"}}),
    [](const ::testing::TestParamInfo<ListingCase>& info) { return info.param.name; });

// --- Saving the whole of ntfs-main.img once, then comparing.

struct SavedFile {
  std::int64_t accessed = 0;  // seconds
  std::int64_t modified = 0;
};

class NtfsMainVolume : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The row texts are local times; the comparisons below are in UTC.
    setenv("TZ", "UTC", 1);
    tzset();
  }
  static void TearDownTestSuite() { state_.reset(); }

  static fs::path image() { return ntfsImage("ntfs-main.img"); }

  static const Listing& listing() {
    State& s = state();
    if (!s.listing) s.listing = listVolume(image(), {"--volume-image"});
    return *s.listing;
  }

  // The whole volume, saved once per test process.
  static const CommandResult& saveResult() {
    State& s = state();
    if (s.save) return *s.save;
    const fs::path out = s.temp.path() / "saved";
    s.save = cli({"save", image().string(), "--volume-image", "--path", "ROOT", "--out", out.string()});
    // Times first: reading the files could move their access times.
    if (fs::exists(out))
      for (const auto& item : fs::recursive_directory_iterator(out)) {
        struct stat st {};
        if (lstat(item.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        s.savedTimes[fs::relative(item.path(), out).generic_string()] = {st.st_atim.tv_sec, st.st_mtim.tv_sec};
      }
    return *s.save;
  }
  static fs::path saved() {
    saveResult();
    return state().temp.path() / "saved";
  }
  static const std::map<std::string, SavedFile>& savedTimes() {
    saveResult();
    return state().savedTimes;
  }

  // TSK's copy of a live file: tsk_recover's, else icat's.
  static std::string tskContent(const TskEntry& e) {
    State& s = state();
    const fs::path copies = s.temp.path() / "tsk";
    if (!s.tskRecovered) {
      toolOutput({"tsk_recover", "-a", image().string(), copies.string()});
      s.tskRecovered = true;
    }
    const fs::path copy = copies / e.path;
    return fs::is_regular_file(copy) ? readWhole(copy) : ntfsIcat(image(), e.inode);
  }

 private:
  struct State {
    TempFolder temp;
    std::optional<Listing> listing;
    std::optional<CommandResult> save;
    std::map<std::string, SavedFile> savedTimes;
    bool tskRecovered = false;
  };
  static State& state() {
    if (!state_) state_ = std::make_unique<State>();
    return *state_;
  }
  static std::unique_ptr<State> state_;
};

std::unique_ptr<NtfsMainVolume::State> NtfsMainVolume::state_;

TEST_F(NtfsMainVolume, SavingTheWholeVolumeSucceeds) {
  EXPECT_EQ(saveResult().exitCode, 0) << saveResult().err;
  EXPECT_TRUE(saveResult().out.starts_with("saved ")) << saveResult().out;
}

TEST_F(NtfsMainVolume, SavesEveryLiveFileAsTheSleuthKitReadsIt) {
  std::vector<std::string> problems;
  for (const TskEntry& e : mainTsk().live) {
    if (e.folder) continue;
    const fs::path path = saved() / e.path;
    if (!fs::is_regular_file(path)) {
      problems.push_back(e.path + ": not saved");
      continue;
    }
    const std::string got = readWhole(path);
    const std::string want = tskContent(e);
    if (got != want) problems.push_back(e.path + ": " + describeDifference(got, want));
  }
  expectNoProblems(problems, "saved files differ from TSK's copies");
}

// The files whose storage is out of the ordinary, each against icat itself.
TEST_F(NtfsMainVolume, SavesTheUnusuallyStoredFilesAsIcatReadsThem) {
  const char* const paths[] = {
      "Compressed/five-units.txt",         // whole compressed units
      "Compressed/partial-last-unit.txt",  // a last unit cut short
      "Compressed/zero-unit-between.txt",  // an all-zero (sparse) unit between two compressed ones
      "Compressed/incompressible.bin",     // units stored uncompressed
      "Compressed/tiny.txt",               // resident in a compressed folder
      "Sparse/holes.bin",                  // holes before, between and after data
      "Sparse/tail-hole.bin",              // data, then a hole to the end
      "Fragmented/scattered.bin",          // runs past its record: attribute list, extension records
      "Streams/large-stream.txt",          // resident data beside a non-resident named stream
      "Documents/empty.txt",               // no data at all
      "Documents/Projects/2024/Q1/budget.csv",
      "LongNames/Quarterly Financial Summary 2024.xlsx",
      "Unicode/emoji \U0001F600\U0001F389.txt",
      "Unicode/\u6587\u4EF6\u5939/\u0432\u043D\u0443\u0442\u0440\u0438.txt",
  };
  for (const std::string path : paths) {
    SCOPED_TRACE(path);
    const std::string want = ntfsIcat(image(), mainTsk().at(path).inode);
    ASSERT_TRUE(fs::is_regular_file(saved() / path)) << "not saved";
    const std::string got = readWhole(saved() / path);
    EXPECT_TRUE(got == want) << describeDifference(got, want);
  }
}

TEST_F(NtfsMainVolume, SavedFilesGetTheStandardInformationTimes) {
  std::vector<std::string> problems;
  for (const TskEntry& e : mainTsk().live) {
    if (e.folder) continue;
    const auto it = savedTimes().find(e.path);
    if (it == savedTimes().end()) {
      problems.push_back(e.path + ": not saved");
      continue;
    }
    if (it->second.modified != e.modified)
      problems.push_back(e.path + ": modified " + std::to_string(it->second.modified) + ", TSK says " +
                         std::to_string(e.modified));
    if (it->second.accessed != e.accessed)
      problems.push_back(e.path + ": accessed " + std::to_string(it->second.accessed) + ", TSK says " +
                         std::to_string(e.accessed));
  }
  expectNoProblems(problems, "saved files with other times than $STANDARD_INFORMATION");
}

// A deleted file whose record and clusters nothing reused is saved, from
// wherever the listing shows it, with the content icat still reads.
TEST_F(NtfsMainVolume, SavesDeletedFilesWithTheirLastContent) {
  std::vector<std::string> problems;
  int checked = 0;
  for (const TskEntry& e : mainTsk().deleted) {
    if (e.folder) continue;
    const std::string want = ntfsIcat(image(), e.inode);
    bool matched = false;
    std::string seen;
    for (const LsEntry& l : listing().entries) {
      if (!l.deleted || l.folder || !l.path.ends_with("/" + baseName(e.path))) continue;
      const fs::path path = saved() / l.path.substr(5);
      const std::string got = fs::is_regular_file(path) ? readWhole(path) : std::string();
      if (got == want) matched = true;
      seen += " " + l.path + ": " + (fs::is_regular_file(path) ? describeDifference(got, want) : "not saved") + ";";
    }
    ++checked;
    if (!matched) problems.push_back(e.path + " (deleted):" + (seen.empty() ? " not listed" : seen));
  }
  EXPECT_GE(checked, 5) << "the image should hold deleted files";
  expectNoProblems(problems, "deleted files not saved with their content");
}

TEST_F(NtfsMainVolume, NamedStreamIsNotTheFileContent) {
  for (const std::string path : {"Streams/small-stream.txt", "Streams/large-stream.txt"}) {
    SCOPED_TRACE(path);
    const TskEntry& file = mainTsk().at(path);
    ASSERT_EQ(mainTsk().streams.count(path), 1u) << "the fixture lost its stream";
    const TskEntry& stream = mainTsk().streams.at(path).front();
    const std::vector<const LsEntry*> listed = listing().at("ROOT/" + path);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]->size, file.size) << "the size is the unnamed stream's";
    const std::string got = readWhole(saved() / path);
    EXPECT_EQ(got, ntfsIcat(image(), file.inode));
    EXPECT_NE(got, ntfsIcat(image(), stream.address)) << "the named stream was saved";
  }
}

TEST_F(NtfsMainVolume, ListedTimesAreTheStandardInformationTimes) {
  std::vector<std::string> problems;
  for (const TskEntry& e : mainTsk().live) {
    if (e.folder) continue;
    const std::vector<const LsEntry*> listed = listing().at("ROOT/" + e.path);
    if (listed.size() != 1) continue;  // reported by the listing test
    if (listed[0]->modified != rowTime(e.modified))
      problems.push_back(e.path + ": modified \"" + listed[0]->modified + "\", expected \"" + rowTime(e.modified) +
                         "\"");
    if (listed[0]->accessed != rowTime(e.accessed))
      problems.push_back(e.path + ": accessed \"" + listed[0]->accessed + "\", expected \"" + rowTime(e.accessed) +
                         "\"");
  }
  expectNoProblems(problems, "listed times differ from $STANDARD_INFORMATION");
}

// --- JSON: the UTC texts of ls --json.

class CliNtfsJson : public NtfsMainVolume {};

// Every live file and folder gets its $STANDARD_INFORMATION times, to the
// second, as fls reads them.
TEST_F(CliNtfsJson, UtcTimesAreTheStandardInformationTimes) {
  std::vector<std::string> problems;
  std::size_t compared = 0;
  const auto check = [&](const LsEntry& l, const char* field, const std::optional<std::string>& listed,
                         std::int64_t tsk) {
    const std::optional<std::string> want = tsk == 0 ? std::nullopt : std::optional<std::string>(utcTime(tsk));
    if (listed != want)
      problems.push_back(l.path + ": " + field + " " + listed.value_or("null") + ", fls says " + want.value_or("none"));
  };
  for (const TskEntry& e : mainTsk().live) {
    std::vector<const LsEntry*> live;
    for (const LsEntry* l : listing().at("ROOT/" + e.path))
      if (!l->deleted) live.push_back(l);
    if (live.size() != 1) continue;  // reported by the listing test
    ++compared;
    check(*live[0], "createdUtc", live[0]->createdUtc, e.created);
    check(*live[0], "accessedUtc", live[0]->accessedUtc, e.accessed);
    check(*live[0], "modifiedUtc", live[0]->modifiedUtc, e.modified);
  }
  EXPECT_GE(compared, mainTsk().live.size() * 99 / 100);
  expectNoProblems(problems, "UTC times that differ from $STANDARD_INFORMATION");
}

// A time is null exactly where the row shows none: the ORPHAN_ENTRY
// folder, which the scan makes and no record describes, among them.
TEST_F(CliNtfsJson, NullExactlyWhereTheRowShowsNoTime) {
  std::vector<std::string> problems;
  for (const LsEntry& l : listing().entries) {
    const std::pair<const std::string*, const std::optional<std::string>*> times[] = {
        {&l.created, &l.createdUtc}, {&l.accessed, &l.accessedUtc}, {&l.modified, &l.modifiedUtc}};
    for (const auto& [row, utc] : times)
      if (row->empty() != !utc->has_value())
        problems.push_back(l.path + ": row \"" + *row + "\", UTC " + utc->value_or("null"));
  }
  expectNoProblems(problems, "entries whose row and UTC texts disagree on whether there is a time");
  // The orphan folder, shown only when it holds something, has no times.
  for (const LsEntry* orphans : listing().at("ROOT/ORPHAN_ENTRY")) {
    EXPECT_FALSE(orphans->createdUtc);
    EXPECT_FALSE(orphans->accessedUtc);
    EXPECT_FALSE(orphans->modifiedUtc);
  }
}

struct SearchCase {
  std::string pattern;
  std::vector<std::string> hits;  // every path the search must print, and nothing else
};

TEST_F(NtfsMainVolume, SearchFindsNamesInEveryScriptIgnoringCase) {
  const SearchCase cases[] = {
      {"\u043f\u0440\u0438\u0432\u0435\u0442",
       {"ROOT/Unicode/\u041f\u0440\u0438\u0432\u0435\u0442 \u043c\u0438\u0440.txt"}},
      {"\u03b5\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac",
       {"ROOT/Unicode/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.txt"}},
      {"\U0001F389", {"ROOT/Unicode/emoji \U0001F600\U0001F389.txt"}},
      {"^item-000[1-3]\\.TXT$", {"ROOT/Many/item-0001.txt", "ROOT/Many/item-0002.txt", "ROOT/Many/item-0003.txt"}},
      {"quarterly|rather long",
       {"ROOT/LongNames/Quarterly Financial Summary 2024.xlsx",
        "ROOT/LongNames/A rather long name for a document.txt"}},
      // Exponential for a backtracking matcher on every name that fails.
      {"^(.|..)*Z$", {}},
      {"^(.|..)*summary(.|..)*X$", {"ROOT/LongNames/Quarterly Financial Summary 2024.xlsx"}},
      // Typed decomposed and in capitals; the volume holds it composed.
      {"^\u0395\u039b\u039b\u0397\u039d\u0399\u039a\u0391\u0301\\.txt$",
       {"ROOT/Unicode/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.txt"}},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    const CommandResult r = cli({"search", image().string(), "--volume-image", c.pattern});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> hits;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) hits.push_back(line);
    std::vector<std::string> want = c.hits;
    std::sort(hits.begin(), hits.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(hits, want);
  }
}

struct PartialSave {
  std::string path;                          // what --path names
  std::map<std::string, std::string> files;  // every file written -> the volume path it holds
};

TEST_F(NtfsMainVolume, SavesOneFolderOrOneFileByItsPath) {
  const PartialSave cases[] = {
      {"ROOT/Documents/Projects",
       {{"2024/Q1/plan.txt", "Documents/Projects/2024/Q1/plan.txt"},
        {"2024/Q1/budget.csv", "Documents/Projects/2024/Q1/budget.csv"},
        {"2024/Q2/review.txt", "Documents/Projects/2024/Q2/review.txt"},
        {"2024/roadmap.md", "Documents/Projects/2024/roadmap.md"}}},
      {"ROOT/Unicode/\u6587\u4EF6\u5939",
       {{"\u0432\u043D\u0443\u0442\u0440\u0438.txt",
         "Unicode/\u6587\u4EF6\u5939/\u0432\u043D\u0443\u0442\u0440\u0438.txt"}}},
      {"ROOT/Sparse/holes.bin", {{"holes.bin", "Sparse/holes.bin"}}},
      {"ROOT/Compressed/zero-unit-between.txt", {{"zero-unit-between.txt", "Compressed/zero-unit-between.txt"}}},
  };
  for (const PartialSave& c : cases) {
    SCOPED_TRACE(c.path);
    TempFolder out;
    const CommandResult r =
        cli({"save", image().string(), "--volume-image", "--path", c.path, "--out", out.path().string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::map<std::string, std::string> written = filesBelow(out.path());
    std::map<std::string, std::string> want;
    for (const auto& [file, volumePath] : c.files) want[file] = ntfsIcat(image(), mainTsk().at(volumePath).inode);
    EXPECT_TRUE(written == want) << written.size() << " files written, " << want.size() << " expected";
  }
}

struct RecycledFile {
  std::string dataName;    // the $R name on the volume
  std::string formerName;  // from its $I index file
  std::string pattern;     // a search that finds it
};

TEST_F(NtfsMainVolume, RecycleBinDataFilesGetTheirFormerNames) {
  const RecycledFile files[] = {
      {"$RA1B2C3.docx", "Report.docx", "Report"},                    // version 1 index file
      {"$RZ9Y8X7.jpg", "Holiday \u00DCn\u00EFcode.jpg", "Holiday"},  // version 2 index file
  };
  for (const RecycledFile& f : files) {
    SCOPED_TRACE(f.formerName);
    const TskEntry& data = mainTsk().at(kRecycleFolder + "/" + f.dataName);
    const std::string listedPath = "ROOT/" + kRecycleFolder + "/" + f.formerName;

    const std::vector<const LsEntry*> listed = listing().at(listedPath);
    ASSERT_EQ(listed.size(), 1u) << "not listed under its former name";
    EXPECT_FALSE(listed[0]->folder);
    EXPECT_FALSE(listed[0]->deleted);
    EXPECT_EQ(listed[0]->size, data.size);
    EXPECT_TRUE(listing().at("ROOT/" + kRecycleFolder + "/" + f.dataName).empty()) << "still listed as " << f.dataName;

    const CommandResult search = cli({"search", image().string(), "--volume-image", f.pattern});
    EXPECT_EQ(search.exitCode, 0) << search.err;
    EXPECT_NE(("\n" + search.out).find("\n" + listedPath + "\n"), std::string::npos) << search.out;

    const fs::path path = saved() / kRecycleFolder / f.formerName;
    ASSERT_TRUE(fs::is_regular_file(path)) << "not saved under its former name";
    EXPECT_EQ(readWhole(path), ntfsIcat(image(), data.inode));
  }
}

// Without a boot sector, the deep scan gathers the records under
// ORPHAN_ENTRY by disk order: names and contents survive, paths do not.
TEST_F(NtfsMainVolume, DeepScanWithoutBootSectorFindsEveryNameAndContent) {
  const fs::path image = ntfsImage("ntfs-bootzero.img");
  const std::vector<std::string> selection = {"--volume-image", "--kind", "NTFS", "--mode", "deep"};
  const Listing ls = listVolume(image, selection);
  std::set<std::pair<std::string, bool>> listedNames;
  for (const LsEntry& l : ls.entries)
    if (!l.deleted) listedNames.emplace(baseName(l.path), l.folder);

  TempFolder out;
  std::vector<std::string> args = {"save", image.string()};
  args.insert(args.end(), selection.begin(), selection.end());
  args.insert(args.end(), {"--path", "ROOT", "--out", out.path().string()});
  const CommandResult save = cli(args);
  EXPECT_EQ(save.exitCode, 0) << save.err;
  std::multimap<std::string, fs::path> savedByName;
  for (const auto& item : fs::recursive_directory_iterator(out.path()))
    if (item.is_regular_file()) savedByName.emplace(item.path().filename().string(), item.path());

  std::vector<std::string> problems;
  for (const TskEntry& e : mainTsk().live) {
    const std::string name = baseName(e.path);
    if (!listedNames.count({name, e.folder})) {
      problems.push_back(e.path + ": no live " + (e.folder ? "folder" : "file") + " of that name listed");
      continue;
    }
    if (e.folder) continue;
    const std::string want = tskContent(e);
    bool matched = false;
    for (auto [it, end] = savedByName.equal_range(name); it != end && !matched; ++it)
      matched = readWhole(it->second) == want;
    if (!matched) problems.push_back(e.path + ": no saved file of that name has its content");
  }
  expectNoProblems(problems, "names or contents the deep scan lost");
}

// --- The advanced-mode search for MFTs.

// Both $MFT records are offered, and each candidate reads its own
// catalogue: the older MFT's runs were pointed at its copy.
TEST(NtfsCandidates, OffersTheCurrentAndTheOlderMftAndReadsTheChosenOne) {
  const fs::path image = ntfsImage("ntfs-two-mfts.img");
  const CommandResult r = cli({"candidates", image.string(), "--volume-image", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  int tfs = 0;
  for (const auto& fields : parseJsonLines(r.out))
    if (jsonText(fields, "list") == "tfs") ++tfs;
  EXPECT_GE(tfs, 2) << r.out;

  const auto listed = [&](const std::string& candidate, const std::string& path) {
    const Listing ls = listVolume(image, {"--volume-image", "--mode", "advanced", "--tfs", candidate, "--spc", "8"});
    return !ls.at(path).empty();
  };
  const std::string current = fact("two-mfts.current-candidate");
  const std::string older = fact("two-mfts.older-candidate");
  EXPECT_TRUE(listed(older, "ROOT/previous.txt"));
  EXPECT_FALSE(listed(older, "ROOT/readme.txt"));
  EXPECT_FALSE(listed(current, "ROOT/previous.txt"));
}

// --- Damaged input: an answer or one clear sentence, never a crash.

// 4 MiB of MFT records forged from noise: names of letters, dots, slashes,
// colons and stray UTF-16 surrogates; parents anywhere, so folders contain
// their ancestors; data resident or in random runs, sometimes compressed;
// attribute lists and extension records naming random records; and one
// record in ten with a bit flipped after its fix-ups were applied. Record 0
// is called $MFT, so the search for the MFT follows its random runs.
std::vector<std::uint8_t> forgedRecords() {
  std::mt19937 random(20240103);
  const auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
  constexpr std::uint32_t kRecords = 4096;
  std::vector<std::uint8_t> b(kRecords * 1024);
  for (std::uint8_t& v : b) v = static_cast<std::uint8_t>(random());
  // An attribute header: zeros but for type, length, form and where its
  // value or runs start.
  const auto header = [&](std::size_t a, std::uint32_t type, std::uint32_t length, bool nonResident) {
    std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(a), nonResident ? 0x40 : 0x18, 0);
    putLe32(b, a, type);
    putLe32(b, a + 4, length);
    b[a + 8] = nonResident ? 1 : 0;
    putLe16(b, a + 0x0A, nonResident ? 0x40 : 0x18);
    if (!nonResident) putLe16(b, a + 0x14, 0x18);
  };
  for (std::uint32_t r = 0; r < kRecords; ++r) {
    const std::size_t at = r * 1024;
    putText(b, at, "FILE");
    putLe16(b, at + 0x04, 0x30);  // update sequence at 0x30, three words
    putLe16(b, at + 0x06, 3);
    putLe16(b, at + 0x10, static_cast<std::uint16_t>(1 + pick(5)));
    putLe16(b, at + 0x14, 0x38);
    putLe16(b, at + 0x16, static_cast<std::uint16_t>(pick(4)));
    putLe32(b, at + 0x18, 1024);
    putLe32(b, at + 0x1C, 1024);
    putLe64(b, at + 0x20, pick(8) == 0 ? pick(kRecords) : 0);
    std::size_t a = at + 0x38;

    const std::uint32_t nameLength = r == 0 ? 4 : 1 + pick(24);
    const std::uint32_t fnValue = 0x42 + 2 * nameLength;
    const std::uint32_t fnLength = (0x18 + fnValue + 7) & ~7u;
    header(a, 0x30, fnLength, false);
    putLe32(b, a + 0x10, fnValue);
    const std::size_t v = a + 0x18;
    putLe64(b, v, r == 0 ? 5 : pick(kRecords + 64));
    putLe64(b, v + 0x28, pick(1 << 20));
    putLe64(b, v + 0x30, pick(1 << 20));
    putLe32(b, v + 0x38, pick(3) == 0 ? 0x10000000 : pick(0x10000));
    b[v + 0x40] = static_cast<std::uint8_t>(nameLength);
    b[v + 0x41] = static_cast<std::uint8_t>(pick(4));
    const std::string letters = "abcdefghij./\\:*";
    for (std::uint32_t k = 0; k < nameLength; ++k) {
      std::uint16_t c = pick(10) == 0 ? static_cast<std::uint16_t>(0xD800 + pick(0x800))
                                      : static_cast<std::uint8_t>(letters[pick(letters.size())]);
      if (r == 0) c = static_cast<std::uint8_t>("$MFT"[k]);
      putLe16(b, v + 0x42 + 2 * k, c);
    }
    a += fnLength;

    if (pick(3) == 0) {  // runs: 16 bytes of noise after the header
      header(a, 0x80, 0x50, true);
      putLe16(b, a + 0x0C, static_cast<std::uint16_t>(pick(4) == 0 ? 1 : 0));
      putLe64(b, a + 0x18, pick(64));
      putLe16(b, a + 0x20, 0x40);
      putLe16(b, a + 0x22, static_cast<std::uint16_t>(pick(2) * 4));
      putLe64(b, a + 0x28, pick(1 << 18));
      putLe64(b, a + 0x30, pick(1 << 16));
      putLe64(b, a + 0x38, pick(1 << 16));
      a += 0x50;
    } else {
      const std::uint32_t valueLength = pick(200);
      const std::uint32_t length = (0x18 + valueLength + 7) & ~7u;
      header(a, 0x80, length, false);
      putLe32(b, a + 0x10, valueLength);
      a += length;
    }
    if (pick(6) == 0) {  // an attribute list of three entries
      header(a, 0x20, 0x78, false);
      putLe32(b, a + 0x10, 0x60);
      for (std::size_t e = a + 0x18; e < a + 0x78; e += 0x20) {
        putLe32(b, e, pick(2) == 0 ? 0x30 : 0x80);
        putLe16(b, e + 4, 0x20);
        putLe64(b, e + 0x10, pick(kRecords));
      }
      a += 0x78;
    }
    putLe32(b, a, 0xFFFFFFFF);

    const auto usn = static_cast<std::uint16_t>(1 + pick(0xFFFE));
    putLe16(b, at + 0x30, usn);
    for (std::size_t k = 1; k <= 2; ++k) {
      const std::size_t sectorEnd = at + k * 512 - 2;
      b[at + 0x30 + 2 * k] = b[sectorEnd];
      b[at + 0x31 + 2 * k] = b[sectorEnd + 1];
      putLe16(b, sectorEnd, usn);
    }
    if (pick(10) == 0) b[at + pick(1024)] ^= static_cast<std::uint8_t>(1u << pick(8));
  }
  return b;
}

struct DamagedCase {
  std::string name;
  std::string image;              // "truncated", "noise" or "forged"
  std::vector<std::string> args;  // the command, then what follows IMAGE; {out} is a fresh folder
  std::size_t maxLinesOnSuccess;
};

void PrintTo(const DamagedCase& c, std::ostream* os) { *os << c.name; }

class NtfsDamagedInput : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(NtfsDamagedInput, AnswersOrFailsWithOneSentence) {
  const DamagedCase& c = GetParam();
  TempImage damaged;
  if (c.image == "truncated") {
    const std::string head = readWhole(ntfsImage("ntfs-main.img")).substr(0, 2 << 20);
    damaged.write(0, std::vector<std::uint8_t>(head.begin(), head.end()));
  } else if (c.image == "forged") {
    damaged.write(0, forgedRecords());
  } else {
    std::mt19937 random(20240102);
    std::vector<std::uint8_t> bytes(4 << 20);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
    damaged.write(0, bytes);
  }
  // The output folder sits two folders deep, so that a name that leads out
  // of it would leave a trace in a folder the test can see.
  TempFolder fence;
  const fs::path out = fence.path() / "inner" / "out";
  fs::create_directories(out);
  std::vector<std::string> args = {c.args.front(), damaged.path()};
  for (std::size_t k = 1; k < c.args.size(); ++k) args.push_back(c.args[k] == "{out}" ? out.string() : c.args[k]);

  const CommandResult r = cli(args);
  ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 1) << "exit " << r.exitCode << "\n" << r.err;
  if (r.exitCode == 1) {
    EXPECT_FALSE(r.err.empty()) << "failed without saying why";
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  } else {
    EXPECT_LE(static_cast<std::size_t>(std::count(r.out.begin(), r.out.end(), '\n')), c.maxLinesOnSuccess) << r.out;
  }
  const auto only = [](const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
    return names;
  };
  EXPECT_EQ(only(fence.path()), std::vector<std::string>{"inner"}) << "something was written beside the output folder";
  EXPECT_EQ(only(fence.path() / "inner"), std::vector<std::string>{"out"})
      << "something was written beside the output folder";
}

// A volume of 4 MiB at sector 0, whatever its first sector says.
const std::vector<std::string> kAsNtfs = {"--kind", "NTFS", "--start-sector", "0", "--size-mib", "4"};

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Images, NtfsDamagedInput,
    ::testing::Values(
        // The first 2 MiB hold the boot sector and the first MFT records,
        // whose runs point past the end.
        DamagedCase{"TruncatedList", "truncated", {"ls", "--volume-image", "--json"}, 100000},
        DamagedCase{"TruncatedDeepList", "truncated", {"ls", "--volume-image", "--mode", "deep", "--json"}, 100000},
        DamagedCase{"TruncatedSave", "truncated", {"save", "--volume-image", "--out", "{out}"}, 1},
        DamagedCase{"TruncatedCandidates", "truncated", {"candidates", "--volume-image"}, 100},
        DamagedCase{"NoiseList", "noise", joined({"ls", "--json"}, kAsNtfs), 16},
        DamagedCase{"NoiseDeepList", "noise", joined({"ls", "--mode", "deep", "--json"}, kAsNtfs), 16},
        DamagedCase{"NoiseSave", "noise", joined({"save", "--out", "{out}"}, kAsNtfs), 1},
        DamagedCase{"NoiseCandidates", "noise", joined({"candidates"}, kAsNtfs), 100},
        DamagedCase{"NoiseOfUnknownSize", "noise", {"ls", "--kind", "NTFS", "--start-sector", "0"}, 16},
        DamagedCase{"ForgedList", "forged", joined({"ls", "--json"}, kAsNtfs), 100000},
        DamagedCase{"ForgedSave", "forged", joined({"save", "--out", "{out}"}, kAsNtfs), 1},
        DamagedCase{"ForgedDeepList", "forged", joined({"ls", "--mode", "deep", "--json"}, kAsNtfs), 100000},
        DamagedCase{"ForgedDeepSave", "forged", joined({"save", "--mode", "deep", "--out", "{out}"}, kAsNtfs), 1},
        DamagedCase{"ForgedSearch", "forged", joined({"search", "--mode", "deep", "a|b"}, kAsNtfs), 100000},
        DamagedCase{"ForgedCandidates", "forged", joined({"candidates"}, kAsNtfs), 100}),
    [](const ::testing::TestParamInfo<DamagedCase>& info) { return info.param.name; });

}  // namespace
}  // namespace quorvel
