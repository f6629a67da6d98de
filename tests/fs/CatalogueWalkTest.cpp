#include "fs/CatalogueWalk.h"

#include <gtest/gtest.h>

#include "support/FakeParser.h"

namespace quorvel {
namespace {

using test::FakeParser;

std::vector<std::string> walkedPaths(const FakeParser& parser, std::optional<EntryId> start = std::nullopt) {
  std::vector<std::string> paths;
  walkCatalogue(parser, start, [&](const CatalogueItem& item) {
    paths.push_back(itemPath(item) + (item.folder ? "/" : ""));
    return true;
  });
  return paths;
}

TEST(CatalogueWalk, DepthFirstFoldersBeforeTheirContents) {
  FakeParser p;
  const EntryId docs = p.folder("docs");
  p.file("a.txt", docs);
  const EntryId deep = p.folder("deep", docs);
  p.file("b.txt", deep);
  p.file("top.txt");
  EXPECT_EQ(walkedPaths(p), (std::vector<std::string>{"docs/", "docs/a.txt", "docs/deep/", "docs/deep/b.txt",
                                                      "top.txt"}));
  EXPECT_EQ(walkedPaths(p, docs), (std::vector<std::string>{"a.txt", "deep/", "deep/b.txt"}));
}

// Each folder's children are shown before the first of them is visited,
// with the depth they are visited at; a folder not entered shows none.
TEST(CatalogueWalk, EnteringSeesEachFoldersChildrenFirst) {
  FakeParser p;
  const EntryId docs = p.folder("docs");
  p.file("a.txt", docs);
  p.folder(".", docs);
  p.file("top.txt");
  std::vector<std::string> events;
  walkCatalogue(
      p, std::nullopt,
      [&](const CatalogueItem& item) {
        events.push_back("visit " + item.name);
        return true;
      },
      nullptr,
      [&](int depth, const std::vector<EntryId>& children) {
        events.push_back("enter " + std::to_string(depth) + " of " + std::to_string(children.size()));
      });
  EXPECT_EQ(events, (std::vector<std::string>{"enter 0 of 2", "visit docs", "enter 1 of 2", "visit a.txt", "visit .",
                                               "visit top.txt"}));
}

TEST(CatalogueWalk, DamagedLinksCannotLoop) {
  FakeParser p;
  const EntryId a = p.folder("a");
  const EntryId b = p.folder("b", a);
  p.file("f", b);
  p.entries[b].extraChildren = {a, b};  // b holds its own ancestor and itself
  EXPECT_EQ(walkedPaths(p), (std::vector<std::string>{"a/", "a/b/", "a/b/f", "a/b/a/", "a/b/b/"}));
}

TEST(CatalogueWalk, DotIsNotEnteredAndNamelessFoldersAddNoLevel) {
  FakeParser p;
  const EntryId dot = p.folder(".");
  p.file("inside-dot", dot);
  const EntryId nameless = p.folder("");
  p.file("merged", nameless);
  EXPECT_EQ(walkedPaths(p), (std::vector<std::string>{"./", "/", "merged"}));
}

TEST(CatalogueWalk, StoppedJobEndsTheWalk) {
  FakeParser p;
  for (int i = 0; i < 5; ++i) p.file("f" + std::to_string(i));
  JobContext job;
  int seen = 0;
  const bool complete = walkCatalogue(
      p, std::nullopt,
      [&](const CatalogueItem&) {
        if (++seen == 2) job.requestStop();
        return true;
      },
      &job);
  EXPECT_FALSE(complete);
  EXPECT_EQ(seen, 2);
}

}  // namespace
}  // namespace quorvel
