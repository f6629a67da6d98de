// `quorvel-cli ls`, `save` and `search` on FAT12, FAT16 and FAT32 volumes made
// by mkfs.fat and mtools and on exFAT volumes populated through exfat-fuse
// (tests/fixtures/build-fat-images), with The Sleuth Kit as the oracle: fls
// for names and sizes, icat and tsk_recover for contents. What no oracle can
// tell (the bytes of deleted files, the times beyond 2038, the recycle-bin
// names) the builder wrote into IMAGE.facts and IMAGE.deleted/.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
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

// FAT records local wall-clock times; the builder wrote them in UTC, and the
// CLI and fls read them in the zone TZ names.
[[maybe_unused]] const bool kInUtc = useUtc();

fs::path fatFixture(const std::string& name) { return fixtureImage(fs::path("fat") / name); }

// --- IMAGE.facts: one fact a line, KEY TAB [PATH TAB] VALUE.

struct DeletedFile {
  std::string path;
  bool firstCharacterLost = false;  // an 8.3 name without a long name: the deletion mark took its first byte
};

struct Facts {
  std::string kind;  // "FAT12", "FAT16", "FAT32", "exFAT"
  std::int64_t clusterSize = 0;
  std::vector<DeletedFile> deletedFiles;
  std::vector<std::string> deletedFolders;
  std::map<std::string, std::string> recycled;  // data file path -> the former name its index file records
  std::map<std::string, std::int64_t> modified;
  std::int64_t defaultModified = 0;
  std::map<std::string, std::string> attributes;  // top-level file -> its bits, as letters of "RHSA"
  std::vector<std::string> fragmented;
  std::string emoji;  // the path of the file with an emoji name

  bool exFat() const { return kind == "exFAT"; }
  std::int64_t modifiedAt(const std::string& path) const {
    const auto it = modified.find(path);
    return it == modified.end() ? defaultModified : it->second;
  }
};

Facts readFacts(const std::string& image) {
  Facts facts;
  std::ifstream in(fatFixture(image + ".facts"));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    std::string field;
    for (std::istringstream row(line); std::getline(row, field, '\t');) f.push_back(field);
    if (line.ends_with("\t")) f.push_back("");
    if (f.size() < 2) continue;
    const std::string& key = f[0];
    if (key == "kind") facts.kind = f[1];
    if (key == "cluster-size") facts.clusterSize = std::stoll(f[1]);
    if (key == "modified-default") facts.defaultModified = std::stoll(f[1]);
    if (key == "deleted-folder") facts.deletedFolders.push_back(f[1]);
    if (key == "fragmented") facts.fragmented.push_back(f[1]);
    if (key == "emoji") facts.emoji = f[1];
    if (f.size() < 3) continue;
    if (key == "deleted-file") facts.deletedFiles.push_back({f[1], f[2] == "first-character-lost"});
    if (key == "recycled") facts.recycled[f[1]] = f[2];
    if (key == "modified") facts.modified[f[1]] = std::stoll(f[2]);
    if (key == "attributes") facts.attributes[f[1]] = f[2];
  }
  if (facts.kind.empty() || facts.defaultModified == 0) throw std::runtime_error(image + ".facts is incomplete");
  return facts;
}

// --- Names that fls and the list spell differently.

std::vector<std::string> splitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (std::istringstream in(path); std::getline(in, part, '/');) parts.push_back(part);
  return parts;
}

std::size_t utf16Length(const std::string& text) {
  std::size_t units = 0;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
  }
  return units;
}

std::string withoutFirstCharacter(const std::string& text) {
  std::size_t k = 1;
  while (k < text.size() && (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80) ++k;
  return text.substr(std::min(k, text.size()));
}

// fls's name for an entry against the list's. On FAT, fls shows '_' for
// the first character of a deleted 8.3 name (the deletion mark overwrote
// it, so only the rest can be compared). And it takes a last long-name
// entry numbered 16 or more for damage: a name of over 195 UTF-16 units
// loses the 13-unit piece that entry holds, its last.
bool sameName(const std::string& tsk, const std::string& listed, bool fat, bool deleted) {
  if (tsk == listed) return true;
  if (!fat) return false;
  if (deleted && tsk.starts_with("_") && withoutFirstCharacter(tsk) == withoutFirstCharacter(listed)) return true;
  const std::size_t pieces = (utf16Length(listed) + 12) / 13;
  return pieces > 15 && utf16Length(tsk) == (pieces - 1) * 13 && listed.starts_with(tsk);
}

bool samePath(const std::string& tsk, const std::string& listed, bool fat, bool deleted) {
  const std::vector<std::string> a = splitPath(tsk);
  const std::vector<std::string> b = splitPath(listed);
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (!sameName(a[k], b[k], fat, deleted)) return false;
  return true;
}

// --- The oracle's view of one image.

struct TskVolume {
  std::vector<TskEntry> live;  // the volume's files and folders, nothing TSK adds
  std::vector<TskEntry> deleted;
  std::map<std::string, TskEntry> byPath;  // live ones

  const TskEntry& at(const std::string& path) const {
    const auto it = byPath.find(path);
    if (it == byPath.end()) throw std::runtime_error("fls lists no " + path);
    return it->second;
  }
};

// What fls adds of its own: $MBR, $FAT1, $FAT2 and $OrphanFiles (virtual
// types), and at the top of exFAT volumes the allocation bitmap, the
// up-case table and the volume label, shown as regular files.
bool addedByTsk(const TskEntry& e) {
  if (!e.fileOrFolder()) return true;
  if (e.path.find('/') != std::string::npos) return false;
  return e.path == "$ALLOC_BITMAP" || e.path == "$UPCASE_TABLE" || e.path.ends_with(" (Volume Label Entry)");
}

TskVolume readTsk(const fs::path& image) {
  TskVolume tsk;
  for (const TskEntry& e : flsEntries(image)) {
    if (addedByTsk(e)) continue;
    if (e.deleted) {
      tsk.deleted.push_back(e);
      continue;
    }
    tsk.live.push_back(e);
    tsk.byPath[e.path] = e;
  }
  if (tsk.live.size() < 1100) throw std::runtime_error("fls listed only " + std::to_string(tsk.live.size()) + " names");
  return tsk;
}

// --- One image: its facts, fls's view, the listing and one save of ROOT,
// each made once per test process.

class Volume {
 public:
  explicit Volume(std::string name) : name_(std::move(name)), facts_(readFacts(name_)) {}

  const std::string& name() const { return name_; }
  fs::path image() const { return fatFixture(name_ + ".img"); }
  const Facts& facts() const { return facts_; }
  bool fat() const { return !facts_.exFat(); }

  const TskVolume& tsk() {
    if (!tsk_) tsk_ = readTsk(image());
    return *tsk_;
  }
  const Listing& listing() {
    if (!listing_) listing_ = listVolume(image(), {"--volume-image"});
    return *listing_;
  }

  // Where the list shows what fls shows at `path`: a recycle-bin data
  // file under its former name, other names as sameName allows.
  std::string expectedPath(const TskEntry& e) const {
    const auto recycled = facts_.recycled.find(e.path);
    if (recycled == facts_.recycled.end()) return "ROOT/" + e.path;
    return "ROOT/" + e.path.substr(0, e.path.rfind('/') + 1) + recycled->second;
  }
  std::vector<const LsEntry*> listedAs(const TskEntry& e) {
    std::vector<const LsEntry*> found;
    for (const LsEntry* l : listing().at(expectedPath(e)))
      if (l->deleted == e.deleted) found.push_back(l);
    if (!found.empty() || !fat()) return found;
    for (const LsEntry& l : listing().entries)
      if (l.deleted == e.deleted && samePath(expectedPath(e), l.path, true, e.deleted)) found.push_back(&l);
    return found;
  }

  // The whole volume, saved once.
  const CommandResult& saveResult() {
    if (save_) return *save_;
    const fs::path out = saved();
    save_ = cli({"save", image().string(), "--volume-image", "--path", "ROOT", "--out", out.string()});
    // Times first: reading the files could move their access times.
    if (fs::exists(out))
      for (const auto& item : fs::recursive_directory_iterator(out)) {
        struct stat st {};
        if (lstat(item.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        savedTimes_[fs::relative(item.path(), out).generic_string()] = {st.st_atim.tv_sec, st.st_mtim.tv_sec};
      }
    return *save_;
  }
  fs::path saved() const { return temp_.path() / "saved"; }
  // The saved copy of a listed entry, or nothing.
  std::optional<std::string> savedContent(const LsEntry& l) {
    saveResult();
    const fs::path path = saved() / l.path.substr(5);
    if (!fs::is_regular_file(path)) return std::nullopt;
    return readWhole(path);
  }
  // (accessed, modified) of a saved file, by its path below ROOT.
  std::optional<std::pair<std::int64_t, std::int64_t>> savedTimes(const LsEntry& l) {
    saveResult();
    const auto it = savedTimes_.find(l.path.substr(5));
    if (it == savedTimes_.end()) return std::nullopt;
    return it->second;
  }

  // TSK's copy of a live file: tsk_recover's, else icat's.
  std::string tskContent(const TskEntry& e) {
    const fs::path copies = temp_.path() / "tsk";
    if (!tskRecovered_) {
      toolOutput({"tsk_recover", "-a", image().string(), copies.string()});
      tskRecovered_ = true;
    }
    const fs::path copy = copies / e.path;
    return fs::is_regular_file(copy) ? readWhole(copy) : icat(image(), e.inode);
  }

 private:
  std::string name_;
  Facts facts_;
  std::optional<TskVolume> tsk_;
  std::optional<Listing> listing_;
  TempFolder temp_;
  std::optional<CommandResult> save_;
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> savedTimes_;
  bool tskRecovered_ = false;
};

Volume& volume(const std::string& name) {
  static std::map<std::string, std::unique_ptr<Volume>> volumes;
  auto& v = volumes[name];
  if (!v) v = std::make_unique<Volume>(name);
  return *v;
}

const std::vector<std::string> kAllImages = {"fat12",    "fat16-2k", "fat16-8k", "fat32-512",
                                             "fat32-4k", "exfat-4k", "exfat-32k"};
const std::vector<std::string> kImagesWithRecycleBin = {"fat32-512", "fat32-4k", "exfat-4k", "exfat-32k"};

std::string imageTestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (const char c : info.param)
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name;
}

class FatVolume : public ::testing::TestWithParam<std::string> {
 protected:
  Volume& v() { return volume(GetParam()); }
};

// --- Listing.

// Every live file and folder fls lists is listed once, live, at its path,
// with its folder flag and size; nothing else is listed live; every deleted
// name fls lists is listed as deleted, files with their size.
TEST_P(FatVolume, ListingMatchesFls) {
  std::vector<std::string> problems;
  std::set<const LsEntry*> known;
  for (const TskEntry& e : v().tsk().live) {
    const std::vector<const LsEntry*> listed = v().listedAs(e);
    if (listed.size() != 1) {
      problems.push_back(v().expectedPath(e) + ": listed live " + std::to_string(listed.size()) +
                         " times, expected once");
      continue;
    }
    known.insert(listed[0]);
    if (listed[0]->folder != e.folder) problems.push_back(listed[0]->path + ": folder flag differs from fls");
    if (!e.folder && listed[0]->size != e.size)
      problems.push_back(listed[0]->path + ": size " + std::to_string(listed[0]->size) + ", fls says " +
                         std::to_string(e.size));
  }
  for (const LsEntry& l : v().listing().entries)
    if (!l.deleted && l.path.starts_with("ROOT/") && !known.count(&l))
      problems.push_back(l.path + ": listed live, but fls does not know it");
  for (const TskEntry& e : v().tsk().deleted) {
    bool found = false;
    for (const LsEntry* l : v().listedAs(e))
      if (l->folder == e.folder && (e.folder || l->size == e.size)) found = true;
    if (!found && e.lostParent)
      for (const LsEntry& l : v().listing().entries)
        found = found ||
                (l.deleted && l.folder == e.folder && sameName(baseName(e.path), baseName(l.path), v().fat(), true));
    if (!found) problems.push_back(e.path + " (deleted): not listed as deleted with its size at its path");
  }
  expectNoProblems(problems, "differences from fls");
}

// The fixtures' own deleted files and folders are listed as deleted, by
// name where the volume kept the name.
TEST_P(FatVolume, ListsTheDeletedFilesAndFolders) {
  std::vector<std::string> problems;
  const auto listedDeleted = [&](const std::string& path, bool folder, bool firstLost) {
    for (const LsEntry& l : v().listing().entries)
      if (l.deleted && l.folder == folder &&
          (l.path == "ROOT/" + path || (firstLost && samePath("ROOT/" + path.substr(0, path.rfind('/') + 1) + "_" +
                                                                  withoutFirstCharacter(baseName(path)),
                                                              l.path, true, true))))
        return true;
    return false;
  };
  for (const DeletedFile& d : v().facts().deletedFiles)
    if (!listedDeleted(d.path, false, d.firstCharacterLost)) problems.push_back(d.path + ": not listed as deleted");
  for (const std::string& folder : v().facts().deletedFolders)
    if (!listedDeleted(folder, true, false)) problems.push_back(folder + "/: not listed as a deleted folder");
  EXPECT_FALSE(v().facts().deletedFiles.empty());
  expectNoProblems(problems, "deleted entries missing");
}

TEST_P(FatVolume, ListsTheAttributeBitsOfTopLevelFiles) {
  for (const auto& [path, bits] : v().facts().attributes) {
    SCOPED_TRACE(path);
    std::string want;
    for (const char bit : std::string("RHSA"))
      if (bits.find(bit) != std::string::npos) want += std::string("-") + bit;
    const std::vector<const LsEntry*> listed = v().listing().at("ROOT/" + path);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]->attributes, want);
  }
}

// --- Saving.

TEST_P(FatVolume, SavingTheWholeVolumeSucceeds) {
  EXPECT_EQ(v().saveResult().exitCode, 0) << v().saveResult().err;
  EXPECT_TRUE(v().saveResult().out.starts_with("saved ")) << v().saveResult().out;
}

TEST_P(FatVolume, SavesEveryLiveFileAsTheSleuthKitReadsIt) {
  std::vector<std::string> problems;
  for (const TskEntry& e : v().tsk().live) {
    if (e.folder) continue;
    const std::vector<const LsEntry*> listed = v().listedAs(e);
    if (listed.size() != 1) continue;  // reported by the listing test
    const std::optional<std::string> got = v().savedContent(*listed[0]);
    if (!got) {
      problems.push_back(listed[0]->path + ": not saved");
      continue;
    }
    const std::string want = v().tskContent(e);
    if (*got != want) problems.push_back(listed[0]->path + ": " + describeDifference(*got, want));
  }
  expectNoProblems(problems, "saved files differ from TSK's copies");
}

// Files in pieces, each against icat itself: on FAT the pieces fill holes
// left by deleted files, on exFAT two files were written in turns.
TEST_P(FatVolume, SavesFragmentedFilesAsIcatReadsThem) {
  ASSERT_FALSE(v().facts().fragmented.empty());
  for (const std::string& path : v().facts().fragmented) {
    SCOPED_TRACE(path);
    const TskEntry& e = v().tsk().at(path);
    const std::vector<const LsEntry*> listed = v().listedAs(e);
    ASSERT_EQ(listed.size(), 1u);
    const std::optional<std::string> got = v().savedContent(*listed[0]);
    ASSERT_TRUE(got) << "not saved";
    const std::string want = icat(v().image(), e.inode);
    EXPECT_TRUE(*got == want) << describeDifference(*got, want);
  }
}

// A deleted file whose clusters nothing reused is saved with the bytes it
// held before it was deleted.
TEST_P(FatVolume, SavesDeletedFilesWithTheirFormerBytes) {
  std::vector<std::string> problems;
  for (const DeletedFile& d : v().facts().deletedFiles) {
    const std::string want = readWhole(fatFixture(v().name() + ".deleted") / d.path);
    const std::string tskForm =
        d.firstCharacterLost ? d.path.substr(0, d.path.rfind('/') + 1) + "_" + withoutFirstCharacter(baseName(d.path))
                             : d.path;
    bool matched = false;
    std::string seen;
    for (const LsEntry& l : v().listing().entries) {
      if (!l.deleted || l.folder || !samePath("ROOT/" + tskForm, l.path, v().fat(), true)) continue;
      const std::optional<std::string> got = v().savedContent(l);
      if (got == want) matched = true;
      seen += " " + l.path + ": " + (got ? describeDifference(*got, want) : "not saved") + ";";
    }
    if (!matched) problems.push_back(d.path + " (deleted):" + (seen.empty() ? " not listed" : seen));
  }
  expectNoProblems(problems, "deleted files not saved with their former bytes");
}

// The builder gave every file a known modification time; FAT keeps the
// access day only, which fls reads as midnight.
TEST_P(FatVolume, SavedAndListedTimesAreTheRecordedOnes) {
  std::vector<std::string> problems;
  for (const TskEntry& e : v().tsk().live) {
    if (e.folder) continue;
    const std::int64_t modified = v().facts().modifiedAt(e.path);
    // fls has no time past 2038; where it has one, it must agree.
    if (e.modified != 0 && e.modified != modified)
      problems.push_back(e.path + ": fls says modified " + std::to_string(e.modified) + ", the builder wrote " +
                         std::to_string(modified));
    const std::vector<const LsEntry*> listed = v().listedAs(e);
    if (listed.size() != 1) continue;  // reported by the listing test
    if (listed[0]->modified != rowTime(modified))
      problems.push_back(listed[0]->path + ": listed modified \"" + listed[0]->modified + "\", expected \"" +
                         rowTime(modified) + "\"");
    const auto times = v().savedTimes(*listed[0]);
    if (!times) {
      problems.push_back(listed[0]->path + ": not saved");
      continue;
    }
    if (times->second != modified)
      problems.push_back(listed[0]->path + ": saved modified " + std::to_string(times->second) + ", expected " +
                         std::to_string(modified));
    if (e.accessed != 0 && times->first != e.accessed)
      problems.push_back(listed[0]->path + ": saved accessed " + std::to_string(times->first) + ", fls says " +
                         std::to_string(e.accessed));
  }
  expectNoProblems(problems, "files with other times than recorded");
}

struct PartialSave {
  std::string path;                          // what --path names
  std::map<std::string, std::string> files;  // every file written -> the volume path it holds
};

TEST_P(FatVolume, SavesOneFolderOrOneFileByItsPath) {
  const PartialSave cases[] = {
      {"ROOT/Documents/Projects",
       {{"2024/Q1/plan.txt", "Documents/Projects/2024/Q1/plan.txt"},
        {"2024/Q1/budget.csv", "Documents/Projects/2024/Q1/budget.csv"},
        {"2024/Q2/review.txt", "Documents/Projects/2024/Q2/review.txt"},
        {"2024/roadmap.md", "Documents/Projects/2024/roadmap.md"}}},
      {"ROOT/Unicode/\u6587\u4EF6\u5939",
       {{"\u0432\u043D\u0443\u0442\u0440\u0438.txt",
         "Unicode/\u6587\u4EF6\u5939/\u0432\u043D\u0443\u0442\u0440\u0438.txt"}}},
      {"ROOT/" + v().facts().emoji, {{baseName(v().facts().emoji), v().facts().emoji}}},
      {"ROOT/archive.tar.gz", {{"archive.tar.gz", "archive.tar.gz"}}},
  };
  for (const PartialSave& c : cases) {
    SCOPED_TRACE(c.path);
    TempFolder out;
    const CommandResult r =
        cli({"save", v().image().string(), "--volume-image", "--path", c.path, "--out", out.path().string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::map<std::string, std::string> written = filesBelow(out.path());
    std::map<std::string, std::string> want;
    for (const auto& [file, volumePath] : c.files) want[file] = icat(v().image(), v().tsk().at(volumePath).inode);
    EXPECT_TRUE(written == want) << written.size() << " files written, " << want.size() << " expected";
  }
}

// --- Search.

struct SearchCase {
  std::string pattern;
  std::vector<std::string> hits;  // every path the search must print, and nothing else
};

TEST_P(FatVolume, SearchFindsNamesInEveryScriptIgnoringCase) {
  const SearchCase cases[] = {
      {"\u043f\u0440\u0438\u0432\u0435\u0442",
       {"ROOT/Unicode/\u041f\u0440\u0438\u0432\u0435\u0442 \u043c\u0438\u0440.txt"}},
      {"\u03b5\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac",
       {"ROOT/Unicode/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.txt"}},
      {"\U0001F389", {"ROOT/" + v().facts().emoji}},
      {"^000[1-3]-FILE\\.txt$", {"ROOT/Many/0001-file.txt", "ROOT/Many/0002-file.txt", "ROOT/Many/0003-file.txt"}},
      {"^README\\.TXT$", {"ROOT/readme.txt"}},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    const CommandResult r = cli({"search", v().image().string(), "--volume-image", c.pattern});
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

// Patterns that take a backtracking matcher time exponential in the name's
// length, over names of 200 and 255 characters: the search ends at once and
// lists what a plain test of each listed file name says.
TEST_P(FatVolume, PathologicalPatternsEndWithTheRightHits) {
  // Each case's plain test, of the name in ASCII lower case.
  const struct {
    std::string pattern;
    std::function<bool(const std::string&)> matches;
    bool findsSome;  // the fixture is known to hold such a name
  } cases[] = {
      {"^(.|..)*Z$", [](const std::string& name) { return name.ends_with('z'); }, false},
      {"^(.|..)*OF 200 char(.|..)*T$",
       [](const std::string& name) { return name.find("of 200 char") != std::string::npos && name.ends_with('t'); },
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    std::vector<std::string> want;
    for (const LsEntry& l : v().listing().entries) {
      std::string name = l.path.substr(l.path.rfind('/') + 1);
      std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return std::tolower(ch); });
      if (!l.folder && c.matches(name)) want.push_back(l.path);
    }
    EXPECT_TRUE(!c.findsSome || !want.empty()) << "the fixture holds no such name";
    const CommandResult r = cli({"search", v().image().string(), "--volume-image", c.pattern});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> hits;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) hits.push_back(line);
    std::sort(hits.begin(), hits.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(hits, want);
  }
}

INSTANTIATE_TEST_SUITE_P(Images, FatVolume, ::testing::ValuesIn(kAllImages), imageTestName);

// --- The recycle bin: pairs in the folder itself and in a user's folder.

class FatRecycleBin : public FatVolume {};

TEST_P(FatRecycleBin, DataFilesGetTheirFormerNames) {
  ASSERT_EQ(v().facts().recycled.size(), 2u) << "one pair in $RECYCLE.BIN, one in a user's folder";
  for (const auto& [dataPath, formerName] : v().facts().recycled) {
    SCOPED_TRACE(dataPath);
    const TskEntry& data = v().tsk().at(dataPath);
    const std::string folder = "ROOT/" + dataPath.substr(0, dataPath.rfind('/') + 1);
    const std::string listedPath = folder + formerName;

    const std::vector<const LsEntry*> listed = v().listing().at(listedPath);
    ASSERT_EQ(listed.size(), 1u) << "not listed under its former name";
    EXPECT_FALSE(listed[0]->folder);
    EXPECT_FALSE(listed[0]->deleted);
    EXPECT_EQ(listed[0]->size, data.size);
    EXPECT_TRUE(v().listing().at("ROOT/" + dataPath).empty()) << "still listed as " << dataPath;

    const std::string pattern = formerName.substr(0, formerName.find_first_of(" ."));
    const CommandResult search = cli({"search", v().image().string(), "--volume-image", pattern});
    EXPECT_EQ(search.exitCode, 0) << search.err;
    EXPECT_NE(("\n" + search.out).find("\n" + listedPath + "\n"), std::string::npos) << search.out;

    const std::optional<std::string> saved = v().savedContent(*listed[0]);
    ASSERT_TRUE(saved) << "not saved under its former name";
    EXPECT_EQ(*saved, icat(v().image(), data.inode));
  }
}

INSTANTIATE_TEST_SUITE_P(Images, FatRecycleBin, ::testing::ValuesIn(kImagesWithRecycleBin), imageTestName);

// --- Damaged input: what can be read, or one clear sentence; never a crash.

std::uint16_t le16At(const std::string& b, std::size_t off) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b.at(off)) | static_cast<unsigned char>(b.at(off + 1))
                                                                                << 8);
}
std::uint32_t le32At(const std::string& b, std::size_t off) {
  return le16At(b, off) | static_cast<std::uint32_t>(le16At(b, off + 2)) << 16;
}

// Where the FATs lie and how wide their entries are.
struct FatGeometry {
  std::vector<std::uint64_t> fats;  // byte offsets of each copy
  int entryBytes = 0;               // 2 (FAT16) or 4 (FAT32, exFAT)
  std::uint32_t rootCluster = 0;    // FAT32 and exFAT
};

FatGeometry geometry(const std::string& b, const std::string& kind) {
  FatGeometry g;
  if (kind == "exFAT") {
    g.fats = {static_cast<std::uint64_t>(le32At(b, 80)) << b.at(108)};
    g.entryBytes = 4;
    g.rootCluster = le32At(b, 96);
    return g;
  }
  const std::uint64_t sector = le16At(b, 11);
  const std::uint64_t fatSectors = le16At(b, 22) ? le16At(b, 22) : le32At(b, 36);
  for (std::uint64_t k = 0; k < static_cast<unsigned char>(b.at(16)); ++k)
    g.fats.push_back((le16At(b, 14) + k * fatSectors) * sector);
  g.entryBytes = kind == "FAT32" ? 4 : 2;
  if (kind == "FAT32") g.rootCluster = le32At(b, 44);
  return g;
}

std::vector<std::uint8_t> le(std::uint64_t value, int bytes) {
  std::vector<std::uint8_t> out;
  for (int k = 0; k < bytes; ++k) out.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
  return out;
}

// The offset of a directory entry: on FAT the 8.3 entry of an 8.3 name
// ("BUDGET  CSV"), on exFAT the stream entry before the file-name entry.
std::size_t entryOffset(const std::string& b, const std::string& kind, const std::string& name) {
  std::string needle;
  if (kind == "exFAT") {
    // A file-name entry holds 15 characters.
    for (const char c : name.substr(0, 15)) needle += std::string{c, '\0'};
  } else {
    const std::size_t dot = name.find('.');
    needle = name.substr(0, dot);
    needle.resize(8, ' ');
    needle += dot == std::string::npos ? std::string() : name.substr(dot + 1);
    needle.resize(11, ' ');
    for (char& c : needle) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  for (std::size_t at = b.find(needle); at != std::string::npos; at = b.find(needle, at + 1)) {
    if (kind == "exFAT" && at % 32 == 2 && static_cast<unsigned char>(b[at - 2]) == 0xC1 &&
        static_cast<unsigned char>(b[at - 34]) == 0xC0)
      return at - 34;
    if (kind != "exFAT" && at % 32 == 0 && b[at + 11] != 0x0F) return at;
  }
  throw std::runtime_error("no directory entry for " + name);
}

std::uint32_t firstCluster(const std::string& b, const std::string& kind, std::size_t entry) {
  if (kind == "exFAT") return le32At(b, entry + 20);
  return le16At(b, entry + 26) | (kind == "FAT32" ? static_cast<std::uint32_t>(le16At(b, entry + 20)) << 16 : 0);
}

struct DamagedCase {
  std::string name;
  std::string image;              // the fixture it starts from
  std::string damage;             // see damage() below
  std::vector<std::string> args;  // the command, then what follows IMAGE; {out} is a fresh folder
  bool restReadable = false;      // the damage is confined to one entry: the command succeeds, and
                                  // `ls` still lists Documents/Letters/bank.txt
};

void PrintTo(const DamagedCase& c, std::ostream* os) { *os << c.name; }

// Applies one damage to a copy of the fixture.
void damage(TempImage& copy, const std::string& b, const std::string& kind, const std::string& what) {
  const FatGeometry g = geometry(b, kind);
  const auto setFat = [&](std::uint32_t cluster, std::uint32_t value) {
    for (const std::uint64_t fat : g.fats)
      copy.write(fat + std::uint64_t{cluster} * g.entryBytes, le(value, g.entryBytes));
  };
  const auto lastOfChain = [&](std::uint32_t cluster) {
    const std::uint32_t end = g.entryBytes == 2 ? 0xFFF8 : 0x0FFFFFF8;
    for (int steps = 0; steps < 1 << 20; ++steps) {
      const std::uint64_t at = g.fats.front() + std::uint64_t{cluster} * g.entryBytes;
      const std::uint32_t next =
          g.entryBytes == 2 ? le16At(b, at) : le32At(b, at) & (kind == "exFAT" ? ~0u : 0x0FFFFFFFu);
      if (next >= end || next < 2) return cluster;
      cluster = next;
    }
    throw std::runtime_error("the fixture's chain does not end");
  };
  if (what == "zero-boot-sector") {
    copy.write(0, std::vector<std::uint8_t>(512, 0));
  } else if (what == "zero-sector-size") {
    if (kind == "exFAT")
      copy.write(108, {0});  // 1-byte sectors
    else
      copy.write(11, {0, 0});
  } else if (what == "zero-cluster-size") {
    if (kind == "exFAT")
      copy.write(109, {60});  // 2^60 sectors a cluster
    else
      copy.write(13, {0});
  } else if (what == "root-chain-loops") {
    setFat(g.rootCluster, g.rootCluster);
  } else if (what == "file-chain-loops") {
    // budget.csv's last cluster leads back to its first; on exFAT the file
    // in pieces, whose chain the FAT holds.
    const std::string file = kind == "exFAT" ? "interleaved-a.bin" : "budget.csv";
    const std::uint32_t first = firstCluster(b, kind, entryOffset(b, kind, file));
    setFat(lastOfChain(first), first);
  } else if (what == "folder-chain-loops") {
    const std::uint32_t first = firstCluster(b, kind, entryOffset(b, kind, kind == "exFAT" ? "Many" : "MANY"));
    setFat(lastOfChain(first), first);
  } else if (what == "entry-beyond-volume") {
    const std::size_t entry = entryOffset(b, kind, "budget.csv");
    if (kind == "exFAT") {
      copy.write(entry + 20, le(0x7FFFFFF0, 4));
      copy.write(entry + 8, le(std::uint64_t{1} << 40, 8));   // valid data length
      copy.write(entry + 24, le(std::uint64_t{1} << 40, 8));  // data length
    } else {
      copy.write(entry + 26, le(0xFF00, 2));
      if (kind == "FAT32") copy.write(entry + 20, le(0x0FFF, 2));
      copy.write(entry + 28, le(0xFFFFFFF0, 4));
    }
  } else {
    throw std::runtime_error("unknown damage " + what);
  }
}

class FatDamagedInput : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(FatDamagedInput, AnswersOrFailsWithOneSentence) {
  const DamagedCase& c = GetParam();
  const Facts facts = readFacts(c.image);
  const std::string bytes = readWhole(fatFixture(c.image + ".img"));
  TempImage copy;
  fs::copy_file(fatFixture(c.image + ".img"), copy.path(), fs::copy_options::overwrite_existing);
  damage(copy, bytes, facts.kind, c.damage);

  // The output folder sits two folders deep, so that a name that leads out
  // of it would leave a trace in a folder the test can see.
  TempFolder fence;
  const fs::path out = fence.path() / "inner" / "out";
  fs::create_directories(out);
  std::vector<std::string> args = {c.args.front(), copy.path()};
  for (std::size_t k = 1; k < c.args.size(); ++k) {
    std::string a = c.args[k] == "{out}" ? out.string() : c.args[k];
    if (a == "{kind}") a = facts.kind;
    args.push_back(a);
  }

  const CommandResult r = cli(args);
  ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 1) << "exit " << r.exitCode << "\n" << r.err;
  if (r.exitCode == 1) {
    EXPECT_FALSE(r.err.empty()) << "failed without saying why";
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  if (c.restReadable) {
    EXPECT_EQ(r.exitCode, 0) << r.err;
    if (c.args.front() == "ls") {
      EXPECT_NE(r.out.find("\"ROOT/Documents/Letters/bank.txt\""), std::string::npos) << "the rest was not listed";
    }
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

const std::vector<std::string> kList = {"ls", "--volume-image", "--json"};
const std::vector<std::string> kListAsKind = {"ls", "--kind", "{kind}", "--start-sector", "0", "--json"};
const std::vector<std::string> kSave = {"save", "--volume-image", "--path", "ROOT", "--out", "{out}"};

std::vector<DamagedCase> damagedCases() {
  std::vector<DamagedCase> cases;
  for (const std::string image : {"fat16-2k", "fat32-512", "exfat-4k"}) {
    std::string prefix;
    for (const char c : image)
      if (std::isalnum(static_cast<unsigned char>(c))) prefix += c;
    const auto add = [&](const std::string& name, const std::string& what, const std::vector<std::string>& args,
                         bool rest) {
      cases.push_back({prefix + name, image, what, args, rest});
    };
    add("ZeroedBootSectorList", "zero-boot-sector", kList, false);
    add("ZeroedBootSectorListAsKind", "zero-boot-sector", kListAsKind, false);
    add("ZeroSectorSizeList", "zero-sector-size", kListAsKind, false);
    add("ZeroSectorSizeSave", "zero-sector-size", kSave, false);
    add("ZeroClusterSizeList", "zero-cluster-size", kListAsKind, false);
    add("ZeroClusterSizeSave", "zero-cluster-size", kSave, false);
    add("FileChainLoopsList", "file-chain-loops", kList, true);
    add("FileChainLoopsSave", "file-chain-loops", kSave, false);
    add("FolderChainLoopsList", "folder-chain-loops", kList, true);
    add("FolderChainLoopsSave", "folder-chain-loops", kSave, false);
    add("EntryBeyondVolumeList", "entry-beyond-volume", kList, true);
    add("EntryBeyondVolumeSave", "entry-beyond-volume", kSave, false);
    if (image != "fat16-2k") {  // a FAT16 root is no chain
      add("RootChainLoopsList", "root-chain-loops", kList, false);
      add("RootChainLoopsSave", "root-chain-loops", kSave, false);
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Images, FatDamagedInput, ::testing::ValuesIn(damagedCases()),
                         [](const ::testing::TestParamInfo<DamagedCase>& info) { return info.param.name; });

// --- JSON: the UTC texts of ls --json, against fls and the builder's facts.

// fls reads the local times FAT records in the zone TZ names (UTC here),
// and the access day, which FAT keeps without a time of day, as that day's
// midnight, as the parser does. It prints 0 where the entry records no
// date, and for every time from 2038 on, which it cannot represent: there
// the JSON must say null, or give a time from 2038 on. And a count of 10 ms
// units (0 to 199) adds a second from 100 on, but fls adds it only from 101
// on, and exfat-fuse writes 100 into some entries: there the time is a
// second past fls's. FAT keeps that count for the creation time; exFAT
// for the modification time too (a folder written while the fixture is
// built lands on 100 now and then).
void checkUtcTimes(std::vector<std::string>& problems, const LsEntry& l, const TskEntry& e, bool exFat) {
  const auto check = [&](const char* field, const std::optional<std::string>& listed, std::int64_t tsk) {
    if (tsk != 0) {
      const std::string name(field);
      const bool countsTenMs = name == "createdUtc" || (exFat && name == "modifiedUtc");
      const bool secondFlsLost = listed == utcTime(tsk + 1) && countsTenMs;
      if (listed != utcTime(tsk) && !secondFlsLost)
        problems.push_back(l.path + ": " + field + " " + listed.value_or("null") + ", fls says " + utcTime(tsk));
    } else if (listed && *listed < utcTime(std::int64_t{1} << 31)) {
      problems.push_back(l.path + ": " + field + " " + *listed + ", where fls has no time");
    }
  };
  check("createdUtc", l.createdUtc, e.created);
  check("accessedUtc", l.accessedUtc, e.accessed);
  check("modifiedUtc", l.modifiedUtc, e.modified);
}

class CliFatJson : public FatVolume {};

TEST_P(CliFatJson, UtcTimesAreTheRecordedOnes) {
  std::vector<std::string> problems;
  std::size_t compared = 0;
  for (const TskEntry& e : v().tsk().live) {
    const std::vector<const LsEntry*> listed = v().listedAs(e);
    if (listed.size() != 1) continue;  // reported by the listing test
    ++compared;
    checkUtcTimes(problems, *listed[0], e, GetParam().rfind("exfat", 0) == 0);
    // Past 2038 only the builder knows the time.
    const std::string modified = utcTime(v().facts().modifiedAt(e.path));
    if (!e.folder && listed[0]->modifiedUtc != modified)
      problems.push_back(listed[0]->path + ": modifiedUtc " + listed[0]->modifiedUtc.value_or("null") +
                         ", the builder wrote " + modified);
  }
  EXPECT_GE(compared, v().tsk().live.size() * 99 / 100);
  expectNoProblems(problems, "UTC times other than recorded");
}

INSTANTIATE_TEST_SUITE_P(Images, CliFatJson, ::testing::ValuesIn(kAllImages), imageTestName);

// An entry whose date fields are zero records no time there: fls prints 0,
// the JSON null, and the entry's other times stay.
struct MissingTimeCase {
  std::string name;
  std::vector<std::pair<std::size_t, std::size_t>> zeroed;  // (offset in the 8.3 entry, bytes)
  bool created = false;                                     // which times remain
  bool accessed = false;
  bool modified = false;
};

TEST(CliFatJsonTimes, NullWhereTheEntryRecordsNoDate) {
  const std::string path = "Documents/Projects/2024/Q1/budget.csv";
  const MissingTimeCase cases[] = {
      {"creation and access", {{13, 5}, {18, 2}}, false, false, true},
      {"modification", {{22, 4}}, true, true, false},
  };
  const std::string bytes = readWhole(fatFixture("fat16-2k.img"));
  const std::size_t entry = entryOffset(bytes, "FAT16", "budget.csv");
  for (const MissingTimeCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempImage copy;
    fs::copy_file(fatFixture("fat16-2k.img"), copy.path(), fs::copy_options::overwrite_existing);
    for (const auto& [offset, count] : c.zeroed) copy.write(entry + offset, std::vector<std::uint8_t>(count, 0));

    const CommandResult r = cli({"search", copy.path(), "--volume-image", "--json", "^budget\\.csv$"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Listing found = parseListing(r.out);
    ASSERT_EQ(found.entries.size(), 1u) << r.out;
    const LsEntry& l = found.entries[0];
    ASSERT_EQ(l.path, "ROOT/" + path);
    EXPECT_EQ(l.createdUtc.has_value(), c.created);
    EXPECT_EQ(l.accessedUtc.has_value(), c.accessed);
    EXPECT_EQ(l.modifiedUtc.has_value(), c.modified);

    std::vector<std::string> problems;
    bool known = false;
    for (const TskEntry& e : flsEntries(copy.path())) {
      if (e.path != path || e.deleted) continue;
      known = true;
      EXPECT_EQ(e.created != 0, c.created) << "the oracle does not see the damage";
      EXPECT_EQ(e.accessed != 0, c.accessed) << "the oracle does not see the damage";
      EXPECT_EQ(e.modified != 0, c.modified) << "the oracle does not see the damage";
      checkUtcTimes(problems, l, e, false);  // a FAT16 volume
    }
    EXPECT_TRUE(known) << "fls lists no " << path;
    expectNoProblems(problems, "UTC times other than fls's");
  }
}

}  // namespace
}  // namespace quorvel
