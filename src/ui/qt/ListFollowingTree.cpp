#include "ui/qt/ListFollowingTree.h"

#include "ui/qt/CheckListModel.h"
#include "ui/qt/CheckTreeModel.h"

namespace quorvel {

ListFollowingTree::ListFollowingTree(CheckTreeModel& tree, CheckListModel& list, QObject* parent)
    : QObject(parent), tree_(tree), list_(list) {
  connect(&tree_, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
            if (roles.isEmpty() || roles.contains(Qt::CheckStateRole)) treeChecksChanged();
          });
  connect(&tree_, &QAbstractItemModel::modelReset, this, &ListFollowingTree::clear);
  connect(&list_, &CheckListModel::rowCheckToggled, this, &ListFollowingTree::rowToggled);
  connect(&list_, &CheckListModel::headerCheckToggled, this, &ListFollowingTree::headerToggled);
}

void ListFollowingTree::clear() {
  list_.clear();
  rowItems_.clear();
}

void ListFollowingTree::addRow(const QModelIndex& item, const CheckListRow& row) {
  list_.addRow(row, tree_.isChecked(item));
  rowItems_.push_back(tree_.itemId(item));
}

// A folder's check reaches its items; the rows that show them follow.
void ListFollowingTree::treeChecksChanged() {
  for (std::size_t row = 0; row < rowItems_.size(); ++row) {
    const bool checked = tree_.isChecked(tree_.indexOf(rowItems_[row]));
    if (list_.isRowChecked(static_cast<int>(row)) != checked) list_.setRowChecked(static_cast<int>(row), checked);
  }
}

void ListFollowingTree::rowToggled(int row, bool checked) {
  if (row < 0 || static_cast<std::size_t>(row) >= rowItems_.size()) return;
  tree_.applyCheck(tree_.indexOf(rowItems_[static_cast<std::size_t>(row)]), checked);
}

void ListFollowingTree::headerToggled(bool checked) {
  for (const CheckItemId item : rowItems_) tree_.applyCheck(tree_.indexOf(item), checked);
}

}  // namespace quorvel
