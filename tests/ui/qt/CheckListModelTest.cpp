#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include "ui/qt/CheckHeaderView.h"
#include "ui/qt/CheckListModel.h"
#include "ui/qt/CheckTreeModel.h"

using quorvel::CheckHeaderView;
using quorvel::CheckListModel;
using quorvel::CheckListRow;
using quorvel::CheckTreeItem;
using quorvel::CheckTreeModel;

namespace {

const QStringList kColumns = {"File(s) List", "Creation Time", "Size"};

Qt::CheckState stateOf(const QModelIndex& index) {
  return static_cast<Qt::CheckState>(index.data(Qt::CheckStateRole).toInt());
}

Qt::CheckState headerStateOf(const CheckListModel& model) {
  return static_cast<Qt::CheckState>(model.headerData(0, Qt::Horizontal, Qt::CheckStateRole).toInt());
}

void addFiles(CheckListModel& model, int count) {
  for (int i = 0; i < count; ++i) {
    model.addRow({{QStringLiteral("file%1.txt").arg(i), QStringLiteral("2020-01-01"), QStringLiteral("1 KB")},
                  {},
                  static_cast<quint64>(i)});
  }
}

}  // namespace

class CheckListModelTest : public QObject {
  Q_OBJECT

 private slots:
  void passesTheModelTester() {
    CheckListModel model(kColumns);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    addFiles(model, 3);
    model.addRow({{QStringLiteral("short")}, {}, 9}, true);
    model.clickHeader();
    model.clear();
    addFiles(model, 1);
  }

  void rowsShowTheCallersColumns() {
    CheckListModel model(kColumns);
    addFiles(model, 2);
    model.addRow({{QStringLiteral("short")}, {}, 7});
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Creation Time"));
    QCOMPARE(model.index(1, 2).data().toString(), QStringLiteral("1 KB"));
    QCOMPARE(model.index(2, 1).data().toString(), QString());
    QCOMPARE(model.payload(2), quint64{7});
    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsUserCheckable);
    QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsUserCheckable));
    QVERIFY(!model.index(0, 1).data(Qt::CheckStateRole).isValid());
    QVERIFY(!model.headerData(1, Qt::Horizontal, Qt::CheckStateRole).isValid());
  }

  void theHeaderBoxChecksAndClearsEveryRow() {
    CheckListModel model(kColumns);
    addFiles(model, 4);
    QTableView view;
    auto* header = new CheckHeaderView(Qt::Horizontal, &view);
    view.setHorizontalHeader(header);
    view.setModel(&model);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(headerStateOf(model), Qt::Unchecked);

    QSignalSpy dataChanged(&model, &CheckListModel::dataChanged);
    QSignalSpy headerChanged(&model, &CheckListModel::headerDataChanged);
    QSignalSpy rowToggled(&model, &CheckListModel::rowCheckToggled);
    const QPoint inFirstSection(header->sectionViewportPosition(0) + header->sectionSize(0) / 2, header->height() / 2);
    for (const Qt::CheckState expected : {Qt::Checked, Qt::Unchecked}) {
      dataChanged.clear();
      headerChanged.clear();
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, inFirstSection);
      QCOMPARE(headerStateOf(model), expected);
      for (int row = 0; row < 4; ++row) QCOMPARE(stateOf(model.index(row, 0)), expected);
      QCOMPARE(dataChanged.size(), 1);
      QCOMPARE(dataChanged[0][0].value<QModelIndex>(), model.index(0, 0));
      QCOMPARE(dataChanged[0][1].value<QModelIndex>(), model.index(3, 0));
      QCOMPARE(headerChanged.size(), 1);
    }
    QCOMPARE(rowToggled.size(), 0);

    // Other sections carry no box and change nothing.
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    QCOMPARE(headerStateOf(model), Qt::Unchecked);
  }

  void aRowsBoxIsReportedAndMovesTheHeader() {
    CheckListModel model(kColumns);
    addFiles(model, 2);
    QSignalSpy rowToggled(&model, &CheckListModel::rowCheckToggled);
    QVERIFY(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(headerStateOf(model), Qt::Unchecked);
    QVERIFY(model.setData(model.index(0, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(headerStateOf(model), Qt::Checked);
    QVERIFY(model.setData(model.index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(headerStateOf(model), Qt::Unchecked);
    QVERIFY(!model.setData(model.index(0, 1), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(rowToggled.size(), 3);
    QCOMPARE(rowToggled[0], (QList<QVariant>{1, true}));
    QCOMPARE(rowToggled[2], (QList<QVariant>{0, false}));

    // The caller's own changes are not reported as clicks.
    model.setRowChecked(0, true);
    QCOMPARE(rowToggled.size(), 3);
    QCOMPARE(headerStateOf(model), Qt::Checked);
  }

  // The screen's wiring: a row's box passed on to the row's tree item.
  void rowBoxesPassedOnCompleteTheirFolder() {
    CheckTreeModel tree;
    const QModelIndex folder = tree.appendItem({}, CheckTreeItem{QStringLiteral("docs"), {}, false, 0, false});
    CheckListModel list(kColumns);
    for (int i = 0; i < 2; ++i) {
      const QModelIndex file =
          tree.appendItem(folder, CheckTreeItem{QStringLiteral("f%1").arg(i), {}, false, 0, false});
      list.addRow({{file.data().toString()}, {}, tree.itemId(file)});
    }
    connect(&list, &CheckListModel::rowCheckToggled, &tree, [&](int row, bool checked) {
      tree.applyCheck(tree.indexOf(static_cast<quorvel::CheckItemId>(list.payload(row))), checked);
    });
    QVERIFY(list.setData(list.index(0, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(stateOf(folder), Qt::PartiallyChecked);
    QVERIFY(list.setData(list.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(stateOf(folder), Qt::Checked);
    QCOMPARE(headerStateOf(list), Qt::Checked);
  }
};

QTEST_MAIN(CheckListModelTest)
#include "CheckListModelTest.moc"
