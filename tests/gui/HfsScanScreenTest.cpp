// The wizard's road for an HFS+ volume: the scan screen in the standard and
// deep modes over volumes made by xorriso, with The Sleuth Kit as the
// oracle for the tree, the list and the bytes saving writes. fls prints
// names decomposed, as HFS+ stores them; the screen shows them composed.
#include <time.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <QtTest>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ScanScreenDrive.h"
#include "ScreenTestSupport.h"
#include "VolumeScanDlg.h"
#include "fs/TextFormats.h"
#include "fs/UnicodeText.h"
#include "session/Saving.h"
#include "session/ScanSession.h"
#include "support/CliListing.h"
#include "support/TskOracle.h"
#include "volumes/VolumeList.h"

using namespace screentest;
using quorvel::test::TskEntry;
namespace fs = std::filesystem;

namespace {

fs::path hfsImage(const char* name) { return quorvel::test::fixtureDir() / "hfs" / name; }

// Opens the volume image and chooses its volume as the volume information
// screen describes it.
const quorvel::VolumeRecord& openVolumeImage(quorvel::OpenImage& image, const fs::path& path) {
  if (!image.open(path.string())) qFatal("cannot open %s", path.c_str());
  quorvel::VolumeRecord volume;
  quorvel::probeVolumeImage(*image.source(), volume);
  image.choose(volume);
  return *image.chosen();
}

// fls's files and folders of hfs-main.img, paths composed.
const std::vector<TskEntry>& mainEntries() {
  static const std::vector<TskEntry> entries = [] {
    std::vector<TskEntry> out;
    for (TskEntry e : quorvel::test::flsEntries(hfsImage("hfs-main.img"), "hfs")) {
      if (!e.fileOrFolder() || e.deleted || e.path.starts_with("$")) continue;
      e.path = quorvel::composedNfc(e.path);
      out.push_back(e);
    }
    return out;
  }();
  return entries;
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

class HfsScanScreenTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    setenv("TZ", "UTC", 1);  // the list's times are local; the oracle's UTC
    tzset();
  }

  // Standard on the intact volume, Deep on the copies whose catalog header
  // or catalog location is lost: the same tree, the same rows, the same bytes.
  void aScannedVolumeBrowsesAndSavesAsTheSleuthKitReadsIt_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("mode");
    QTest::newRow("standard") << "hfs-main.img" << int(quorvel::RecoveryMode::Standard);
    QTest::newRow("deep, catalog header zeroed") << "hfs-cathdr-zero.img" << int(quorvel::RecoveryMode::Deep);
    QTest::newRow("deep, catalog extent spoilt") << "hfs-catext-bad.img" << int(quorvel::RecoveryMode::Deep);
  }
  void aScannedVolumeBrowsesAndSavesAsTheSleuthKitReadsIt() {
    QFETCH(QString, image);
    QFETCH(int, mode);
    TestDesktop desktop;
    quorvel::test::TempFolder out;
    quorvel::OpenImage wizardImage;
    QWidget host;
    const quorvel::VolumeRecord volume = openVolumeImage(wizardImage, hfsImage(image.toUtf8().constData()));
    QCOMPARE(QString::fromStdString(volume.kind), QString("HFS+"));
    auto* screen = new VolumeScanDlg(wizardImage, static_cast<quorvel::RecoveryMode>(mode), &host);
    screen->show();
    QVERIFY(jobEnds(screen));
    QCOMPARE(desktop->messages, QStringList{quorvel::kScanDone});
    QVERIFY(part<QPushButton>(screen, "backButton")->isEnabled());

    // The top level: the root folder's children, no orphan folder.
    const QModelIndex top = treeOf(screen)->model()->index(0, 0);
    QCOMPARE(top.data().toString(), QString("ROOT"));
    treeOf(screen)->expand(top);
    std::set<QString> shown, want;
    for (int row = 0; row < treeOf(screen)->model()->rowCount(top); ++row)
      shown.insert(treeOf(screen)->model()->index(row, 0, top).data().toString());
    for (const TskEntry& e : mainEntries())
      if (folderOf(e.path).empty()) want.insert(QString::fromStdString(e.path));
    QCOMPARE(shown, want);

    // A clicked folder lists its files with composed names, times and sizes.
    click(treeOf(screen), itemAt(screen, "Unicode"));
    std::map<QString, QStringList> rows, wantRows;
    for (int row = 0; row < listOf(screen)->model()->rowCount(); ++row) {
      QStringList cells;
      for (int column = 0; column < 5; ++column) cells << listOf(screen)->model()->index(row, column).data().toString();
      rows[cells.first()] = cells;
    }
    for (const TskEntry& e : mainEntries()) {
      if (e.folder || folderOf(e.path) != "Unicode") continue;
      const QString name = QString::fromStdString(quorvel::test::baseName(e.path));
      wantRows[name] = QStringList{name, QString::fromStdString(quorvel::test::rowTime(e.created)),
                                   QString::fromStdString(quorvel::test::rowTime(e.accessed)),
                                   QString::fromStdString(quorvel::test::rowTime(e.modified)),
                                   QString::fromStdString(quorvel::sizeText(static_cast<std::uint64_t>(e.size)))};
    }
    QCOMPARE(rows, wantRows);

    // Saving the folder writes what icat reads, under composed names.
    click(treeOf(screen), itemAt(screen, "Unicode"));
    part<QLineEdit>(screen, "outputEdit")->setText(QString::fromStdString(out.path().string()));
    desktop->answers = {true};
    press(screen, "saveButton");
    QVERIFY(jobEnds(screen));
    std::map<std::string, std::string> wantFiles;
    for (const TskEntry& e : mainEntries())
      if (!e.folder && e.path.starts_with("Unicode/"))
        wantFiles[e.path.substr(8)] = quorvel::test::icat(hfsImage("hfs-main.img"), e.inode, "hfs");
    QVERIFY(!wantFiles.empty());
    QVERIFY(quorvel::test::filesBelow(out.path()) == wantFiles);
  }
};

QTEST_MAIN(HfsScanScreenTest)
#include "HfsScanScreenTest.moc"
