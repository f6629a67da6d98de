// Deleted names on NTFS volumes made through ntfs-3g, with The Sleuth Kit
// as the oracle: every deleted name fls lists is listed deleted in its
// folder; names left only in folder index slack after their records were
// taken by new files are still listed, and never saved; the change
// journal's deletion times reach `ls --json`.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/CliListing.h"
#include "support/TestSupport.h"
#include "support/TskOracle.h"

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

// The deleted names fls lists, as paths below the root; "OrphanFile-N" are
// fls's own names for records without any.
std::vector<TskEntry> flsDeletedNames(const fs::path& image) {
  std::vector<TskEntry> names;
  for (const TskEntry& e : flsEntries(image, "ntfs")) {
    if (!e.deleted || !e.fileOrFolder() || e.path.find(" ($FILE_NAME)") != std::string::npos) continue;
    if (baseName(e.path).find(':') != std::string::npos) continue;
    if (e.lostParent && baseName(e.path).starts_with("OrphanFile-")) continue;
    names.push_back(e);
  }
  return names;
}

// Which of fls's deleted names the listing has as deleted in the same
// folder (under ORPHAN_ENTRY for fls's $OrphanFiles).
std::vector<std::string> missingDeletedNames(const std::vector<TskEntry>& tsk, const Listing& ls) {
  std::vector<std::string> missing;
  for (const TskEntry& e : tsk) {
    const std::string tail = "/" + baseName(e.path);
    bool found = false;
    for (const LsEntry& l : ls.entries)
      if (l.deleted && l.folder == e.folder &&
          (l.path == "ROOT/" + e.path || (e.lostParent && l.path.starts_with("ROOT/ORPHAN_ENTRY/") && l.path.ends_with(tail))))
        found = true;
    if (!found) missing.push_back(e.path);
  }
  return missing;
}

std::unique_ptr<TempImage> unpackedNamesakes() {
  auto image = std::make_unique<TempImage>();
  const fs::path packed = fs::path(QUORVEL_SOURCE_DIR) / "tests/fixtures/kernel/ntfs-namesakes.img.gz";
  const CommandResult r = runCommand({"sh", "-c", "gzip -dc \"$0\" > \"$1\"", packed.string(), image->path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return image;
}

struct FixtureCase {
  std::string name;
  std::string image;  // below the fixture folder; "namesakes" for the kept mount-made image
  std::vector<std::string> selection;
};

void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.name; }

class NtfsDeletedNames : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(NtfsDeletedNames, EveryNameFlsListsDeletedIsListedDeletedInItsFolder) {
  std::unique_ptr<TempImage> unpacked;
  fs::path image;
  if (GetParam().image == "namesakes") {
    unpacked = unpackedNamesakes();
    image = unpacked->path();
  } else {
    image = fixtureImage(GetParam().image);
  }
  const std::vector<TskEntry> tsk = flsDeletedNames(image);
  const std::vector<std::string> missing = missingDeletedNames(tsk, listVolume(image, GetParam().selection));
  std::cout << GetParam().name << ": " << tsk.size() - missing.size() << " of " << tsk.size()
            << " deleted names fls lists\n";
  expectNoProblems(missing, "deleted names fls lists that are not listed deleted in their folder");
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, NtfsDeletedNames,
    ::testing::Values(FixtureCase{"Main", "ntfs/ntfs-main.img", {"--volume-image"}},
                      FixtureCase{"VolumeImage", "vol-ntfs.img", {"--volume-image"}},
                      FixtureCase{"Namesakes", "namesakes", {"--volume-image"}},
                      FixtureCase{"Slack", "ntfs-slack/ntfs-slack.img", {"--volume-image"}},
                      FixtureCase{"SlackBeforeReuse", "ntfs-slack/ntfs-slack-before-reuse.img", {"--volume-image"}}),
    [](const ::testing::TestParamInfo<FixtureCase>& info) { return info.param.name; });

// The files deleted before new files took their records: fls names them on
// the volume as it was just before; on the volume now only the slack of
// big/'s index does.
TEST(NtfsSlackNames, NamesWhoseRecordsWereTakenStayListedAndAreNeverSaved) {
  const fs::path before = fixtureImage("ntfs-slack/ntfs-slack-before-reuse.img");
  const fs::path now = fixtureImage("ntfs-slack/ntfs-slack.img");
  const std::vector<TskEntry> deletedBefore = flsDeletedNames(before);
  ASSERT_GE(deletedBefore.size(), 40u);
  std::set<std::string> stillOwnRecord;
  for (const TskEntry& e : flsDeletedNames(now)) stillOwnRecord.insert(e.path);

  const Listing ls = listVolume(now, {"--volume-image"});
  expectNoProblems(missingDeletedNames(deletedBefore, ls), "deleted names no longer listed once their records were taken");

  // Names whose records now hold other files are listed once, and saving
  // big/ writes none of them: no other file's bytes under their names.
  std::set<std::string> taken;
  for (const TskEntry& e : deletedBefore)
    if (!stillOwnRecord.count(e.path) && e.path.starts_with("big/")) taken.insert(baseName(e.path));
  ASSERT_GE(taken.size(), 20u) << "the fixture should have records taken by new files";
  std::vector<std::string> problems;
  for (const std::string& name : taken)
    if (ls.at("ROOT/big/" + name).size() != 1) problems.push_back(name + ": listed " + std::to_string(ls.at("ROOT/big/" + name).size()) + " times");
  TempFolder out;
  const CommandResult save = cli({"save", now.string(), "--volume-image", "--path", "ROOT/big", "--out", out.path().string()});
  ASSERT_EQ(save.exitCode, 0) << save.err;
  for (const auto& file : fs::recursive_directory_iterator(out.path())) {
    if (!file.is_regular_file()) continue;
    if (taken.count(file.path().filename().string())) problems.push_back(file.path().filename().string() + ": saved");
    std::ifstream in(file.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.find("took a freed record") != std::string::npos)
      problems.push_back(file.path().filename().string() + ": holds a new file's bytes");
  }
  expectNoProblems(problems, "names of taken records");
}

TEST(NtfsJournal, DeletionTimesReachTheJsonListingWhereTheJournalHasThem) {
  const Listing ls = listVolume(fixtureImage("ntfs-slack/ntfs-slack.img"), {"--volume-image"});
  std::vector<std::string> problems;
  std::size_t withTime = 0;
  for (const LsEntry& e : ls.entries) {
    if (!e.deletedUtc) continue;
    ++withTime;
    if (!e.deleted) problems.push_back(e.path + ": live, but has a deletion time");
    if (!e.path.starts_with("ROOT/journal/noted-")) problems.push_back(e.path + ": the journal has no record of it");
    // The same text format as the other times; deleted after it was made.
    if (e.createdUtc && *e.deletedUtc < *e.createdUtc) problems.push_back(e.path + ": deleted before it was made");
  }
  EXPECT_EQ(withTime, 2u);
  expectNoProblems(problems, "deletion times");
}

}  // namespace
}  // namespace quorvel
