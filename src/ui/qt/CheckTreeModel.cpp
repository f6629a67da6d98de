#include "ui/qt/CheckTreeModel.h"

#include <QColor>
#include <algorithm>

namespace quorvel {

namespace {

Qt::CheckState toQt(CheckMark mark) {
  switch (mark) {
    case CheckMark::Checked:
      return Qt::Checked;
    case CheckMark::PartlyChecked:
      return Qt::PartiallyChecked;
    case CheckMark::Unchecked:
      break;
  }
  return Qt::Unchecked;
}

}  // namespace

CheckTreeModel::CheckTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

QModelIndex CheckTreeModel::appendItem(const QModelIndex& parent, const CheckTreeItem& item) {
  const CheckItemId parentId = parent.isValid() ? itemId(parent) : kNoCheckItem;
  if (parent.isValid() && parentId == kNoCheckItem) return {};
  const int row = rowCount(parent);
  beginInsertRows(parent, row, row);
  const CheckItemId id = insertItem(parentId, item, parent.isValid() && checks_.isChecked(parentId));
  endInsertRows();
  reportChanges();
  return indexOf(id);
}

CheckItemId CheckTreeModel::insertItem(CheckItemId parent, const CheckTreeItem& item, bool checked) {
  const CheckItemId id = checks_.insert(parent, checked);
  shown_.push_back({item.text, item.icon, item.deleted, item.payload, item.hasChildren});
  return id;
}

void CheckTreeModel::clear() {
  beginResetModel();
  checks_.clear();
  shown_.clear();
  redrawn_.clear();
  checkChanges_.clear();
  endResetModel();
}

void CheckTreeModel::setItemText(const QModelIndex& index, const QString& text) {
  const CheckItemId id = itemId(index);
  if (id == kNoCheckItem) return;
  shown_[id].text = text;
  emit dataChanged(index, index, {Qt::DisplayRole});
}

void CheckTreeModel::setItemEnabled(const QModelIndex& index, bool enabled) {
  const CheckItemId id = itemId(index);
  if (id == kNoCheckItem || checks_.data(id).enabled == enabled) return;
  checks_.setEnabled(id, enabled);  // its image moves by kDisabledImage, so it is reported
  reportChanges();
}

void CheckTreeModel::applyCheck(const QModelIndex& index, bool on) {
  const CheckItemId id = itemId(index);
  if (id == kNoCheckItem) return;
  checks_.applyCheck(id, on);
  reportChanges();
}

bool CheckTreeModel::isChecked(const QModelIndex& index) const {
  const CheckItemId id = itemId(index);
  return id != kNoCheckItem && checks_.isChecked(id);
}

QModelIndexList CheckTreeModel::topmostChecked() const {
  QModelIndexList found;
  for (const CheckItemId id : checks_.topmostChecked()) found.push_back(indexOf(id));
  return found;
}

quint64 CheckTreeModel::payload(const QModelIndex& index) const {
  const CheckItemId id = itemId(index);
  return id == kNoCheckItem ? 0 : shown_[id].payload;
}

CheckItemId CheckTreeModel::itemId(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this || index.internalId() >= checks_.size()) return kNoCheckItem;
  return static_cast<CheckItemId>(index.internalId());
}

QModelIndex CheckTreeModel::indexOf(CheckItemId item) const {
  if (!checks_.contains(item)) return {};
  return createIndex(static_cast<int>(checks_.data(item).row), 0, static_cast<quintptr>(item));
}

QModelIndex CheckTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column != 0 || row >= rowCount(parent)) return {};
  const auto& siblings = parent.isValid() ? checks_.children(itemId(parent)) : checks_.topItems();
  return createIndex(row, 0, static_cast<quintptr>(siblings[static_cast<std::size_t>(row)]));
}

QModelIndex CheckTreeModel::parent(const QModelIndex& child) const {
  const CheckItemId id = itemId(child);
  return id == kNoCheckItem ? QModelIndex() : indexOf(checks_.parent(id));
}

int CheckTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(checks_.topItems().size());
  const CheckItemId id = itemId(parent);
  if (id == kNoCheckItem || parent.column() != 0) return 0;
  return static_cast<int>(checks_.children(id).size());
}

int CheckTreeModel::columnCount(const QModelIndex&) const { return 1; }

bool CheckTreeModel::hasChildren(const QModelIndex& parent) const {
  if (!parent.isValid()) return !checks_.topItems().empty();
  const CheckItemId id = itemId(parent);
  if (id == kNoCheckItem || parent.column() != 0) return false;
  return !checks_.children(id).empty() || shown_[id].childrenPending;
}

bool CheckTreeModel::canFetchMore(const QModelIndex& parent) const {
  const CheckItemId id = itemId(parent);
  return id != kNoCheckItem && shown_[id].childrenPending && supplier_;
}

void CheckTreeModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  const CheckItemId parentId = itemId(parent);
  shown_[parentId].childrenPending = false;
  const std::vector<CheckTreeItem> children = supplier_(parent);
  if (children.empty()) return;
  // Items created under a folder take the folder's check.
  const bool checked = checks_.isChecked(parentId);
  const int first = rowCount(parent);
  beginInsertRows(parent, first, first + static_cast<int>(children.size()) - 1);
  for (const CheckTreeItem& child : children) insertItem(parentId, child, checked);
  endInsertRows();
  reportChanges();
}

QVariant CheckTreeModel::data(const QModelIndex& index, int role) const {
  const CheckItemId id = itemId(index);
  if (id == kNoCheckItem) return {};
  const Shown& item = shown_[id];
  switch (role) {
    case Qt::DisplayRole:
      return item.text;
    case Qt::DecorationRole:
      return item.icon.isNull() ? QVariant() : QVariant(item.icon);
    case Qt::ForegroundRole:
      return item.deleted ? QVariant(QColor(255, 0, 0)) : QVariant();
    case Qt::CheckStateRole:
      return static_cast<int>(toQt(checks_.checkMark(id)));
    case PayloadRole:
      return QVariant::fromValue(item.payload);
    case StateImageRole:
      return checks_.stateImage(id);
    default:
      return {};
  }
}

QVariant CheckTreeModel::headerData(int, Qt::Orientation, int) const { return {}; }

bool CheckTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !(flags(index) & Qt::ItemIsUserCheckable)) return false;
  const int state = value.toInt();
  if (state != Qt::Checked && state != Qt::Unchecked) return false;
  applyCheck(index, state == Qt::Checked);
  return true;
}

Qt::ItemFlags CheckTreeModel::flags(const QModelIndex& index) const {
  const CheckItemId id = itemId(index);
  if (id == kNoCheckItem) return Qt::NoItemFlags;
  if (!checks_.data(id).enabled) return Qt::ItemIsSelectable;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

void CheckTreeModel::stateImageChanged(CheckItemId item) { redrawn_.push_back(item); }

void CheckTreeModel::checkChanged(CheckItemId item, bool checked) { checkChanges_.emplace_back(item, checked); }

void CheckTreeModel::reportChanges() {
  std::vector<CheckItemId> redrawn;
  redrawn.swap(redrawn_);
  const auto place = [this](CheckItemId id) { return std::pair(checks_.parent(id), checks_.data(id).row); };
  std::sort(redrawn.begin(), redrawn.end(), [&](CheckItemId a, CheckItemId b) { return place(a) < place(b); });
  redrawn.erase(std::unique(redrawn.begin(), redrawn.end()), redrawn.end());
  const QList<int> roles{Qt::CheckStateRole, StateImageRole};
  for (std::size_t first = 0; first < redrawn.size();) {
    std::size_t last = first;
    while (last + 1 < redrawn.size() && checks_.parent(redrawn[last + 1]) == checks_.parent(redrawn[first]) &&
           checks_.data(redrawn[last + 1]).row == checks_.data(redrawn[last]).row + 1) {
      ++last;
    }
    emit dataChanged(indexOf(redrawn[first]), indexOf(redrawn[last]), roles);
    first = last + 1;
  }
  std::vector<std::pair<CheckItemId, bool>> changes;
  changes.swap(checkChanges_);
  for (const auto& [id, checked] : changes) emit itemCheckChanged(indexOf(id), checked);
}

}  // namespace quorvel
