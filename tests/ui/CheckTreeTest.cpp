#include "ui/CheckTree.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

// A CheckTree whose items have names, so expectations read as the tree does.
class NamedTree : public CheckTreeObserver {
 public:
  NamedTree() : tree(this) {}

  CheckItemId add(const std::string& name, const std::string& parent = "", bool checked = false) {
    return remember(name, tree.insert(parent.empty() ? kNoCheckItem : ids.at(parent), checked));
  }
  CheckItemId separator(const std::string& name, const std::string& parent) {
    return remember(name, tree.insertSeparator(ids.at(parent)));
  }
  CheckItemId operator[](const std::string& name) const { return ids.at(name); }

  // Runs "+a" (check a), "-a" (uncheck a) and "~a" (click a's box), in order.
  void run(const std::string& steps) {
    std::istringstream words(steps);
    for (std::string word; words >> word;) {
      const CheckItemId item = ids.at(word.substr(1));
      if (word[0] == '~') {
        tree.toggle(item);
      } else {
        tree.applyCheck(item, word[0] == '+');
      }
    }
  }

  // "name=image ..." for every item in the order they were added.
  std::string images() const {
    std::string text;
    for (const auto& [id, name] : names) {
      text += (text.empty() ? "" : " ") + name + "=" + std::to_string(tree.stateImage(id));
    }
    return text;
  }

  std::vector<std::string> namesOf(const std::vector<CheckItemId>& items) const {
    std::vector<std::string> result;
    for (const CheckItemId id : items) result.push_back(names.at(id));
    return result;
  }

  void stateImageChanged(CheckItemId item) override { redrawn.push_back(names.at(item)); }
  void checkChanged(CheckItemId item, bool checked) override { told.emplace_back(names.at(item), checked); }

  CheckTree tree;
  std::vector<std::string> redrawn;
  std::vector<std::pair<std::string, bool>> told;

 private:
  CheckItemId remember(const std::string& name, CheckItemId id) {
    ids[name] = id;
    names[id] = name;
    return id;
  }
  std::map<std::string, CheckItemId> ids;
  std::map<CheckItemId, std::string> names;
};

// root ─┬─ a ─┬─ a1
//       │     ├─ a2
//       │     └─ b ─┬─ b1
//       │           └─ b2
//       └─ c
void addSample(NamedTree& t) {
  t.add("root");
  t.add("a", "root");
  t.add("a1", "a");
  t.add("a2", "a");
  t.add("b", "a");
  t.add("b1", "b");
  t.add("b2", "b");
  t.add("c", "root");
}

class CheckTreeSpread : public ::testing::Test {
 protected:
  CheckTreeSpread() { addSample(t); }
  NamedTree t;
};

TEST_F(CheckTreeSpread, ChecksSpreadDownAndCountUp) {
  struct Case {
    const char* what;
    const char* steps;
    const char* images;
  };
  const Case cases[] = {
      {"nothing checked", "", "root=1 a=1 a1=1 a2=1 b=1 b1=1 b2=1 c=1"},
      {"a folder checks all below it", "+a", "root=3 a=2 a1=2 a2=2 b=2 b1=2 b2=2 c=1"},
      {"the top checks everything", "+root", "root=2 a=2 a1=2 a2=2 b=2 b1=2 b2=2 c=2"},
      {"unchecking a folder unchecks all below it", "+root -a", "root=3 a=1 a1=1 a2=1 b=1 b1=1 b2=1 c=2"},
      {"unchecking the top clears everything", "+b +c -root", "root=1 a=1 a1=1 a2=1 b=1 b1=1 b2=1 c=1"},
      {"one file unchecked under a fully checked branch", "+root -b1",
       "root=3 a=3 a1=2 a2=2 b=3 b1=1 b2=2 c=2"},
      {"the last file completes its folder and that folder's folder", "+a1 +a2 +b1 +b2",
       "root=3 a=2 a1=2 a2=2 b=2 b1=2 b2=2 c=1"},
      {"completing every branch completes the top", "+a1 +a2 +b1 +b2 +c",
       "root=2 a=2 a1=2 a2=2 b=2 b1=2 b2=2 c=2"},
      {"a completed folder does not complete a parent with unchecked files", "+b1 +b2",
       "root=3 a=3 a1=1 a2=1 b=2 b1=2 b2=2 c=1"},
      {"checking twice changes nothing", "+b +b", "root=3 a=3 a1=1 a2=1 b=2 b1=2 b2=2 c=1"},
      {"a click on a partly checked folder checks it whole", "+b1 ~a",
       "root=3 a=2 a1=2 a2=2 b=2 b1=2 b2=2 c=1"},
      {"a click on a checked folder clears it", "+a ~a", "root=1 a=1 a1=1 a2=1 b=1 b1=1 b2=1 c=1"},
      {"a click on a file flips it", "~c ~a1 ~c", "root=3 a=3 a1=2 a2=1 b=1 b1=1 b2=1 c=1"},
      {"unchecking a partly checked folder clears it whole", "+b1 +a2 -a",
       "root=1 a=1 a1=1 a2=1 b=1 b1=1 b2=1 c=1"},
  };
  for (const Case& c : cases) {
    t.run("-root");  // back to nothing checked
    t.run(c.steps);
    EXPECT_EQ(t.images(), c.images) << c.what;
  }
}

TEST_F(CheckTreeSpread, IsCheckedOnlyForWholeBranches) {
  t.run("+root -b1");
  for (const char* name : {"root", "a", "b", "b1"}) EXPECT_FALSE(t.tree.isChecked(t[name])) << name;
  for (const char* name : {"a1", "a2", "b2", "c"}) EXPECT_TRUE(t.tree.isChecked(t[name])) << name;
  t.run("+b1");
  EXPECT_TRUE(t.tree.isChecked(t["root"]));
}

TEST_F(CheckTreeSpread, InsertingUnderACheckedBranch) {
  struct Case {
    const char* what;
    const char* parent;
    bool checked;
    const char* images;
  };
  const Case cases[] = {
      {"an unchecked file makes every ancestor partly checked", "b", false,
       "root=3 a=3 a1=2 a2=2 b=3 b1=2 b2=2 c=2 new=1"},
      {"a checked file keeps the branch checked", "b", true, "root=2 a=2 a1=2 a2=2 b=2 b1=2 b2=2 c=2 new=2"},
      {"a first unchecked item under a checked file clears that file", "c", false,
       "root=3 a=2 a1=2 a2=2 b=2 b1=2 b2=2 c=1 new=1"},
  };
  for (const Case& c : cases) {
    NamedTree tree;
    addSample(tree);
    tree.run("+root");
    tree.add("new", c.parent, c.checked);
    EXPECT_EQ(tree.images(), c.images) << c.what;
    // The counts stay right: checking the new item completes everything again.
    tree.run("+new");
    EXPECT_TRUE(tree.tree.isChecked(tree["root"])) << c.what;
  }
}

TEST_F(CheckTreeSpread, ObserverHearsOfEveryRedrawnBoxAndTheAppliedCheck) {
  t.run("+b1");
  EXPECT_EQ(t.redrawn, (std::vector<std::string>{"b1", "b", "a", "root"}));
  EXPECT_EQ(t.told, (std::vector<std::pair<std::string, bool>>{{"b1", true}}));
  t.redrawn.clear();
  t.told.clear();
  t.run("+b2");  // b completes; a and root stay partly checked
  EXPECT_EQ(t.redrawn, (std::vector<std::string>{"b2", "b"}));
  t.redrawn.clear();
  t.run("+b2 -c");  // no change at all
  EXPECT_TRUE(t.redrawn.empty());
  EXPECT_EQ(t.told, (std::vector<std::pair<std::string, bool>>{{"b2", true}}));
}

TEST(CheckTreeUncounted, DisabledItemsAndSeparatorsIgnoreChecksAndAreNotCounted) {
  NamedTree t;
  t.add("dir");
  t.add("file", "dir");
  t.separator("line", "dir");
  t.add("off", "dir");
  t.tree.setEnabled(t["off"], false);
  EXPECT_EQ(t.images(), "dir=1 file=1 line=1 off=5");

  t.run("+off +line");
  EXPECT_EQ(t.images(), "dir=1 file=1 line=1 off=5");
  EXPECT_TRUE(t.told.empty());

  // The one countable file completes the folder.
  t.run("+file");
  EXPECT_EQ(t.images(), "dir=2 file=2 line=1 off=5");
  EXPECT_TRUE(t.tree.isChecked(t["dir"]));

  t.run("-dir +dir");
  EXPECT_EQ(t.images(), "dir=2 file=2 line=1 off=5");

  // Enabled again, the unchecked item counts and the folder is partly checked.
  t.tree.setEnabled(t["off"], true);
  EXPECT_EQ(t.images(), "dir=3 file=2 line=1 off=1");
  t.tree.setEnabled(t["off"], false);
  EXPECT_EQ(t.images(), "dir=2 file=2 line=1 off=5");
}

TEST(CheckTreeUncounted, DisablingACheckedItemTakesItOutOfTheCounts) {
  NamedTree t;
  t.add("dir");
  t.add("x", "dir");
  t.add("y", "dir");
  t.run("+x");
  t.tree.setEnabled(t["x"], false);
  EXPECT_EQ(t.images(), "dir=1 x=6 y=1");  // x keeps its own check
  t.run("+y");
  EXPECT_EQ(t.images(), "dir=2 x=6 y=2");
  t.tree.setEnabled(t["x"], true);
  EXPECT_EQ(t.images(), "dir=2 x=2 y=2");
}

TEST(CheckTreeUncounted, AFolderWithNothingCountableBelowActsAsAFile) {
  NamedTree t;
  t.add("dir");
  t.separator("line", "dir");
  EXPECT_EQ(t.images(), "dir=1 line=1");
  t.run("~dir");
  EXPECT_EQ(t.images(), "dir=2 line=1");
  EXPECT_TRUE(t.tree.isChecked(t["dir"]));
  t.run("~dir");
  EXPECT_EQ(t.images(), "dir=1 line=1");
}

TEST(CheckTreeTopmost, WholeBranchesAreTakenWholeAndOthersItemByItem) {
  struct Case {
    const char* steps;
    std::vector<std::string> topmost;
  };
  const Case cases[] = {
      {"", {}},
      {"+root", {"root"}},
      {"+a", {"a"}},
      {"+b1 +c", {"b1", "c"}},
      {"+root -b1", {"a1", "a2", "b2", "c"}},
      {"+root -a1", {"a2", "b", "c"}},
      {"+empty", {"empty"}},
  };
  for (const Case& c : cases) {
    NamedTree t;
    addSample(t);
    t.add("empty");
    t.run(c.steps);
    EXPECT_EQ(t.namesOf(t.tree.topmostChecked()), c.topmost) << c.steps;
  }
}

TEST(CheckTreeTopmost, AFolderWithADisabledItemIsTakenApart) {
  NamedTree t;
  t.add("dir");
  t.add("x", "dir");
  t.add("off", "dir");
  t.tree.setEnabled(t["off"], false);
  t.run("+dir");
  EXPECT_TRUE(t.tree.isChecked(t["dir"]));
  EXPECT_EQ(t.namesOf(t.tree.topmostChecked()), std::vector<std::string>{"x"});
}

TEST(CheckTreeIds, UnknownItemsChangeNothing) {
  CheckTree tree;
  const CheckItemId top = tree.insert(kNoCheckItem);
  EXPECT_EQ(tree.insert(top + 5), kNoCheckItem);
  EXPECT_EQ(tree.insertSeparator(kNoCheckItem - 1), kNoCheckItem);
  tree.applyCheck(top + 5, true);
  tree.toggle(kNoCheckItem);
  tree.setEnabled(top + 5, false);
  EXPECT_FALSE(tree.isChecked(top + 5));
  EXPECT_EQ(tree.size(), 1u);
  EXPECT_EQ(tree.stateImage(top), 1);
  tree.clear();
  EXPECT_EQ(tree.size(), 0u);
  EXPECT_TRUE(tree.topItems().empty());
}

// After any mix of changes, every count equals a recount of the items below
// and every folder's flag says whether all of them are checked.
TEST(CheckTreeCounts, MatchARecountAfterRandomChanges) {
  CheckTree tree;
  std::mt19937 random(20220);
  const auto pick = [&](std::size_t size) {
    return static_cast<CheckItemId>(std::uniform_int_distribution<std::size_t>(0, size - 1)(random));
  };
  const auto recount = [&](CheckItemId id) {
    std::uint32_t all = 0, checked = 0, countable = 0;
    std::vector<CheckItemId> pending(tree.children(id).begin(), tree.children(id).end());
    while (!pending.empty()) {
      const CheckItemData& item = tree.data(pending.back());
      pending.pop_back();
      pending.insert(pending.end(), item.children.begin(), item.children.end());
      ++all;
      if (item.enabled && !item.separator) {
        ++countable;
        if (item.checked) ++checked;
      }
    }
    return std::tuple(all, checked, countable);
  };
  tree.insert(kNoCheckItem);
  for (int step = 0; step < 1500; ++step) {
    const int action = std::uniform_int_distribution<int>(0, 9)(random);
    const CheckItemId item = pick(tree.size());
    if (action < 4) {
      tree.insert(action == 0 ? kNoCheckItem : item, action == 1);
    } else if (action == 4) {
      tree.insertSeparator(item);
    } else if (action == 5) {
      tree.setEnabled(item, !tree.data(item).enabled);
    } else {
      tree.applyCheck(item, action % 2 == 0);
    }
    for (CheckItemId id = 0; id < tree.size(); ++id) {
      const auto [all, checked, countable] = recount(id);
      const CheckItemData& item = tree.data(id);
      ASSERT_EQ(item.descendants, all) << "step " << step << " item " << id;
      ASSERT_EQ(item.checkedDescendants, checked) << "step " << step << " item " << id;
      ASSERT_EQ(item.descendants - item.separatorsBelow - item.disabledBelow, countable) << "step " << step;
      if (countable > 0) {
        ASSERT_EQ(item.checked, checked == countable) << "step " << step << " item " << id;
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
