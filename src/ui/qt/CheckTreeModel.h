#pragma once
// The results tree as a Qt model: one column of items with tri-state check
// boxes kept by CheckTree, created lazily when a folder is first opened.
#include <QAbstractItemModel>
#include <QIcon>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

#include "ui/CheckTree.h"

namespace quorvel {

// What the caller says about one item.
struct CheckTreeItem {
  QString text;
  QIcon icon;
  bool deleted = false;  // drawn in red
  quint64 payload = 0;   // the caller's own reference (a catalogue entry, a carved file)
  // Children are asked for when the item is first opened, so the item shows
  // an expand button before it has any.
  bool hasChildren = false;
};

class CheckTreeModel : public QAbstractItemModel, private CheckTreeObserver {
  Q_OBJECT
 public:
  enum Role { PayloadRole = Qt::UserRole, StateImageRole };
  // Gives a folder's children, in the order they are shown.
  using ChildrenSupplier = std::function<std::vector<CheckTreeItem>(const QModelIndex& folder)>;

  explicit CheckTreeModel(QObject* parent = nullptr);

  void setChildrenSupplier(ChildrenSupplier supplier) { supplier_ = std::move(supplier); }
  // A new last child of `parent` (invalid: a top item). It gets the parent's
  // check, so a checked folder stays checked as its items are created.
  QModelIndex appendItem(const QModelIndex& parent, const CheckTreeItem& item);
  void clear();
  void setItemText(const QModelIndex& index, const QString& text);
  void setItemEnabled(const QModelIndex& index, bool enabled);

  void applyCheck(const QModelIndex& index, bool on);
  bool isChecked(const QModelIndex& index) const;
  // The topmost items whose whole subtree is checked, in tree order.
  QModelIndexList topmostChecked() const;

  quint64 payload(const QModelIndex& index) const;
  CheckItemId itemId(const QModelIndex& index) const;
  QModelIndex indexOf(CheckItemId item) const;
  const CheckTree& checks() const { return checks_; }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // No column title: the tree shows its items only.
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // A check applied to the item changed it or something below it; the
  // boxes drawn differently have been reported through dataChanged first.
  void itemCheckChanged(const QModelIndex& index, bool checked);

 private:
  struct Shown {
    QString text;
    QIcon icon;
    bool deleted = false;
    quint64 payload = 0;
    bool childrenPending = false;
  };

  void stateImageChanged(CheckItemId item) override;
  void checkChanged(CheckItemId item, bool checked) override;
  CheckItemId insertItem(CheckItemId parent, const CheckTreeItem& item, bool checked);
  // Tells the views about the boxes CheckTree changed, a run of siblings at a time.
  void reportChanges();

  CheckTree checks_{this};
  std::vector<Shown> shown_;  // by CheckItemId
  ChildrenSupplier supplier_;
  std::vector<CheckItemId> redrawn_;
  std::vector<std::pair<CheckItemId, bool>> checkChanges_;
};

}  // namespace quorvel
