#include "session/Search.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/FakeParser.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using test::FakeParser;

class Search : public ::testing::Test {
 protected:
  Search() {
    const EntryId a = p.folder("a");
    const EntryId b = p.folder("b", a);
    const EntryId c = p.folder("c", b);
    p.file("deep.txt", c);
    p.file("photo.jpg", a);
    p.folder("folder.txt", a);  // folders are never matched
    p.file("top.TXT");
  }

  std::vector<std::string> search(const std::string& text, SearchOutcome expected) {
    std::vector<std::string> paths;
    JobContext job(&observer);
    EXPECT_EQ(runSearch(p, text, job, [&](const SearchHit& hit) { paths.push_back(hit.path); }), expected);
    return paths;
  }

  FakeParser p;
  test::RecordingObserver observer;
};

TEST_F(Search, ListsMatchingFilesWithTheirFullPaths) {
  EXPECT_EQ(search("\\.txt$", SearchOutcome::Finished),
            (std::vector<std::string>{"ROOT/a/b/c/deep.txt", "ROOT/top.TXT"}));
  EXPECT_EQ(observer.statuses, (std::vector<std::string>{"searched file 1", "searched file 2", ""}));
  EXPECT_EQ(observer.messages, std::vector<std::string>{kSearchingFinished});
  EXPECT_EQ(observer.ranges.back(), (std::pair<std::int64_t, std::int64_t>{0, 3}));
}

TEST_F(Search, EmptyAndInvalidPatterns) {
  EXPECT_TRUE(search("", SearchOutcome::EmptyPattern).empty());
  EXPECT_EQ(observer.messages, std::vector<std::string>{kSearchingFinished});
  // A pattern the matcher refuses is reported and nothing is searched.
  for (const char* refused : {"[", "(deep)\\1", "(?=deep)"}) {
    SCOPED_TRACE(refused);
    observer = {};
    EXPECT_TRUE(search(refused, SearchOutcome::InvalidPattern).empty());
    EXPECT_EQ(observer.messages, std::vector<std::string>{kSearchNotAllowed});
    EXPECT_TRUE(observer.ranges.empty());
    EXPECT_TRUE(observer.statuses.empty());
  }
}

TEST_F(Search, PathologicalPatternOverLongNamesFinishes) {
  p.file(std::string(200, 'a'));
  p.file(std::string(199, 'a') + "z");
  EXPECT_EQ(search("^(.|..)*Z$", SearchOutcome::Finished), std::vector<std::string>{"ROOT/" + std::string(199, 'a') + "z"});
}

TEST_F(Search, StopEndsTheWholeSearch) {
  JobContext job;
  int hits = 0;
  const auto pattern = NamePattern::compile(".");
  EXPECT_FALSE(searchEntries(p, *pattern, job, [&](const SearchHit&) {
    ++hits;
    job.requestStop();
  }));
  EXPECT_EQ(hits, 1);
}

TEST_F(Search, PauseHoldsTheSearchBeforeTheNextName) {
  JobContext job;
  std::atomic<bool> resumed = false;
  std::thread resumer;
  std::vector<bool> resumedAtHit;
  const auto pattern = NamePattern::compile(".");
  EXPECT_TRUE(searchEntries(p, *pattern, job, [&](const SearchHit&) {
    resumedAtHit.push_back(resumed);
    if (resumer.joinable()) return;
    job.pause();
    resumer = std::thread([&] {
      resumed = true;
      job.resume();
    });
  }));
  resumer.join();
  EXPECT_EQ(resumedAtHit, (std::vector<bool>{false, true, true}));
}

}  // namespace
}  // namespace quorvel
