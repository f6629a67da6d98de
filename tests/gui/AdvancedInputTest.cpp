// The advanced-input screen on real NTFS images and damaged FAT images: the
// MFT candidates and FAT copies it offers, the scan of the chosen one, and
// what it says when nothing is found.
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <string>

#include "ScreenTestSupport.h"
#include "VolumeScanDlg.h"
#include "AdvancedInputScreen.h"
#include "session/ScanSession.h"
#include "volumes/VolumeList.h"
#include "volumes/VolumeKind.h"

using namespace screentest;
namespace fs = std::filesystem;

namespace {

// A bound that keeps a broken screen from hanging the run, not a measure.
constexpr int kLongest = 300000;

fs::path ntfsImage(const char* name) { return quorvel::test::fixtureDir() / "ntfs" / name; }

// Facts the image builder wrote down because no oracle tool can tell them.
std::string fact(const std::string& key) {
  std::ifstream in(ntfsImage("ntfs-expected.txt"));
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
  qFatal("ntfs-expected.txt has no %s", key.c_str());
}

// Opens the volume image and chooses its volume; `kind` overrides what the
// probe found.
quorvel::OpenImage& openVolumeImage(quorvel::OpenImage& image, const fs::path& path, const std::string& kind = {}) {
  if (!image.open(path.string())) qFatal("cannot open %s", path.c_str());
  quorvel::VolumeRecord volume;
  quorvel::probeVolumeImage(*image.source(), volume);
  if (!kind.empty()) quorvel::setKindNamed(volume, kind);
  image.choose(volume);
  return image;
}

QStringList items(QComboBox* list) {
  QStringList texts;
  for (int i = 0; i < list->count(); ++i) texts << list->itemText(i);
  return texts;
}

QStringList topNames(VolumeScanDlg* scan) {
  auto* tree = part<QTreeView>(scan, "resultsTree");
  const QModelIndex top = tree->model()->index(0, 0);
  QStringList names;
  for (int row = 0; row < tree->model()->rowCount(top); ++row)
    names << tree->model()->index(row, 0, top).data().toString();
  return names;
}

// Run the event loop until the job has ended, serving the worker's reports
// as they come.
bool searchEnds(AdvancedInputScreen* screen) {
  if (!screen->searching()) return true;
  QSignalSpy finished(screen, &AdvancedInputScreen::searchFinished);
  return finished.wait(kLongest) || !screen->searching();
}

bool scanEnds(VolumeScanDlg* screen) {
  if (!screen->jobRunning()) return true;
  QSignalSpy finished(screen, &VolumeScanDlg::jobFinished);
  return finished.wait(kLongest) || !screen->jobRunning();
}

bool jobControlsShown(QWidget* screen) {
  for (const char* name : {"progressBar", "pauseButton", "resumeButton", "stopButton"})
    if (!part<QWidget>(screen, name)->isHidden()) return true;
  return false;
}

}  // namespace

class AdvancedInputTest : public QObject {
  Q_OBJECT

 private slots:
  // Both $MFTs of the image are offered; each reads its own catalogue
  // (the older one's runs were pointed at its copy).
  void offersBothMftsAndScansTheChosenOne_data() {
    QTest::addColumn<QString>("candidate");
    QTest::addColumn<QString>("present");
    QTest::addColumn<QString>("absent");
    QTest::newRow("older") << "two-mfts.older-candidate"
                           << "previous.txt"
                           << "readme.txt";
    QTest::newRow("current") << "two-mfts.current-candidate"
                             << "readme.txt"
                             << "previous.txt";
  }
  void offersBothMftsAndScansTheChosenOne() {
    QFETCH(QString, candidate);
    QFETCH(QString, present);
    QFETCH(QString, absent);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    QWidget host;
    auto* screen = new AdvancedInputScreen(openVolumeImage(wizardImage, ntfsImage("ntfs-two-mfts.img")), 3, &host);
    screen->show();
    QVERIFY(!part<QPushButton>(screen, "nextButton")->isEnabled());
    QVERIFY(searchEnds(screen));

    auto* candidates = part<QComboBox>(screen, "candidateCombo");
    const int found = candidates->count();
    QVERIFY(found >= 2);
    QStringList numbered;
    for (int i = 0; i < found; ++i) numbered << QString("MFT_ENTRY:%1").arg(i);
    QCOMPARE(items(candidates), numbered);
    QCOMPARE(items(part<QComboBox>(screen, "clusterCombo")), (QStringList{"8", "4", "2", "16", "32", "64"}));
    QCOMPARE(desktop->messages,
             QStringList{QString("Number of MFT-ENTRY found = %1 . Please select the choice from combo "
                                 "box and click Next button to proceed.")
                             .arg(found)});
    QCOMPARE(part<QLabel>(screen, "statusLine")->text(), QString("Parsing done.Click next to continue."));
    QVERIFY(part<QPushButton>(screen, "nextButton")->isEnabled());
    QVERIFY(part<QPushButton>(screen, "backButton")->isEnabled());
    QVERIFY(!jobControlsShown(screen));

    candidates->setCurrentIndex(std::stoi(fact(candidate.toStdString())));
    part<QComboBox>(screen, "clusterCombo")->setCurrentIndex(0);
    press(screen, "nextButton");
    VolumeScanDlg* scan = shownChild<VolumeScanDlg>(screen);
    QVERIFY(scan);
    QVERIFY(!screen->isVisible());
    QCOMPARE(scan->mode(), quorvel::RecoveryMode::Advanced);
    QVERIFY(scanEnds(scan));
    QCOMPARE(desktop->messages.last(), QString(quorvel::kScanDone));
    QVERIFY(topNames(scan).contains(present));
    QVERIFY(!topNames(scan).contains(absent));

    // Back and Next again scan anew with the same search's results.
    press(scan, "backButton");
    settle();
    QVERIFY(screen->isVisible());
    press(screen, "nextButton");
    scan = shownChild<VolumeScanDlg>(screen);
    QVERIFY(scan);
    QVERIFY(scanEnds(scan));
    QVERIFY(topNames(scan).contains(present));
  }

  // A FAT16, FAT32 and exFAT volume whose boot sector is gone: the screen
  // offers the FAT copies (and exFAT's heap offsets) it found, and the scan
  // of the chosen ones lists the volume's tree.
  void damagedFatVolumesOfferTheirCopies_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("copies");
    QTest::addColumn<QStringList>("heaps");
    QTest::addColumn<QString>("report");
    QTest::addColumn<QString>("clusterSize");
    QTest::addColumn<QStringList>("clusterSizesFirst");
    QTest::newRow("FAT16") << "fat16-2k-noboot" << "FAT16" << "Total fat16 Entries Found:"
                           << QStringList{"FAT_ENTRY:0", "FAT_ENTRY:1"} << QStringList{}
                           << "Number of FAT-ENTRY found = 2 . Please select the choice from combo box and click Next "
                              "button to proceed."
                           << "4" << QStringList{"4", "8", "16", "2"};
    QTest::newRow("FAT32") << "fat32-512-noboot" << "FAT32" << "TFS :"
                           << QStringList{"FAT32_ENTRY:0", "FAT32_ENTRY:1"} << QStringList{}
                           << "Number of FAT32-ENTRY found = 2 . Please select the choice from combo box and click Next "
                              "button to proceed."
                           << "1" << QStringList{"2", "4", "16", "32"};
    // exFAT's shifts say what cluster size they stand for; the one the
    // heap's evidence fits comes first.
    QTest::newRow("exFAT") << "exfat-32k-noboot" << "FAT64" << "Total fat64 Entries Found:"
                           << QStringList{"FAT64_ENTRY:0"} << QStringList{"HEAP_OFFSET_ENTRY:0"}
                           << "Number of FAT64-ENTRY found = 1 and Number of HeapOffset-ENTRY found =  1  . Please "
                              "select the choice from ( Entry and Heap ) Combobox and click Next button to proceed."
                           << "6 (32 KiB clusters)"
                           << QStringList{"6 (32 KiB clusters)", "8 (128 KiB clusters)", "9 (256 KiB clusters)",
                                          "10 (512 KiB clusters)", "11 (1 MiB clusters)", "0 (512-byte clusters)",
                                          "1 (1 KiB clusters)"};
  }
  void damagedFatVolumesOfferTheirCopies() {
    QFETCH(QString, image);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QStringList, copies);
    QFETCH(QStringList, heaps);
    QFETCH(QString, report);
    QFETCH(QString, clusterSize);
    QFETCH(QStringList, clusterSizesFirst);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    QWidget host;
    const fs::path path = quorvel::test::fixtureDir() / "fat-damaged" / (image.toStdString() + ".img");
    auto* screen = new AdvancedInputScreen(openVolumeImage(wizardImage, path, kind.toStdString()), 3, &host);
    screen->show();
    QCOMPARE(part<QLabel>(screen, "candidateCaption")->text(), caption);
    QVERIFY(searchEnds(screen));
    QCOMPARE(items(part<QComboBox>(screen, "candidateCombo")), copies);
    QCOMPARE(items(part<QComboBox>(screen, "heapCombo")), heaps);
    QCOMPARE(desktop->messages, QStringList{report});
    QCOMPARE(part<QLabel>(screen, "statusLine")->text(), QString("Parsing done.Click Next to continue."));
    QVERIFY(!jobControlsShown(screen));

    auto* clusters = part<QComboBox>(screen, "clusterCombo");
    QCOMPARE(items(clusters).mid(0, clusterSizesFirst.size()), clusterSizesFirst);
    const int chosen = clusters->findText(clusterSize);
    QVERIFY(chosen >= 0);
    clusters->setCurrentIndex(chosen);
    press(screen, "nextButton");
    VolumeScanDlg* scan = shownChild<VolumeScanDlg>(screen);
    QVERIFY(scan);
    QCOMPARE(scan->mode(), quorvel::RecoveryMode::Advanced);
    QVERIFY(scanEnds(scan));
    QVERIFY(topNames(scan).contains("Documents"));
  }

  // A volume of zeros holds nothing any search looks for: the user is told
  // so, and Next opens no scan.
  void nothingFoundMeansNoScan_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("report");
    QTest::newRow("NTFS") << "NTFS"
                          << "TFS :"
                          << "Number of MFT-ENTRY found = 0 . Please select the choice from combo box and click Next "
                             "button to proceed.";
    QTest::newRow("FAT16") << "FAT16"
                           << "Total fat16 Entries Found:"
                           << "Number of FAT-ENTRY found = 0 . Please select the choice from combo box and click Next "
                              "button to proceed.";
    QTest::newRow("FAT32") << "FAT32"
                           << "TFS :"
                           << "NO FAT  FAT32-ENTRY found ..";
    QTest::newRow("exFAT") << "FAT64"
                           << "Total fat64 Entries Found:"
                           << "Number of FAT64-ENTRY found = 0 and Number of HeapOffset-ENTRY found =  0  . Please "
                              "select the choice from ( Entry and Heap ) Combobox and click Next button to proceed.";
  }
  void nothingFoundMeansNoScan() {
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QString, report);
    TestDesktop desktop;
    quorvel::test::TempImage zeros;
    zeros.resize(4 * 1048576);
    quorvel::OpenImage wizardImage;
    quorvel::VolumeRecord volume = *openVolumeImage(wizardImage, zeros.path()).chosen();
    quorvel::setKindNamed(volume, kind.toStdString());
    volume.sizeText = "4   MB";
    wizardImage.choose(volume);
    QWidget host;
    auto* screen = new AdvancedInputScreen(wizardImage, 0, &host);
    screen->show();
    QCOMPARE(part<QLabel>(screen, "candidateCaption")->text(), caption);
    QVERIFY(searchEnds(screen));
    QCOMPARE(desktop->messages, QStringList{report});
    QCOMPARE(part<QComboBox>(screen, "candidateCombo")->count(), 0);
    QVERIFY(part<QComboBox>(screen, "clusterCombo")->count() > 0);
    press(screen, "nextButton");
    QCOMPARE(desktop->messages.last(), QString("No File system Entry Found.Process cannot be continue..."));
    QVERIFY(!shownChild<VolumeScanDlg>(screen));
    QVERIFY(screen->isVisible());
  }

  // Stop ends the search early; what it found so far is offered.
  void stopOffersWhatWasFound() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    QWidget host;
    auto* screen = new AdvancedInputScreen(openVolumeImage(wizardImage, ntfsImage("ntfs-two-mfts.img")), 3, &host);
    screen->show();
    press(screen, "stopButton");
    QCOMPARE(part<QLabel>(screen, "statusLine")->text(), QString("stop button pressed"));
    QVERIFY(part<QPushButton>(screen, "backButton")->isEnabled());
    QVERIFY(searchEnds(screen));
    const int found = part<QComboBox>(screen, "candidateCombo")->count();
    QCOMPARE(desktop->messages, QStringList{QString("Number of MFT-ENTRY found = %1 . Please select the choice from "
                                                    "combo box and click Next button to proceed.")
                                                .arg(found)});
    QVERIFY(!jobControlsShown(screen));
  }

  // Stop ends the search under way, not the others: a Stop that ends
  // exFAT's FAT-copy search still lets the heap search run and offer what it
  // finds. Next waits for the lists, and stays disabled where a list the
  // scan needs is empty.
  void stopKeepsNextForTheLists_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<bool>("heapFound");
    QTest::newRow("heap behind the FATs") << "exfat-32k-noboot" << true;
    QTest::newRow("nothing anywhere") << "" << false;
  }
  void stopKeepsNextForTheLists() {
    QFETCH(QString, image);
    QFETCH(bool, heapFound);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    quorvel::test::TempImage zeros;
    if (image.isEmpty()) {
      zeros.resize(24 * 1048576);
      openVolumeImage(wizardImage, zeros.path(), "FAT64");
    } else {
      openVolumeImage(wizardImage, quorvel::test::fixtureDir() / "fat-damaged" / (image.toStdString() + ".img"), "FAT64");
    }
    QWidget host;
    auto* screen = new AdvancedInputScreen(wizardImage, 3, &host);
    screen->show();
    auto* next = part<QPushButton>(screen, "nextButton");
    press(screen, "stopButton");
    // Stop gives Back at once; Next only with the lists.
    QVERIFY(part<QPushButton>(screen, "backButton")->isEnabled());
    if (screen->searching()) QVERIFY(!next->isEnabled());
    QVERIFY(searchEnds(screen));
    const int copies = part<QComboBox>(screen, "candidateCombo")->count();
    const int heaps = part<QComboBox>(screen, "heapCombo")->count();
    QCOMPARE(heaps > 0, heapFound);
    QCOMPARE(next->isEnabled(), copies > 0 && heaps > 0);
    if (!next->isEnabled()) {
      press(screen, "nextButton");
      QVERIFY(!shownChild<VolumeScanDlg>(screen));
    }
  }

  void pauseHoldsTheSearchUntilResume() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    QWidget host;
    auto* screen = new AdvancedInputScreen(openVolumeImage(wizardImage, ntfsImage("ntfs-two-mfts.img")), 3, &host);
    screen->show();
    press(screen, "pauseButton");
    QCOMPARE(part<QLabel>(screen, "statusLine")->text(), QString("Pause button pressed"));
    QTest::qWait(300);  // however long it is left, a paused search does not end
    QVERIFY(screen->searching());
    QVERIFY(desktop->messages.isEmpty());
    press(screen, "resumeButton");
    QVERIFY(searchEnds(screen));
    QVERIFY(part<QComboBox>(screen, "candidateCombo")->count() >= 2);
  }

  void backDuringTheSearchReturnsAtOnce() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    QWidget host;
    QPointer<AdvancedInputScreen> screen =
        new AdvancedInputScreen(openVolumeImage(wizardImage, ntfsImage("ntfs-two-mfts.img")), 3, &host);
    screen->show();
    press(screen, "stopButton");  // Back is offered once the search is told to stop
    press(screen, "backButton");
    settle();
    QVERIFY(screen.isNull());
    QVERIFY(host.isVisible());
    QVERIFY(desktop->messages.isEmpty());
  }

  // Kinds with nothing to search for leave the user a way on and back.
  void otherKindsSearchNothing() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    QWidget host;
    openVolumeImage(wizardImage, ntfsImage("ntfs-main.img"), "Basic data partition");
    auto* screen = new AdvancedInputScreen(wizardImage, 3, &host);
    QVERIFY(!screen->searching());
    QVERIFY(part<QPushButton>(screen, "backButton")->isEnabled());
    QVERIFY(!jobControlsShown(screen));
    press(screen, "nextButton");
    QCOMPARE(desktop->messages, QStringList{"No File system Entry Found.Process cannot be continue..."});
  }

  void withoutASourceTheUserIsToldToRestart() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;  // nothing open, as at start
    QWidget host;
    quorvel::VolumeRecord volume;
    volume.kind = "NTFS";
    volume.fileSystem = quorvel::FileSystemId::Ntfs;
    volume.sizeText = "48";
    wizardImage.choose(volume);
    auto* screen = new AdvancedInputScreen(wizardImage, 3, &host);
    QCOMPARE(desktop->messages, QStringList{"Please Restart the program to re begin necessary initialization..."});
    QVERIFY(!screen->searching());
    QVERIFY(part<QPushButton>(screen, "backButton")->isEnabled());
  }
};

QTEST_MAIN(AdvancedInputTest)
#include "AdvancedInputTest.moc"
