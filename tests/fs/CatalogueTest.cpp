// The one catalogue every parser fills: its tree rules on damaged parents,
// the orphan folder, and what it keeps of each entry.
#include "fs/Catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace quorvel {
namespace {

// Every path the tree shows, depth first, folders with a trailing '/'.
std::vector<std::string> paths(const Catalogue& c) {
  std::vector<std::string> out;
  const auto walk = [&](auto&& self, const std::vector<EntryId>& ids, const std::string& prefix) -> void {
    for (const EntryId id : ids) {
      const std::string path = prefix + std::string(c.name(id)) + (c.isFolder(id) ? "/" : "");
      out.push_back(path);
      if (c.isFolder(id)) self(self, c.children(id), path);
    }
  };
  walk(walk, c.topEntries(), "");
  return out;
}

// A catalogue from (name, parent) pairs, in entry order after the root: a
// name ending in '/' is a folder; the parent is another entry's name, ""
// for the root, "?" for the orphan folder, "none" for not shown at all and
// "nowhere" for an id that names no entry.
using Plan = std::vector<std::pair<std::string, std::string>>;

Catalogue build(const Plan& plan) {
  Catalogue c;
  std::map<std::string, EntryId> ids;
  const EntryId root = ids[""] = c.add("", Catalogue::kFolder);
  for (const auto& [name, parent] : plan) {
    const bool folder = name.back() == '/';
    ids[name] = c.add(folder ? name.substr(0, name.size() - 1) : name, folder ? Catalogue::kFolder : 0);
  }
  for (const auto& [name, parent] : plan) {
    EntryId p = Catalogue::kUnderOrphans;
    if (parent == "none")
      p = kNoEntry;
    else if (parent == "nowhere")
      p = 4000000;
    else if (parent != "?")
      p = ids.at(parent);
    c.setParent(ids[name], p);
  }
  c.build(root, "ORPHANS");
  return c;
}

TEST(Catalogue, ChildrenListInEntryOrderAndAnEmptyOrphanFolderIsHidden) {
  const Catalogue c = build({{"b/", ""}, {"a.txt", "b/"}, {"top.txt", ""}, {"c.txt", "b/"}});
  EXPECT_EQ(paths(c), (std::vector<std::string>{"b/", "b/a.txt", "b/c.txt", "top.txt"}));
}

TEST(Catalogue, UnusableParentsLeadToTheOrphanFolderShownLast) {
  const struct {
    const char* what;
    Plan plan;
    std::vector<std::string> want;
  } cases[] = {
      {"asked for", {{"lost.txt", "?"}, {"kept.txt", ""}}, {"kept.txt", "ORPHANS/", "ORPHANS/lost.txt"}},
      {"a file as parent", {{"f.txt", ""}, {"x", "f.txt"}}, {"f.txt", "ORPHANS/", "ORPHANS/x"}},
      {"out of range", {{"x", "nowhere"}}, {"ORPHANS/", "ORPHANS/x"}},
      {"itself", {{"self/", "self/"}}, {"ORPHANS/", "ORPHANS/self/"}},
      // A folder kept out of the tree (parent none) keeps nobody else out.
      {"a hidden folder", {{"hidden/", "none"}, {"inside", "hidden/"}}, {"ORPHANS/", "ORPHANS/inside"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(paths(build(c.plan)), c.want);
  }
}

// A loop of three folders, met through a file in each of them in turn: the
// lowest folder heads the rest under the orphan folder every time.
TEST(Catalogue, ACycleIsCutAtItsLowestEntryWhereverItIsMet) {
  const std::vector<std::string> want[3] = {
      {"ORPHANS/", "ORPHANS/d0/", "ORPHANS/d0/f", "ORPHANS/d0/d2/", "ORPHANS/d0/d2/d1/"},
      {"ORPHANS/", "ORPHANS/d0/", "ORPHANS/d0/d2/", "ORPHANS/d0/d2/d1/", "ORPHANS/d0/d2/d1/f"},
      {"ORPHANS/", "ORPHANS/d0/", "ORPHANS/d0/d2/", "ORPHANS/d0/d2/f", "ORPHANS/d0/d2/d1/"},
  };
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    // d0 in d1, d1 in d2, d2 in d0; the file comes first, so the cycle is
    // met from it at d<k>.
    const std::string folder = "d" + std::to_string(k) + "/";
    EXPECT_EQ(paths(build({{"f", folder}, {"d0/", "d1/"}, {"d1/", "d2/"}, {"d2/", "d0/"}})), want[k]);
  }
}

TEST(Catalogue, WithoutARootTheOrphanFolderIsTheTopWhenItHoldsAnything) {
  Catalogue empty;
  empty.add("nowhere", 0);
  empty.build(kNoEntry, "ORPHANS");
  EXPECT_TRUE(empty.topEntries().empty());

  Catalogue some;
  some.setParent(some.add("found", 0), Catalogue::kUnderOrphans);
  some.build(kNoEntry, "ORPHANS");
  EXPECT_EQ(paths(some), (std::vector<std::string>{"ORPHANS/", "ORPHANS/found"}));
}

TEST(Catalogue, ALinkOrderListsChildrenInItsOrderAndLeavesOutTheRest) {
  Catalogue c;
  const EntryId root = c.add("", Catalogue::kFolder);
  const EntryId b = c.add("b", 0);
  const EntryId a = c.add("a", 0);
  const EntryId copy = c.add("a-copy", 0);
  for (const EntryId id : {b, a, copy}) c.setParent(id, root);
  const std::vector<EntryId> order = {a, b};
  c.build(root, "ORPHANS", &order);
  EXPECT_EQ(paths(c), (std::vector<std::string>{"a", "b"}));
}

TEST(Catalogue, KeepsFlagsSizesTimesAndNames) {
  Catalogue c;
  const EntryId id = c.add("report.txt", Catalogue::kDeleted);
  c.setSize(id, 1234);
  c.setTimes(id, {FileTime{-5, 7}, std::nullopt, FileTime{1700000000, 999999999}});
  EXPECT_TRUE(c.isDeleted(id));
  EXPECT_FALSE(c.isFolder(id));
  EXPECT_EQ(c.size(id), 1234u);
  const EntryTimes t = c.times(id);
  EXPECT_EQ(t.created, (FileTime{-5, 7}));
  EXPECT_FALSE(t.accessed);
  EXPECT_EQ(t.modified, (FileTime{1700000000, 999999999}));
  c.setFlag(id, Catalogue::kNeverSaved, true);
  EXPECT_TRUE(c.has(id, Catalogue::kNeverSaved));
  c.setName(id, "Report (restored).txt");
  EXPECT_EQ(c.name(id), "Report (restored).txt");

  // A name longer than any format allows is cut before a character, not inside it.
  std::string wide;
  for (int i = 0; i < 40000; ++i) wide += "\xC3\xA9";
  const EntryId longOne = c.add(wide, 0);
  EXPECT_LE(c.name(longOne).size(), 0xFFFFu);
  EXPECT_EQ(c.name(longOne).size() % 2, 0u);
  // Ids that name nothing read as nothing.
  EXPECT_EQ(c.name(kNoEntry), "");
  EXPECT_TRUE(c.children(kNoEntry).empty());
  EXPECT_EQ(c.size(99), 0u);
}

}  // namespace
}  // namespace quorvel
