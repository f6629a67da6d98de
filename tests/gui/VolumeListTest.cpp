// The volume list screen on the fixture disk images: the standard listing,
// the advanced scan on its worker thread with Stop, the custom setting,
// the filter and the screen's messages.
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>
#include <fstream>

#include "ImageOptionDialog.h"
#include "RecoveryModeScreen.h"
#include "PopulateDriveDlg.h"
#include "ScreenTestSupport.h"
#include "SectorEdit.h"

using namespace screentest;

namespace {

wizard::VolumeListRequest requestFor(const QString& image, wizard::ListingMode mode) {
  wizard::VolumeListRequest request;
  request.imagePath = image.toStdString();
  request.mode = mode;
  return request;
}

PopulateDriveDlg* openList(ImageOptionDialog& root, const wizard::VolumeListRequest& request) {
  wizardState().diskImageMode = true;
  auto* list = new PopulateDriveDlg(root.image(), request, &root);
  root.openNext(list);
  return list;
}

QTableWidget* table(QWidget* list) { return part<QTableWidget>(list, "volumeTable"); }

QStringList column(QWidget* list, int column) {
  QStringList texts;
  for (int row = 0; row < table(list)->rowCount(); ++row) texts << table(list)->item(row, column)->text();
  return texts;
}

QString text(QWidget* screen, const char* label) { return part<QLabel>(screen, label)->text(); }
bool enabled(QWidget* screen, const char* name) { return part<QWidget>(screen, name)->isEnabled(); }

void clickRow(QWidget* list, int row) {
  QTableWidget* view = table(list);
  const QRect cell = view->visualItemRect(view->item(row, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
}

void waitForListing(PopulateDriveDlg* list, QSignalSpy& finished) {
  if (finished.isEmpty()) QVERIFY(finished.wait(120000));
  QCOMPARE(finished.size(), 1);
  QCOMPARE(text(list, "statusLine"), QString("Select volume and click next button..."));
}

// A disk image with the MBR of mbr-primary.img, its first entry's type byte
// set to one no file system has.
std::unique_ptr<quorvel::test::TempImage> imageWithUnknownEntry() {
  std::ifstream in(fixture("mbr-primary.img").toStdString(), std::ios::binary);
  std::vector<std::uint8_t> mbr(512);
  in.read(reinterpret_cast<char*>(mbr.data()), 512);
  mbr[0x1BE + 4] = 0x27;
  auto image = std::make_unique<quorvel::test::TempImage>(mbr);
  image->resize(60 << 20);
  return image;
}

const QStringList kZeroedGptKinds = {"HFS+", "extX", "FAT64", "FAT32", "NTFS"};
const QStringList kZeroedGptStarts = {"167936", "135168", "118784", "36864", "2048"};

}  // namespace

class VolumeListTest : public QObject {
  Q_OBJECT

 private slots:
  void advancedScanShowsEachFindAtTheTop() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* list = openList(root, requestFor(fixture("gpt-zeroed.img"), wizard::ListingMode::Advanced));
    QSignalSpy finished(list, &PopulateDriveDlg::listingFinished);
    // While the scan runs the chain cannot be walked and the list not changed.
    if (finished.isEmpty()) {
      QVERIFY(!enabled(list, "backButton"));
      QVERIFY(!enabled(list, "nextButton"));
      QVERIFY(!enabled(list, "addCustomButton"));
      QVERIFY(!enabled(list, "filterButton"));
      QVERIFY(part<QWidget>(list, "stopButton")->isVisible());
    }
    waitForListing(list, finished);

    QCOMPARE(column(list, 1), kZeroedGptKinds);
    QCOMPARE(column(list, 3), kZeroedGptStarts);
    QCOMPARE(column(list, 0), (QStringList{"4", "3", "2", "1", "0"}));
    QCOMPARE(desktop->messages, QStringList{"populated partitions...."});
    for (const char* name : {"backButton", "nextButton", "addCustomButton", "filterButton", "customCheck"})
      QVERIFY2(enabled(list, name), name);
    QVERIFY(part<QWidget>(list, "progressBar")->isHidden());
    QVERIFY(part<QWidget>(list, "stopButton")->isHidden());
  }

  void stopEndsTheScanAfterTheFirstFind() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* list = openList(root, requestFor(fixture("gpt-zeroed.img"), wizard::ListingMode::Advanced));
    QSignalSpy finished(list, &PopulateDriveDlg::listingFinished);
    bool backEnabledByStop = false;
    // The worker waits while its find is shown, so Stop lands before it goes on.
    connect(table(list)->model(), &QAbstractItemModel::rowsInserted, list, [&] {
      if (backEnabledByStop) return;
      press(list, "stopButton");
      backEnabledByStop = enabled(list, "backButton");
    });
    waitForListing(list, finished);
    QVERIFY(backEnabledByStop);
    QCOMPARE(column(list, 1), QStringList{"NTFS"});
    QCOMPARE(column(list, 3), QStringList{"2048"});
    QCOMPARE(desktop->messages, QStringList{"populated partitions...."});
    QVERIFY(enabled(list, "nextButton"));
  }

  void backAfterStopLeavesWhileTheScanWindsDown() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    QPointer<PopulateDriveDlg> list =
        openList(root, requestFor(fixture("gpt-zeroed.img"), wizard::ListingMode::Advanced));
    bool left = false;
    connect(table(list)->model(), &QAbstractItemModel::rowsInserted, list, [&] {
      if (left) return;
      press(list, "stopButton");
      press(list, "backButton");
      left = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(left, 120000);
    settle();
    QVERIFY(list.isNull());
    QVERIFY(root.isVisible());
    QVERIFY(desktop->messages.isEmpty());
  }

  void customVolumeGoesOnWithItsRangeAndKind() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* list = openList(root, requestFor(fixture("gpt-zeroed.img"), wizard::ListingMode::Advanced));
    QSignalSpy finished(list, &PopulateDriveDlg::listingFinished);
    waitForListing(list, finished);
    // The image keeps what the scan found; a custom row is not a find.
    const std::size_t found = std::size_t(table(list)->rowCount());
    QCOMPARE(wizardImage.volumes().size(), found);

    press(list, "addCustomButton");
    QCOMPARE(table(list)->rowCount(), 6);
    QCOMPARE(wizardImage.volumes().size(), found);
    QCOMPARE(column(list, 1).first(), QString("CUSTOM "));
    QCOMPARE(column(list, 0).first(), QString("5"));
    QCOMPARE(table(list)->currentRow(), 0);
    QCOMPARE(text(list, "selectedValue"), QString("0"));
    auto* check = part<QAbstractButton>(list, "customCheck");
    QVERIFY(check->isChecked() && check->isEnabled());
    auto* start = part<SectorEdit>(list, "startEdit");
    auto* end = part<SectorEdit>(list, "endEdit");
    QVERIFY(start->isEnabled() && end->isEnabled() && enabled(list, "treatAsCombo"));
    QCOMPARE(start->sectorText(), QString("0"));
    QCOMPARE(end->sectorText(), QString("0"));

    start->setSectorText("2048");
    end->setSectorText("4095");
    auto* treatAs = part<QComboBox>(list, "treatAsCombo");
    QStringList entries;
    for (int i = 0; i < treatAs->count(); ++i) entries << treatAs->itemText(i);
    QCOMPARE(entries, (QStringList{"EXTX", "FAT16", "FAT32", "FAT64", "HFS+", "NTFS", "RAW"}));
    treatAs->setCurrentText("EXTX");
    press(list, "nextButton");
    QPointer<RecoveryModeScreen> custom = shownChild<RecoveryModeScreen>(list);
    QVERIFY(custom);
    QCOMPARE(custom->volume().kind, std::string("extX"));
    QCOMPARE(custom->volume().startSector, std::int64_t{2048});
    QCOMPARE(custom->volume().sizeText, std::string("1"));
    QVERIFY(wizardImage.chosen() == custom->volume());

    // Without the custom box the row's own texts come back, "MB" dropped.
    press(custom, "backButton");
    settle();
    check->click();
    QVERIFY(!start->isEnabled());
    table(list)->selectRow(5);
    press(list, "nextButton");
    auto* restored = shownChild<RecoveryModeScreen>(list);
    QVERIFY(restored);
    QCOMPARE(restored->volume().kind, std::string("NTFS"));
    QCOMPARE(restored->volume().sizeText, std::string("15"));
    QCOMPARE(restored->volume().startSector, std::int64_t{2048});
    QCOMPARE(restored->volume().label, std::string("0"));
  }

  void selectingAndClickingARowFillTheCustomSetting() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* list = openList(root, requestFor(fixture("mbr-extended.img"), wizard::ListingMode::Standard));
    QVERIFY(QTest::qWaitForWindowExposed(list));
    auto* start = part<SectorEdit>(list, "startEdit");
    auto* end = part<SectorEdit>(list, "endEdit");
    auto* treatAs = part<QComboBox>(list, "treatAsCombo");
    QCOMPARE(treatAs->currentIndex(), -1);

    clickRow(list, 1);  // FAT16, "16   MB" at 12288
    QCOMPARE(text(list, "selectedValue"), QString("1"));
    QCOMPARE(start->sectorText(), QString("12288"));
    QCOMPARE(end->sectorText(), QString("45055"));
    QCOMPARE(treatAs->currentText(), QString("FAT16"));
    clickRow(list, 2);  // extX
    QCOMPARE(treatAs->currentText(), QString("EXTX"));
    clickRow(list, 0);  // FAT12 has no entry: the choice stays
    QCOMPARE(treatAs->currentText(), QString("EXTX"));
    QCOMPARE(start->sectorText(), QString("2048"));

    part<QAbstractButton>(list, "customCheck")->click();
    QVERIFY(start->isEnabled());
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Up);
    QCOMPARE(start->sectorText(), QString("2049"));
    QTest::keyClick(start, Qt::Key_Down);
    QTest::keyClick(start, Qt::Key_Down);
    QCOMPARE(start->sectorText(), QString("2047"));
    start->setSectorText("0");
    QTest::keyClick(start, Qt::Key_Down);
    QCOMPARE(start->sectorText(), QString("0"));

    // Typed numbers stay as typed, through Enter and leaving the edit.
    start->setSectorText("");
    QTest::keyClicks(start, "9007199254740993x");
    QTest::keyClick(start, Qt::Key_Return);
    end->setFocus();
    QCOMPARE(start->sectorText(), QString("9007199254740993"));
    QCOMPARE(desktop->messages, QStringList());
  }

  void filterOnVolumesThatAreNotAdjacentEmptiesTheList() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* list = openList(root, requestFor(fixture("mbr-primary.img"), wizard::ListingMode::Standard));
    QCOMPARE(table(list)->rowCount(), 2);
    press(list, "filterButton");
    QCOMPARE(table(list)->rowCount(), 0);
    press(list, "nextButton");
    QCOMPARE(desktop->messages, QStringList{"please select a valid volume."});
  }

  void nextWithoutASelectionAsksForOne() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* list = openList(root, requestFor(fixture("mbr-primary.img"), wizard::ListingMode::Standard));
    press(list, "nextButton");
    QCOMPARE(desktop->messages, QStringList{"please select a valid volume."});
    QVERIFY(!shownChild<RecoveryModeScreen>(list));
  }

  void unknownVolumeIsNotParsed() {
    TestDesktop desktop;
    const auto image = imageWithUnknownEntry();
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* list =
        openList(root, requestFor(QString::fromStdString(image->path()), wizard::ListingMode::Standard));
    QCOMPARE(column(list, 1), (QStringList{"Unknown", "FAT32"}));
    table(list)->selectRow(0);
    press(list, "nextButton");
    QCOMPARE(desktop->messages, QStringList{"can not parse unknown volume"});
    QVERIFY(!shownChild<RecoveryModeScreen>(list));
    QVERIFY(list->isVisible());
  }

  void imageThatCannotBeOpened_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("standard") << int(wizard::ListingMode::Standard);
    QTest::newRow("advanced") << int(wizard::ListingMode::Advanced);
  }
  void imageThatCannotBeOpened() {
    QFETCH(int, mode);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* list = openList(root, requestFor("/nonexistent/disk.img", wizard::ListingMode(mode)));
    QCOMPARE(desktop->messages, (QStringList{"invalid handle ...", "file not opened.."}));
    QVERIFY(!wizardImage.isOpen());
    QCOMPARE(table(list)->rowCount(), 0);
    QVERIFY(enabled(list, "nextButton"));
    QVERIFY(enabled(list, "backButton"));
    QVERIFY(!enabled(list, "customCheck"));
    QVERIFY(part<QWidget>(list, "stopButton")->isHidden());
    press(list, "nextButton");
    QCOMPARE(desktop->messages.last(), QString("please select a valid volume."));
  }

  void listingWithoutASourceSaysTheInformationIsLost() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    wizardState().diskImageMode = false;
    auto* list = new PopulateDriveDlg(root.image(), requestFor(fixture("mbr-primary.img"), wizard::ListingMode::Standard),
                                      &root);
    QCOMPARE(desktop->messages, QStringList{"information lost ..go back and parse again"});
    QCOMPARE(table(list)->rowCount(), 0);
  }

  void imageTooShortForAPartitionTableIsReported() {
    TestDesktop desktop;
    quorvel::test::TempImage empty;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* list = openList(root, requestFor(QString::fromStdString(empty.path()), wizard::ListingMode::Standard));
    QCOMPARE(desktop->messages, QStringList{"Cannot read the partition tables of this image."});
    QCOMPARE(table(list)->rowCount(), 0);
    QCOMPARE(text(list, "statusLine"), QString("Select volume and click next button..."));
  }
};

QTEST_MAIN(VolumeListTest)
#include "VolumeListTest.moc"
