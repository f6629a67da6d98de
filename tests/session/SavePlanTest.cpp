// The save road: targets below their folders, one progress, and names that
// never let one entry's output replace another's within a save.
#include "session/SavePlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/FakeParser.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using test::FakeParser;
using test::filesBelow;

// A catalogue with folders at two levels, a nameless folder and top files.
class SavePlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a = parser.folder("A");
    b = parser.folder("B", a);
    f = parser.file("f.txt", b, "f in B");
    parser.file("g.txt", b, "g in B");
    aFile = parser.file("a.txt", a, "a in A");
    nameless = parser.folder("", kTop);
    inNameless = parser.file("n.txt", nameless, "in a nameless folder");
    top = parser.file("t.txt", kTop, "top file");
  }

  SaveSummary save(std::vector<SaveTarget> targets, JobContext& job) {
    return SavePlan(parser, std::move(targets)).run(out.path(), job);
  }

  static constexpr EntryId kTop = kNoEntry;
  FakeParser parser;
  EntryId a{}, b{}, f{}, aFile{}, nameless{}, inNameless{}, top{};
  test::TempFolder out;
};

TEST_F(SavePlanTest, CheckedItemsKeepTheFoldersThatLeadToThem) {
  const struct {
    std::vector<EntryId> ancestors;
    std::optional<EntryId> item;
    std::vector<std::string> into;
  } cases[] = {
      {{}, a, {"A"}}, {{a}, b, {"A", "B"}},         {{a, b}, f, {"A", "B"}},
      {{}, top, {}},  {{nameless}, inNameless, {}}, {{}, std::nullopt, {}},
  };
  for (const auto& c : cases) {
    const SaveTarget target = checkedTarget(parser, c.ancestors, c.item);
    EXPECT_EQ(target.entry, c.item);
    EXPECT_EQ(target.into, c.into);
  }
}

TEST_F(SavePlanTest, WritesEachTargetBelowItsFoldersAndNothingElse) {
  test::RecordingObserver seen;
  JobContext job(&seen);
  SavePlan plan(parser, {checkedTarget(parser, {a}, b), checkedTarget(parser, {}, top), checkedTarget(parser, {a}, aFile)});
  EXPECT_EQ(plan.fileCount(job), 4u);
  const SaveSummary summary = plan.run(out.path(), job);
  EXPECT_EQ(summary.filesSaved, 4u);
  EXPECT_EQ(summary.filesFailed, 0u);
  EXPECT_FALSE(summary.stopped);
  const std::map<std::string, std::string> want = {
      {"A/B/f.txt", "f in B"}, {"A/B/g.txt", "g in B"}, {"t.txt", "top file"}, {"A/a.txt", "a in A"}};
  EXPECT_EQ(filesBelow(out.path()), want);

  // One bar from 0 to the four files, never going back.
  ASSERT_FALSE(seen.ranges.empty());
  for (const auto& range : seen.ranges) EXPECT_EQ(range, std::make_pair(std::int64_t{0}, std::int64_t{4}));
  ASSERT_FALSE(seen.positions.empty());
  EXPECT_TRUE(std::is_sorted(seen.positions.begin(), seen.positions.end()));
  EXPECT_EQ(seen.positions.back(), 4);
}

TEST_F(SavePlanTest, TheWholeTreeGoesDirectlyIntoTheOutputFolder) {
  JobContext job;
  save({SaveTarget{std::nullopt, {}}}, job);
  const std::map<std::string, std::string> want = {{"A/B/f.txt", "f in B"},
                                                   {"A/B/g.txt", "g in B"},
                                                   {"A/a.txt", "a in A"},
                                                   {"n.txt", "in a nameless folder"},
                                                   {"t.txt", "top file"}};
  EXPECT_EQ(filesBelow(out.path()), want);
}

// A link in the output folder where a folder is to be made must not lead
// the save out of it.
TEST_F(SavePlanTest, AFolderThatCannotBeMadeLeavesItsFilesUnsaved) {
  test::TempFolder elsewhere;
  fs::create_directory_symlink(elsewhere.path(), out.path() / "A");
  JobContext job;
  const SaveSummary summary = save({checkedTarget(parser, {a}, b), checkedTarget(parser, {}, top)}, job);
  EXPECT_EQ(summary.filesSaved, 1u);
  EXPECT_EQ(summary.filesFailed, 2u);
  EXPECT_TRUE(filesBelow(elsewhere.path()).empty());
  EXPECT_EQ(test::readWhole(out.path() / "t.txt"), "top file");
}

TEST_F(SavePlanTest, AStoppedJobWritesNothing) {
  JobContext job;
  job.requestStop();
  const SaveSummary summary = save({checkedTarget(parser, {}, a), checkedTarget(parser, {}, top)}, job);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.filesSaved, 0u);
  EXPECT_TRUE(filesBelow(out.path()).empty());
}

// Editors and package managers delete a file and write another of the same
// name all day: the volume then lists both, in either order.
TEST(SavePlanNames, ALiveEntryKeepsItsNameAndNamesakesGetNumbers) {
  const struct {
    const char* what;
    std::vector<bool> deleted;  // in catalogue order
    std::map<std::string, std::string> want;
  } cases[] = {
      {"deleted first", {true, false}, {{"f.txt", "1"}, {"f (2).txt", "0"}}},
      {"live first", {false, true}, {{"f.txt", "0"}, {"f (2).txt", "1"}}},
      {"two deleted around the live one", {true, false, true}, {{"f.txt", "1"}, {"f (2).txt", "0"}, {"f (3).txt", "2"}}},
      {"two live ones", {false, false}, {{"f.txt", "0"}, {"f (2).txt", "1"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const bool whole : {true, false}) {
      FakeParser p;
      const EntryId folder = p.folder("many");
      std::vector<EntryId> files;
      for (std::size_t i = 0; i < c.deleted.size(); ++i) {
        files.push_back(p.file("f.txt", folder, std::to_string(i)));
        p.entries[files.back()].deleted = c.deleted[i];
      }
      test::TempFolder out;
      JobContext job;
      std::vector<SaveTarget> targets;
      if (whole)
        targets.push_back({folder, {}});
      else  // the same files checked one by one in the list
        for (const EntryId id : files) targets.push_back({id, {}});
      const SaveSummary summary = SavePlan(p, targets).run(out.path(), job);
      EXPECT_EQ(summary.filesSaved, c.deleted.size());
      EXPECT_EQ(filesBelow(out.path()), c.want);
    }
  }
}

TEST(SavePlanNames, AFileNamedAsAFolderBesideItIsSavedUnderANumber) {
  FakeParser p;
  p.file("inside", p.folder("report"), "in the folder");
  p.file("report", kNoEntry, "the file");
  test::TempFolder out;
  JobContext job;
  const SaveSummary summary = SavePlan(p, {SaveTarget{std::nullopt, {}}}).run(out.path(), job);
  EXPECT_EQ(summary.filesSaved, 2u);
  EXPECT_EQ(summary.filesFailed, 0u);
  const std::map<std::string, std::string> want = {{"report/inside", "in the folder"}, {"report (2)", "the file"}};
  EXPECT_EQ(filesBelow(out.path()), want);
}

TEST(SavePlanNames, FilesThatWereThereBeforeTheSaveAreReplaced) {
  FakeParser p;
  p.file("old.txt", kNoEntry, "recovered");
  test::TempFolder out;
  std::ofstream(out.path() / "old.txt") << "there before";
  for (int run = 0; run < 2; ++run) {
    JobContext job;
    SavePlan(p, {SaveTarget{std::nullopt, {}}}).run(out.path(), job);
    EXPECT_EQ(filesBelow(out.path()), (std::map<std::string, std::string>{{"old.txt", "recovered"}}));
  }
}

}  // namespace
}  // namespace quorvel
