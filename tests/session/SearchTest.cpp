#include "session/Search.h"

#include <gtest/gtest.h>

#include "support/FakeParser.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using test::FakeParser;

TEST(NamePattern, MatchesAnywhereIgnoringCaseInAnyScript) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  for (const Case& c : {Case{"jpg|png", "Photo.JPG", true}, Case{"jpg|png", "icon.png", true},
                        Case{"jpg|png", "notes.txt", false}, Case{"^a", "Apple.doc", true},
                        Case{"^a", "banana", false}, Case{"\\.txt$", "read.me.TXT", true},
                        Case{"\\.txt$", "txt.doc", false}, Case{"été", "RÉSUMÉ-ÉTÉ.pdf", true},
                        Case{"привет", "ПРИВЕТ.txt", true}, Case{"😀", "smile 😀.png", true},
                        Case{"report", "rep\xff" "ort", false}}) {
    const auto pattern = NamePattern::compile(c.pattern);
    ASSERT_TRUE(pattern) << c.pattern;
    EXPECT_EQ(pattern->matchesPattern(c.name), c.matches) << c.pattern << " on " << c.name;
  }
  EXPECT_FALSE(NamePattern::compile("["));
  EXPECT_FALSE(NamePattern::compile("(a"));
}

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
  observer.messages.clear();
  EXPECT_TRUE(search("[", SearchOutcome::InvalidPattern).empty());
  EXPECT_EQ(observer.messages, std::vector<std::string>{kSearchNotAllowed});
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

}  // namespace
}  // namespace quorvel
