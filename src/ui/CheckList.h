#pragma once
// Check boxes on the rows of a list, with a check-all box in the header of
// the first column.
#include <cstddef>
#include <vector>

#include "ui/CheckTree.h"

namespace quorvel {

// Told about changes; calls arrive inside the changing call.
class CheckListObserver {
 public:
  virtual ~CheckListObserver() = default;
  virtual void rowCheckChanged(std::size_t row, bool checked) {
    (void)row;
    (void)checked;
  }
  virtual void headerCheckChanged(bool checked) { (void)checked; }
};

class CheckList {
 public:
  explicit CheckList(CheckListObserver* observer = nullptr) : observer_(observer) {}

  // Appends a row; its state counts as changed, so the header follows it.
  std::size_t addRow(bool checked = false);
  // Removes every row and leaves the header as it is.
  void clear();
  std::size_t rowCount() const { return rows_.size(); }

  void setRowChecked(std::size_t row, bool checked);
  bool isRowChecked(std::size_t row) const { return row < rows_.size() && rows_[row]; }
  CheckMark rowMark(std::size_t row) const;  // Unchecked or Checked, never partly

  // Starts unchecked; after any row changes it shows checked exactly when no
  // row is unchecked.
  bool headerChecked() const { return headerChecked_; }
  // The header's box was clicked: it flips, and every row follows it.
  void clickHeader();

 private:
  void setHeader(bool checked);
  void rowChanged(std::size_t row);

  std::vector<bool> rows_;
  std::size_t uncheckedRows_ = 0;
  bool headerChecked_ = false;
  CheckListObserver* observer_;
};

}  // namespace quorvel
