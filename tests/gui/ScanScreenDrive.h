#pragma once
// Driving the scan screen as a user does: its tree and list, clicks on
// them, and waiting for the screen's job to end.
#include <QSignalSpy>
#include <QTableView>
#include <QTreeView>
#include <QtTest>

#include "ScreenTestSupport.h"
#include "VolumeScanDlg.h"

namespace screentest {

inline QTreeView* treeOf(QWidget* screen) { return part<QTreeView>(screen, "resultsTree"); }
inline QTableView* listOf(QWidget* screen) { return part<QTableView>(screen, "fileList"); }

// The item at "a/b/c" below the tree's top item, opening each folder on the
// way as a click on its expand button does; a live entry before a deleted
// one of the same name.
inline QModelIndex itemAt(QWidget* screen, const QString& path) {
  QTreeView* tree = treeOf(screen);
  QAbstractItemModel* model = tree->model();
  QModelIndex item = model->index(0, 0);
  for (const QString& name : path.split('/', Qt::SkipEmptyParts)) {
    tree->expand(item);
    QModelIndex found;
    for (int row = 0; row < model->rowCount(item); ++row) {
      const QModelIndex child = model->index(row, 0, item);
      if (child.data().toString() != name) continue;
      if (!found.isValid() || !child.data(Qt::ForegroundRole).isValid()) found = child;
    }
    if (!found.isValid()) return {};
    item = found;
  }
  return item;
}

inline void click(QAbstractItemView* view, const QModelIndex& item) {
  view->scrollTo(item);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center());
}

// Runs the event loop until the screen's job has ended: the worker's
// reports are served as they come, as in the running program. The bound
// keeps a broken screen from hanging the run; it is not a measure.
inline bool jobEnds(VolumeScanDlg* screen) {
  constexpr int kLongest = 300000;
  if (!screen->jobRunning()) return true;
  QSignalSpy finished(screen, &VolumeScanDlg::jobFinished);
  return finished.wait(kLongest) || !screen->jobRunning();
}

}  // namespace screentest
