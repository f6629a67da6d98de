#include "ui/CheckList.h"

namespace quorvel {

std::size_t CheckList::addRow(bool checked) {
  rows_.push_back(checked);
  if (!checked) ++uncheckedRows_;
  rowChanged(rows_.size() - 1);
  return rows_.size() - 1;
}

void CheckList::clear() {
  rows_.clear();
  uncheckedRows_ = 0;
}

void CheckList::setRowChecked(std::size_t row, bool checked) {
  if (row >= rows_.size() || rows_[row] == checked) return;
  rows_[row] = checked;
  if (checked) {
    --uncheckedRows_;
  } else {
    ++uncheckedRows_;
  }
  rowChanged(row);
}

CheckMark CheckList::rowMark(std::size_t row) const {
  return isRowChecked(row) ? CheckMark::Checked : CheckMark::Unchecked;
}

void CheckList::clickHeader() {
  const bool checked = !headerChecked_;
  setHeader(checked);
  for (std::size_t row = 0; row < rows_.size(); ++row) setRowChecked(row, checked);
}

void CheckList::setHeader(bool checked) {
  if (headerChecked_ == checked) return;
  headerChecked_ = checked;
  if (observer_) observer_->headerCheckChanged(checked);
}

void CheckList::rowChanged(std::size_t row) {
  if (observer_) observer_->rowCheckChanged(row, rows_[row]);
  setHeader(uncheckedRows_ == 0);
}

}  // namespace quorvel
