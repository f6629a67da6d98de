#include "ui/CheckList.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {
namespace {

class RecordingList : public CheckListObserver {
 public:
  RecordingList() : list(this) {}

  // "add" / "add+" (a row, checked), "+N" / "-N" (row N), "header" (a click
  // on the header's box) and "clear", in order.
  void run(const std::string& steps) {
    std::istringstream words(steps);
    for (std::string word; words >> word;) {
      if (word == "add" || word == "add+") {
        list.addRow(word == "add+");
      } else if (word == "header") {
        list.clickHeader();
      } else if (word == "clear") {
        list.clear();
      } else {
        list.setRowChecked(std::stoul(word.substr(1)), word[0] == '+');
      }
    }
  }

  // The rows' state images, then the header's: "12|1".
  std::string picture() const {
    std::string text;
    for (std::size_t row = 0; row < list.rowCount(); ++row) text += std::to_string(static_cast<int>(list.rowMark(row)));
    return text + "|" + (list.headerChecked() ? "2" : "1");
  }

  void rowCheckChanged(std::size_t row, bool checked) override { rows.emplace_back(row, checked); }
  void headerCheckChanged(bool checked) override { headers.push_back(checked); }

  CheckList list;
  std::vector<std::pair<std::size_t, bool>> rows;
  std::vector<bool> headers;
};

TEST(CheckList, HeaderFollowsTheRowsAndSetsThemAll) {
  struct Case {
    const char* what;
    const char* steps;
    const char* picture;
  };
  const Case cases[] = {
      {"the header starts unchecked", "", "|1"},
      {"new rows start unchecked", "add add add", "111|1"},
      {"the header checks every row", "add add add header", "222|2"},
      {"a second click clears every row", "add add add header header", "111|1"},
      {"a partly checked list is checked whole", "add add+ header", "22|2"},
      {"checking the last row by hand checks the header", "add add +0 +1", "22|2"},
      {"unchecking one row clears the header", "add add header -1", "21|1"},
      {"a checked row alone checks the header", "add+", "2|2"},
      {"an unchecked row added to a checked list clears the header", "add+ add", "21|1"},
      {"a click on an empty list flips only the header", "header", "|2"},
      {"emptying the list leaves the header as it was", "add+ clear", "|2"},
      {"rows that do not exist are not changed", "add +5 -9", "1|1"},
  };
  for (const Case& c : cases) {
    RecordingList recorded;
    recorded.run(c.steps);
    EXPECT_EQ(recorded.picture(), c.picture) << c.what;
  }
}

TEST(CheckList, ObserverHearsOnlyRealChanges) {
  RecordingList recorded;
  recorded.run("add add+");
  EXPECT_EQ(recorded.rows, (std::vector<std::pair<std::size_t, bool>>{{0, false}, {1, true}}));
  EXPECT_TRUE(recorded.headers.empty());  // unchecked throughout
  recorded.rows.clear();

  recorded.run("header");
  EXPECT_EQ(recorded.rows, (std::vector<std::pair<std::size_t, bool>>{{0, true}}));
  EXPECT_EQ(recorded.headers, std::vector<bool>{true});
  recorded.rows.clear();

  recorded.run("+0 +1");
  EXPECT_TRUE(recorded.rows.empty());
  EXPECT_EQ(recorded.headers, std::vector<bool>{true});
}

}  // namespace
}  // namespace quorvel
