// The wizard's whole road for an ext volume image: source, volume
// information, recovery mode, scan; then browsing and saving, with The
// Sleuth Kit as the oracle.
#include <time.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTreeView>
#include <QtTest>
#include <filesystem>
#include <map>
#include <set>

#include "ImageOptionDialog.h"
#include "RecoveryModeScreen.h"
#include "ScanScreenDrive.h"
#include "ScreenTestSupport.h"
#include "VolumeOperations.h"
#include "VolumeScanDlg.h"
#include "fs/TextFormats.h"
#include "session/Saving.h"
#include "session/ScanSession.h"
#include "support/CliListing.h"
#include "support/TskOracle.h"

using namespace screentest;
using quorvel::test::TskEntry;
namespace fs = std::filesystem;

namespace {

fs::path image() { return quorvel::test::fixtureDir() / "ext" / "ext4.img"; }

// A kernel-made ext4 image on which rm wiped maps and names (made afresh by
// the fixture step where it could, else the copy kept in the repository).
fs::path kernelMade(const std::string& file) {
  const fs::path made = quorvel::test::fixtureDir() / "kernel" / file;
  return fs::exists(made) ? made : fs::path(QUORVEL_SOURCE_DIR) / "tests/fixtures/kernel" / file;
}

// Opens a volume image and scans it in standard mode.
VolumeScanDlg* scanVolumeImage(TestDesktop& desktop, ImageOptionDialog& root, const std::string& path) {
  root.show();
  root.findChild<QRadioButton*>("volumeImageRadio")->click();
  desktop->fileNames = {QString::fromStdString(path)};
  press(&root, "browseButton");
  press(&root, "nextButton");
  auto* information = shownChild<VolumeOperations>(&root);
  if (!information) return nullptr;
  press(information, "nextButton");
  auto* mode = shownChild<RecoveryModeScreen>(information);
  if (!mode) return nullptr;
  press(mode, "standardRadio");
  press(mode, "nextButton");
  auto* scan = shownChild<VolumeScanDlg>(mode);
  return scan && jobEnds(scan) ? scan : nullptr;
}

}  // namespace

class ExtScanScreenTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    setenv("TZ", "UTC", 1);
    tzset();
  }

  void anExtVolumeImageIsScannedBrowsedAndSaved() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    root.show();
    root.findChild<QRadioButton*>("volumeImageRadio")->click();
    desktop->fileNames = {QString::fromStdString(image().string())};
    press(&root, "browseButton");
    press(&root, "nextButton");
    auto* information = shownChild<VolumeOperations>(&root);
    QVERIFY(information);
    press(information, "nextButton");
    auto* mode = shownChild<RecoveryModeScreen>(information);
    QVERIFY(mode);
    QVERIFY(part<QWidget>(mode, "advancedRadio")->isHidden());
    press(mode, "standardRadio");
    press(mode, "nextButton");
    auto* scan = shownChild<VolumeScanDlg>(mode);
    QVERIFY(scan);
    QVERIFY(jobEnds(scan));
    QCOMPARE(desktop->messages, (QStringList{"ext 4 file System", quorvel::kScanDone}));

    // The top level is what fls lists there, and the orphan folder.
    const std::vector<TskEntry> entries = quorvel::test::flsEntries(image());
    std::set<QString> want = {"ORPHAN_ENTRY"};
    for (const TskEntry& e : entries)
      if (e.path.find('/') == std::string::npos && !e.lostParent && e.path != "$OrphanFiles")
        want.insert(QString::fromStdString(e.path.substr(0, e.path.find(" -> "))));
    const QModelIndex top = treeOf(scan)->model()->index(0, 0);
    QCOMPARE(top.data().toString(), QString("ROOT"));
    std::set<QString> shown;
    for (int row = 0; row < treeOf(scan)->model()->rowCount(top); ++row)
      shown.insert(treeOf(scan)->model()->index(row, 0, top).data().toString());
    QCOMPARE(shown, want);

    // A clicked folder lists its files with the recorded times.
    click(treeOf(scan), itemAt(scan, "Documents/Letters"));
    QCOMPARE(listOf(scan)->model()->rowCount(), 1);
    QCOMPARE(listOf(scan)->model()->index(0, 0).data().toString(), QString("bank.txt"));
    for (const TskEntry& e : entries)
      if (e.path == "Documents/Letters/bank.txt")
        QCOMPARE(listOf(scan)->model()->index(0, 3).data().toString(), QString::fromStdString(quorvel::test::rowTime(e.modified)));

    // Removed files show in red under their folder.
    const QModelIndex removed = itemAt(scan, "Trash/removed-notes.txt");
    QVERIFY(removed.isValid());
    QCOMPARE(removed.data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));

    // Saving a folder writes what icat reads.
    quorvel::test::TempFolder out;
    click(treeOf(scan), itemAt(scan, "Documents"));
    desktop->folders = {QString::fromStdString((out.path() / "picked").string())};
    press(scan, "browseButton");
    desktop->answers = {true};
    press(scan, "saveButton");
    QVERIFY(jobEnds(scan));
    std::map<std::string, std::string> icat;
    for (const TskEntry& e : entries)
      if (!e.folder && !e.deleted && e.path.starts_with("Documents/"))
        icat[e.path.substr(10)] = quorvel::test::icat(image(), e.address);
    QCOMPARE(desktop->questions, QStringList{QString::fromStdString(quorvel::saveQuestion(icat.size()))});
    QVERIFY(quorvel::test::filesBelow(out.path() / "picked") == icat);
  }

  void aFileTheJournalGaveBackSaysSoOverItsRow() {
    quorvel::test::TempImage unpacked;
    const quorvel::test::CommandResult r = quorvel::test::runCommand(
        {"sh", "-c", "gzip -dc \"$0\" > \"$1\"", kernelMade("ext4-journal.img.gz").string(), unpacked.path()});
    QCOMPARE(r.exitCode, 0);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    VolumeScanDlg* scan = scanVolumeImage(desktop, root, unpacked.path());
    QVERIFY(scan);
    // docs holds files rm deleted (their maps wiped) beside live ones.
    click(treeOf(scan), itemAt(scan, "docs"));
    const QAbstractItemModel* list = listOf(scan)->model();
    int fromJournal = 0, plain = 0;
    for (int row = 0; row < list->rowCount(); ++row) {
      const QModelIndex sizeCell = list->index(row, 4);
      const QString tip = sizeCell.data(Qt::ToolTipRole).toString();
      const bool removed = itemAt(scan, "docs/" + list->index(row, 0).data().toString()).data(Qt::ForegroundRole)
                               .value<QColor>() == QColor(255, 0, 0);
      if (tip.contains("journal")) {
        QVERIFY2(removed, qPrintable(list->index(row, 0).data().toString()));
        ++fromJournal;
      } else {
        QVERIFY2(tip.isEmpty(), qPrintable(tip));
        ++plain;
      }
    }
    QVERIFY(fromJournal > 0);
    QVERIFY(plain > 0);
  }
};

QTEST_MAIN(ExtScanScreenTest)
#include "ExtScanScreenTest.moc"
