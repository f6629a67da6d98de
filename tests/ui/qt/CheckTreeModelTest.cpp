#include <QAbstractItemModelTester>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <map>

#include "ui/qt/CheckTreeModel.h"

using quorvel::CheckTreeItem;
using quorvel::CheckTreeModel;

namespace {

// A catalogue the model reads lazily: payload → children. Folders are the
// payloads that have an entry.
const std::map<quint64, std::vector<quint64>> kFolders = {
    {1, {10, 11, 12}},  // ROOT: docs, a.txt, b.txt
    {10, {20, 21}},     // docs: c.txt, old
    {21, {30}},         // old: gone.txt
};

CheckTreeItem itemFor(quint64 payload) {
  CheckTreeItem item;
  item.text = QStringLiteral("entry %1").arg(payload);
  item.payload = payload;
  item.deleted = payload == 30;
  item.hasChildren = kFolders.count(payload) > 0;
  return item;
}

Qt::CheckState stateOf(const QModelIndex& index) {
  return static_cast<Qt::CheckState>(index.data(Qt::CheckStateRole).toInt());
}

// Every item the spy's dataChanged ranges covered.
QSet<quint64> reported(const QSignalSpy& spy) {
  QSet<quint64> payloads;
  for (const QList<QVariant>& signal : spy) {
    const auto first = signal[0].value<QModelIndex>();
    const auto last = signal[1].value<QModelIndex>();
    for (int row = first.row(); row <= last.row(); ++row) {
      payloads.insert(first.sibling(row, 0).data(CheckTreeModel::PayloadRole).toULongLong());
    }
  }
  return payloads;
}

}  // namespace

class CheckTreeModelTest : public QObject {
  Q_OBJECT

 private:
  // ROOT with its children fetched; deeper folders wait for fetchMore.
  void fill(CheckTreeModel& model) {
    model.setChildrenSupplier([this, &model](const QModelIndex& folder) {
      ++suppliedFolders;
      std::vector<CheckTreeItem> children;
      for (const quint64 child : kFolders.at(model.payload(folder))) children.push_back(itemFor(child));
      return children;
    });
    const QModelIndex root = model.appendItem({}, itemFor(1));
    model.fetchMore(root);
  }

  QModelIndex find(CheckTreeModel& model, quint64 payload) {
    const QModelIndexList hits = model.match(model.index(0, 0), CheckTreeModel::PayloadRole,
                                             QVariant::fromValue(payload), 1, Qt::MatchExactly | Qt::MatchRecursive);
    return hits.isEmpty() ? QModelIndex() : hits.first();
  }

  int suppliedFolders = 0;

 private slots:
  void init() { suppliedFolders = 0; }

  // The tester fetches every folder itself, and would do so inside the
  // insertion signals of a fetch, so it starts on a filled model.
  void passesTheModelTester() {
    CheckTreeModel model;
    fill(model);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(find(model, 30).isValid());
    model.applyCheck(find(model, 20), true);
    model.applyCheck(find(model, 1), true);
    model.setItemText(find(model, 12), QStringLiteral("renamed"));
    model.appendItem(find(model, 30), itemFor(40));
    model.setItemEnabled(find(model, 40), false);
    model.clear();
    QCOMPARE(model.rowCount(), 0);
  }

  void itemsShowTextColourAndPayload() {
    CheckTreeModel model;
    fill(model);
    const QModelIndex docs = find(model, 10);
    QCOMPARE(docs.data().toString(), QStringLiteral("entry 10"));
    QVERIFY(!docs.data(Qt::ForegroundRole).isValid());
    QVERIFY(model.hasChildren(docs));
    QCOMPARE(model.rowCount(docs), 0);
    QVERIFY(!model.hasChildren(find(model, 11)));
    model.fetchMore(docs);
    model.fetchMore(find(model, 21));
    const QModelIndex gone = find(model, 30);
    QCOMPARE(gone.data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    QCOMPARE(model.payload(gone), quint64{30});
    QCOMPARE(model.parent(gone), find(model, 21));
  }

  void aFolderIsAskedForItsChildrenOnce() {
    CheckTreeModel model;
    fill(model);
    const QModelIndex docs = find(model, 10);
    QVERIFY(model.canFetchMore(docs));
    model.fetchMore(docs);
    QVERIFY(!model.canFetchMore(docs));
    model.fetchMore(docs);
    QCOMPARE(suppliedFolders, 2);  // ROOT and docs
    QCOMPARE(model.rowCount(docs), 2);
  }

  void setDataSpreadsAndReportsEveryChangedBox_data() {
    QTest::addColumn<QString>("steps");  // payload and state pairs, in order
    QTest::addColumn<quint64>("target");
    QTest::addColumn<int>("state");
    QTest::addColumn<QList<quint64>>("changed");
    QTest::addColumn<QList<quint64>>("checked");
    QTest::addColumn<QList<quint64>>("partly");
    QTest::newRow("a folder checks everything fetched below it")
        << "" << quint64{10} << int(Qt::Checked) << QList<quint64>{1, 10, 20, 21}
        << QList<quint64>{10, 20, 21} << QList<quint64>{1};
    QTest::newRow("one file off under a checked top")
        << "1:2" << quint64{20} << int(Qt::Unchecked) << QList<quint64>{1, 10, 20}
        << QList<quint64>{11, 12, 21} << QList<quint64>{1, 10};
    QTest::newRow("the last file completes its folder and the top")
        << "11:2 12:2 21:2" << quint64{20} << int(Qt::Checked) << QList<quint64>{1, 10, 20}
        << QList<quint64>{1, 10, 11, 12, 20, 21} << QList<quint64>{};
    QTest::newRow("a partly checked folder cannot be set partly")
        << "20:2" << quint64{10} << int(Qt::PartiallyChecked) << QList<quint64>{}
        << QList<quint64>{20} << QList<quint64>{1, 10};
  }

  void setDataSpreadsAndReportsEveryChangedBox() {
    QFETCH(QString, steps);
    QFETCH(quint64, target);
    QFETCH(int, state);
    QFETCH(QList<quint64>, changed);
    QFETCH(QList<quint64>, checked);
    QFETCH(QList<quint64>, partly);

    CheckTreeModel model;
    fill(model);
    model.fetchMore(find(model, 10));
    for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
      const QStringList parts = step.split(':');
      QVERIFY(model.setData(find(model, parts[0].toULongLong()), parts[1].toInt(), Qt::CheckStateRole));
    }
    QSignalSpy dataChanged(&model, &CheckTreeModel::dataChanged);
    QSignalSpy checkChanged(&model, &CheckTreeModel::itemCheckChanged);
    const bool accepted = model.setData(find(model, target), state, Qt::CheckStateRole);
    QCOMPARE(accepted, state != Qt::PartiallyChecked);

    const QSet<quint64> expected(changed.begin(), changed.end());
    QCOMPARE(reported(dataChanged), expected);
    for (const QList<QVariant>& signal : dataChanged) {
      QVERIFY(signal[2].value<QList<int>>().contains(Qt::CheckStateRole));
    }
    QCOMPARE(checkChanged.size(), changed.isEmpty() ? 0 : 1);
    for (const quint64 payload : {1, 10, 11, 12, 20, 21}) {
      const Qt::CheckState expectedState = checked.contains(payload) ? Qt::Checked
                                           : partly.contains(payload) ? Qt::PartiallyChecked
                                                                      : Qt::Unchecked;
      QCOMPARE(stateOf(find(model, payload)), expectedState);
    }
  }

  void childrenCreatedLaterTakeTheirFolderCheck() {
    CheckTreeModel model;
    fill(model);
    const QModelIndex docs = find(model, 10);
    QVERIFY(model.setData(docs, Qt::Checked, Qt::CheckStateRole));
    model.fetchMore(docs);
    QCOMPARE(stateOf(find(model, 20)), Qt::Checked);
    QCOMPARE(stateOf(find(model, 21)), Qt::Checked);
    QCOMPARE(stateOf(docs), Qt::Checked);
    QVERIFY(model.setData(find(model, 20), Qt::Unchecked, Qt::CheckStateRole));
    model.fetchMore(find(model, 21));
    QCOMPARE(stateOf(find(model, 30)), Qt::Checked);  // old itself is still checked

    QVERIFY(model.setData(docs, Qt::Unchecked, Qt::CheckStateRole));
    const QModelIndex later = model.appendItem(docs, itemFor(40));
    QCOMPARE(stateOf(later), Qt::Unchecked);
  }

  void topmostCheckedGivesWholeFoldersAndSingleFiles() {
    CheckTreeModel model;
    fill(model);
    model.fetchMore(find(model, 10));
    QVERIFY(model.setData(find(model, 21), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(model.setData(find(model, 12), Qt::Checked, Qt::CheckStateRole));
    QModelIndexList found = model.topmostChecked();
    QCOMPARE(found.size(), 2);
    QCOMPARE(model.payload(found[0]), quint64{21});  // a folder not yet opened, taken whole
    QCOMPARE(model.payload(found[1]), quint64{12});
  }

  void spaceOnAPartlyCheckedFolderChecksItWhole() {
    CheckTreeModel model;
    fill(model);
    QTreeView view;
    view.setModel(&model);
    view.expandAll();
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QModelIndex docs = find(model, 10);
    view.expand(docs);
    QVERIFY(model.setData(find(model, 20), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(stateOf(docs), Qt::PartiallyChecked);

    view.setCurrentIndex(docs);
    QTest::keyClick(&view, Qt::Key_Space);
    QCOMPARE(stateOf(docs), Qt::Checked);
    QCOMPARE(stateOf(find(model, 21)), Qt::Checked);
    QTest::keyClick(&view, Qt::Key_Space);
    QCOMPARE(stateOf(docs), Qt::Unchecked);
    QCOMPARE(stateOf(find(model, 20)), Qt::Unchecked);
  }

  void disabledItemsIgnoreChecks() {
    CheckTreeModel model;
    fill(model);
    const QModelIndex a = find(model, 11);
    model.setItemEnabled(a, false);
    QVERIFY(!(model.flags(a) & Qt::ItemIsUserCheckable));
    QVERIFY(!model.setData(a, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(model.data(a, CheckTreeModel::StateImageRole).toInt(), 5);
    QVERIFY(model.setData(find(model, 10), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(model.setData(find(model, 12), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(stateOf(find(model, 1)), Qt::Checked);  // a.txt is not counted
    QCOMPARE(stateOf(a), Qt::Unchecked);
  }
};

QTEST_MAIN(CheckTreeModelTest)
#include "CheckTreeModelTest.moc"
