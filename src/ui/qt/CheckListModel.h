#pragma once
// The file list as a Qt model: the caller's columns, a check box on every
// row in the first column and a check-all box in that column's header
// (shown by CheckHeaderView), kept by CheckList.
#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>
#include <vector>

#include "ui/CheckList.h"

namespace quorvel {

struct CheckListRow {
  QStringList texts;  // one per column; missing ones are empty
  QIcon icon;         // shown in the first column
  quint64 payload = 0;  // the caller's own reference, such as the row's tree item
  QString toolTip;      // shown over every column; none when empty
};

class CheckListModel : public QAbstractTableModel, private CheckListObserver {
  Q_OBJECT
 public:
  enum Role { PayloadRole = Qt::UserRole };

  explicit CheckListModel(const QStringList& columns, QObject* parent = nullptr);

  int addRow(const CheckListRow& row, bool checked = false);
  // Empties the list; the header keeps its box.
  void clear();
  quint64 payload(int row) const;
  bool isRowChecked(int row) const;
  // Changes the box without telling rowCheckToggled: for callers that follow
  // the tree, not for the user's clicks.
  void setRowChecked(int row, bool checked);
  bool headerChecked() const { return checks_.headerChecked(); }
  // The header's box was clicked: it flips and every row follows.
  void clickHeader();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Section 0 of the horizontal header carries the check-all box in Qt::CheckStateRole.
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                     int role = Qt::EditRole) override;

 signals:
  // The user changed a row's box; the caller passes it on to the row's tree item.
  void rowCheckToggled(int row, bool checked);
  // The user clicked the header's box; every row now has this state.
  void headerCheckToggled(bool checked);

 private:
  void rowCheckChanged(std::size_t row, bool checked) override;
  void headerCheckChanged(bool checked) override;
  void reportChanges();

  QStringList columns_;
  std::vector<CheckListRow> rows_;
  CheckList checks_{this};
  int firstChangedRow_ = -1;
  int lastChangedRow_ = -1;
  bool headerChanged_ = false;
};

}  // namespace quorvel
