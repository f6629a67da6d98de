#pragma once
// A file list whose rows stand for items of a check tree: each row's box
// shows its item's check, and a click on a row's box or on the check-all
// header checks the items, so a save that follows the tree saves what the
// list shows checked.
#include <QModelIndex>
#include <QObject>
#include <vector>

#include "ui/CheckTree.h"

namespace quorvel {

class CheckListModel;
class CheckTreeModel;
struct CheckListRow;

class ListFollowingTree : public QObject {
  Q_OBJECT
 public:
  ListFollowingTree(CheckTreeModel& tree, CheckListModel& list, QObject* parent = nullptr);

  // Empties the list.
  void clear();
  // A row standing for `item`, checked as the item is. Rows the caller adds
  // to the list itself (search hits) stand for no item and follow nothing;
  // they come after these, until the next clear.
  void addRow(const QModelIndex& item, const CheckListRow& row);

 private:
  void treeChecksChanged();
  void rowToggled(int row, bool checked);
  void headerToggled(bool checked);

  CheckTreeModel& tree_;
  CheckListModel& list_;
  std::vector<CheckItemId> rowItems_;  // the tree item of each row
};

}  // namespace quorvel
