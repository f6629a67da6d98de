#include "ui/qt/CheckListModel.h"

#include <algorithm>
#include <utility>

namespace quorvel {

CheckListModel::CheckListModel(const QStringList& columns, QObject* parent)
    : QAbstractTableModel(parent), columns_(columns) {}

int CheckListModel::addRow(const CheckListRow& row, bool checked) {
  const int at = rowCount();
  beginInsertRows({}, at, at);
  rows_.push_back(row);
  checks_.addRow(checked);
  endInsertRows();
  reportChanges();
  return at;
}

void CheckListModel::clear() {
  beginResetModel();
  rows_.clear();
  checks_.clear();
  firstChangedRow_ = lastChangedRow_ = -1;
  endResetModel();
}

quint64 CheckListModel::payload(int row) const {
  return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)].payload : 0;
}

bool CheckListModel::isRowChecked(int row) const {
  return row >= 0 && checks_.isRowChecked(static_cast<std::size_t>(row));
}

void CheckListModel::setRowChecked(int row, bool checked) {
  if (row < 0) return;
  checks_.setRowChecked(static_cast<std::size_t>(row), checked);
  reportChanges();
}

void CheckListModel::clickHeader() {
  checks_.clickHeader();
  reportChanges();
  emit headerCheckToggled(checks_.headerChecked());
}

int CheckListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CheckListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant CheckListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
  const CheckListRow& row = rows_[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return index.column() < row.texts.size() ? row.texts[index.column()] : QString();
    case Qt::DecorationRole:
      return index.column() == 0 && !row.icon.isNull() ? QVariant(row.icon) : QVariant();
    case Qt::ToolTipRole:
      return row.toolTip.isEmpty() ? QVariant() : QVariant(row.toolTip);
    case Qt::CheckStateRole:
      if (index.column() != 0) return {};
      return static_cast<int>(isRowChecked(index.row()) ? Qt::Checked : Qt::Unchecked);
    case PayloadRole:
      return QVariant::fromValue(row.payload);
    default:
      return {};
  }
}

bool CheckListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !checkIndex(index, CheckIndexOption::IndexIsValid) || index.column() != 0) {
    return false;
  }
  const bool checked = value.toInt() == Qt::Checked;
  if (checked == isRowChecked(index.row())) return true;
  setRowChecked(index.row(), checked);
  emit rowCheckToggled(index.row(), checked);
  return true;
}

Qt::ItemFlags CheckListModel::flags(const QModelIndex& index) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == 0) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

QVariant CheckListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columns_.size()) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  if (role == Qt::DisplayRole) return columns_[section];
  if (role == Qt::CheckStateRole && section == 0) {
    return static_cast<int>(headerChecked() ? Qt::Checked : Qt::Unchecked);
  }
  return {};
}

bool CheckListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role) {
  if (orientation != Qt::Horizontal || section != 0 || role != Qt::CheckStateRole || columns_.isEmpty()) {
    return false;
  }
  if ((value.toInt() == Qt::Checked) != headerChecked()) clickHeader();
  return true;
}

void CheckListModel::rowCheckChanged(std::size_t row, bool) {
  const int at = static_cast<int>(row);
  firstChangedRow_ = firstChangedRow_ < 0 ? at : std::min(firstChangedRow_, at);
  lastChangedRow_ = std::max(lastChangedRow_, at);
}

void CheckListModel::headerCheckChanged(bool) { headerChanged_ = true; }

void CheckListModel::reportChanges() {
  if (firstChangedRow_ >= 0) {
    const int first = std::exchange(firstChangedRow_, -1);
    const int last = std::exchange(lastChangedRow_, -1);
    emit dataChanged(index(first, 0), index(last, 0), {Qt::CheckStateRole});
  }
  if (std::exchange(headerChanged_, false) && !columns_.isEmpty()) emit headerDataChanged(Qt::Horizontal, 0, 0);
}

}  // namespace quorvel
