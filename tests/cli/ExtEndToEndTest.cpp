// `quorvel-cli ls`, `save` and `search` on ext2, ext3 and ext4 volumes made by
// mke2fs -d and changed by debugfs (tests/fixtures/build-ext-images), with
// The Sleuth Kit as the oracle: fls for names, types, sizes and times, icat
// for contents. The bytes of removed files come from the builder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fs/ext/ExtNameTable.h"
#include "support/CliListing.h"
#include "support/TestSupport.h"
#include "support/TskOracle.h"

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

fs::path extImage(const std::string& name) { return fixtureImage(fs::path("ext") / name); }

struct ImageCase {
  std::string name;    // IMAGE.img, IMAGE.facts, IMAGE.deleted/
  std::string oracle;  // the image fls reads: a copy with a spoiled superblock is read on the original
  std::vector<std::string> selection = {"--volume-image"};
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

const std::vector<ImageCase> kImages = {
    {"ext2-1k", "ext2-1k"},
    // Nothing at the volume's start says ext: the kind is named.
    {"ext2-sbzero", "ext2-1k", {"--volume-image", "--kind", "extX"}}, {"ext3", "ext3"}, {"ext4", "ext4"}, {"ext4-inline", "ext4-inline"},
    // fls cannot read descriptors in meta groups; the image holds the tree
    // ext2-1k.img holds, made and removed the same way.
    {"ext4-metabg", "ext2-1k"}};

std::string imageTestName(const ::testing::TestParamInfo<ImageCase>& info) {
  std::string out;
  for (const char c : info.param.name)
    if (std::isalnum(static_cast<unsigned char>(c))) out += c;
  return out;
}

// fls prints ext names as the bytes they are; the listing shows them as
// UTF-8 with every invalid byte replaced.
std::string shownPath(const std::string& raw) { return extfmt::displayName(raw); }

// A regular file, a symbolic link, a FIFO, a device or a socket: what the
// listing shows as a file.
bool isListedFile(const TskEntry& e) { return e.mode.size() >= 3 && std::string("rlpcbsh").find(e.mode[2]) != std::string::npos; }

std::vector<std::string> factValues(const std::string& image, const std::string& key) {
  std::vector<std::string> out;
  std::ifstream in(extImage(image + ".facts"));
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(key + "\t")) out.push_back(line.substr(key.size() + 1));
  return out;
}

class ExtVolume : public ::testing::TestWithParam<ImageCase> {
 protected:
  static void SetUpTestSuite() {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  static void TearDownTestSuite() { states_.clear(); }

  struct State {
    TempFolder temp;
    std::vector<TskEntry> tsk;
    std::optional<Listing> listing;
    std::optional<CommandResult> save;
    bool tskRecovered = false;
    std::map<std::string, std::string> linkTargets;  // by inode
  };

  State& state() {
    std::unique_ptr<State>& s = states_[GetParam().name];
    if (!s) {
      s = std::make_unique<State>();
      s->tsk = flsEntries(extImage(GetParam().oracle + ".img"));
      // The body format shows a link as "name -> target". icat reads an
      // ext4 fast link's block area as block numbers (zeros); the target fls
      // prints is the oracle for links.
      for (TskEntry& e : s->tsk) {
        const std::size_t arrow = e.path.find(" -> ");
        if (e.mode.size() < 3 || e.mode[2] != 'l' || arrow == std::string::npos) continue;
        s->linkTargets[e.inode] = e.path.substr(arrow + 4);
        e.path.resize(arrow);
      }
    }
    return *s;
  }
  fs::path image() { return extImage(GetParam().name + ".img"); }
  const std::vector<TskEntry>& tsk() { return state().tsk; }
  const Listing& listing() {
    State& s = state();
    if (!s.listing) s.listing = listVolume(image(), GetParam().selection);
    return *s.listing;
  }
  // The whole volume, saved once per image and test process.
  const CommandResult& saveResult() {
    State& s = state();
    if (!s.save) {
      std::vector<std::string> args = {"save", image().string()};
      args.insert(args.end(), GetParam().selection.begin(), GetParam().selection.end());
      args.insert(args.end(), {"--path", "ROOT", "--out", saved().string()});
      s.save = cli(args);
    }
    return *s.save;
  }
  fs::path saved() { return state().temp.path() / "saved"; }
  // TSK's copy of a live file: tsk_recover's for regular files (one run for
  // thousands of them), icat's for the rest.
  std::string tskContent(const TskEntry& e) {
    State& s = state();
    const fs::path copies = s.temp.path() / "tsk";
    const fs::path oracle = extImage(GetParam().oracle + ".img");
    if (!s.tskRecovered) {
      toolOutput({"tsk_recover", "-a", oracle.string(), copies.string()});
      s.tskRecovered = true;
    }
    if (e.mode[2] == 'l' && s.linkTargets.count(e.inode)) return s.linkTargets.at(e.inode);
    const fs::path copy = copies / e.path;
    return e.mode[2] == 'r' && fs::is_regular_file(copy) ? readWhole(copy) : icat(oracle, e.inode);
  }

 private:
  static std::map<std::string, std::unique_ptr<State>> states_;
};

std::map<std::string, std::unique_ptr<ExtVolume::State>> ExtVolume::states_;

TEST_P(ExtVolume, ListsEveryLiveEntryAsFlsDoes) {
  std::vector<std::string> problems;
  std::map<std::string, const TskEntry*> known;
  for (const TskEntry& e : tsk()) {
    if (e.deleted || e.lostParent || e.path == "$OrphanFiles") continue;
    const std::string path = "ROOT/" + shownPath(e.path);
    known[path] = &e;
    std::vector<const LsEntry*> live;
    for (const LsEntry* l : listing().at(path))
      if (!l->deleted) live.push_back(l);
    if (live.size() != 1) {
      problems.push_back(path + ": listed live " + std::to_string(live.size()) + " times, expected once");
      continue;
    }
    if (live[0]->folder != e.folder) problems.push_back(path + ": folder flag differs from fls");
    if (!e.folder && live[0]->size != e.size)
      problems.push_back(path + ": size " + std::to_string(live[0]->size) + ", fls says " + std::to_string(e.size));
  }
  for (const LsEntry& l : listing().entries)
    if (!l.deleted && !l.path.starts_with("ROOT/ORPHAN_ENTRY") && !known.count(l.path))
      problems.push_back(l.path + ": listed live, but fls does not know it");
  expectNoProblems(problems, "differences from fls");
}

TEST_P(ExtVolume, ListsEveryRemovedNameFlsFinds) {
  std::vector<std::string> problems;
  std::size_t removed = 0;
  for (const TskEntry& e : tsk()) {
    if (!e.deleted || e.reallocated) continue;
    ++removed;
    // fls names inodes no name reaches after their number; so do we.
    const std::string path = e.lostParent ? "ROOT/ORPHAN_ENTRY/inode_" + e.inode : "ROOT/" + shownPath(e.path);
    bool found = false;
    for (const LsEntry* l : listing().at(path)) found = found || l->deleted;
    if (!found) problems.push_back(path + ": fls lists it removed, the listing does not");
  }
  expectNoProblems(problems, "removed names missing");
  if (!factValues(GetParam().name, "deleted-file").empty()) {
    EXPECT_GE(removed, 4u) << "the fixture lost its removals";
  }
}

// Removed files whose blocks another file took since are saved as far as
// they still own them, and counted as not whole; nothing else may fail.
TEST_P(ExtVolume, SavingTheWholeVolumeFailsOnlyOnRemovedFiles) {
  const CommandResult& r = saveResult();
  if (r.exitCode == 0) return;
  std::size_t removed = 0;
  for (const TskEntry& e : tsk()) removed += e.deleted ? 1 : 0;
  const std::string tail = " files could not be saved whole.";
  const std::size_t at = r.err.find(tail);
  ASSERT_NE(at, std::string::npos) << r.err;
  const std::size_t start = r.err.rfind(' ', at - 1) + 1;
  EXPECT_LE(std::stoul(r.err.substr(start, at - start)), removed) << r.err;
}

TEST_P(ExtVolume, SavesEveryLiveFileAsIcatReadsIt) {
  saveResult();
  std::vector<std::string> problems;
  std::size_t compared = 0;
  for (const TskEntry& e : tsk()) {
    if (e.deleted || e.lostParent || !isListedFile(e)) continue;
    const fs::path copy = saved() / shownPath(e.path);
    if (!fs::is_regular_file(fs::symlink_status(copy))) {
      problems.push_back(e.path + ": not saved as a file");
      continue;
    }
    const std::string want = tskContent(e);
    const std::string got = readWhole(copy);
    ++compared;
    if (got != want) problems.push_back(e.path + ": " + describeDifference(got, want));
  }
  expectNoProblems(problems, "saved files that differ from icat");
  EXPECT_GT(compared, 5u);
}

TEST_P(ExtVolume, SavesRemovedFilesWithTheirFormerBytes) {
  saveResult();
  std::vector<std::string> problems;
  for (const std::string& path : factValues(GetParam().name, "deleted-file")) {
    const fs::path copy = saved() / path;
    if (!fs::is_regular_file(copy)) {
      problems.push_back(path + ": not saved");
      continue;
    }
    const std::string want = readWhole(extImage(GetParam().name + ".deleted") / path);
    const std::string got = readWhole(copy);
    if (got != want) problems.push_back(path + ": " + describeDifference(got, want));
  }
  expectNoProblems(problems, "removed files saved wrongly");
}

TEST_P(ExtVolume, SavedFilesCarryTheRecordedTimes) {
  saveResult();
  std::vector<std::string> problems;
  for (const TskEntry& e : tsk()) {
    if (e.deleted || e.lostParent || e.mode.size() < 3 || e.mode[2] != 'r') continue;
    struct stat st {};
    if (lstat((saved() / shownPath(e.path)).c_str(), &st) != 0) continue;  // the content test reports it
    if (st.st_mtim.tv_sec != e.modified)
      problems.push_back(e.path + ": modified " + std::to_string(st.st_mtim.tv_sec) + ", fls says " + std::to_string(e.modified));
    const std::vector<const LsEntry*> rows = listing().at("ROOT/" + shownPath(e.path));
    if (!rows.empty() && rows[0]->modified != rowTime(e.modified)) problems.push_back(e.path + ": row time " + rows[0]->modified);
  }
  expectNoProblems(problems, "times that differ from fls");
}

INSTANTIATE_TEST_SUITE_P(Images, ExtVolume, ::testing::ValuesIn(kImages), imageTestName);

// --- What sets ext4 apart, one file each: the listing and the saved copy.

struct Ext4Case {
  std::string path;
  bool folder;
  std::int64_t size;
  std::string content;  // "" when icat decides
};

TEST(Ext4Features, SpecialFilesAreListedAsFilesWithTheirOwnContent) {
  setenv("TZ", "UTC", 1);
  tzset();
  const fs::path image = extImage("ext4.img");
  const Listing ls = listVolume(image, {"--volume-image"});
  const std::vector<Ext4Case> cases = {
      {"ROOT/Special/fast-link", false, 13, "../readme.txt"},
      {"ROOT/Special/fifo", false, 0, ""},
      {"ROOT/Special/null-device", false, 0, ""},
      {"ROOT/Special/hard-link.txt", false, 28, "Quorvel ext fixture volume.\n"},
      {"ROOT/readme.txt", false, 28, "Quorvel ext fixture volume.\n"},
      {"ROOT/Sparse/sparse.bin", false, 4 << 20, ""},
      {"ROOT/prealloc.bin", false, 40960, ""},
      {"ROOT/Hashed", true, 0, ""},
  };
  TempFolder out;
  for (const Ext4Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::vector<const LsEntry*> rows = ls.at(c.path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]->folder, c.folder);
    EXPECT_FALSE(rows[0]->deleted);
    if (c.folder) continue;
    EXPECT_EQ(rows[0]->size, c.size);
    const fs::path target = out.path() / std::to_string(rows[0]->id);
    const CommandResult r = cli({"save", image.string(), "--volume-image", "--path", c.path, "--out", target.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string got = readWhole(target / baseName(c.path));
    EXPECT_EQ(got.size(), static_cast<std::size_t>(c.size));
    if (!c.content.empty()) {
      EXPECT_EQ(got, c.content);
    }
  }
  EXPECT_EQ(ls.at("ROOT/Hashed/entry-2999.txt").size(), 1u);
}

TEST(Ext4Features, SearchFindsNamesWithBytesThatAreNotUtf8) {
  const CommandResult r = cli({"search", extImage("ext4.img").string(), "--volume-image", "latin1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("latin1-\xEF\xBF\xBDt\xEF\xBF\xBD.txt"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace quorvel
