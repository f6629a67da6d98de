// The source selection and volume information screens, and the two roads
// from a chosen image to the recovery mode screen, on the fixture images.
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTableWidget>
#include <QtTest>

#include "DriveParsingModes.h"
#include "ImageOptionDialog.h"
#include "RecoveryModeScreen.h"
#include "PopulateDriveDlg.h"
#include "ScreenTestSupport.h"
#include "VolumeOperations.h"

using namespace screentest;

namespace {

QString text(QWidget* screen, const char* label) { return part<QLabel>(screen, label)->text(); }

// Picks an image through "..." and presses Next.
void chooseImage(ImageOptionDialog& source, RecordingDesktop& desktop, const QString& path, bool diskImage) {
  part<QRadioButton>(&source, diskImage ? "diskImageRadio" : "volumeImageRadio")->click();
  desktop.fileNames.push_back(path);
  press(&source, "browseButton");
  press(&source, "nextButton");
}

}  // namespace

class SourceScreensTest : public QObject {
  Q_OBJECT

 private slots:
  void opensWithDiskImageChosen() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog source(wizardImage);
    QVERIFY(part<QRadioButton>(&source, "diskImageRadio")->isChecked());
    QVERIFY(!part<QRadioButton>(&source, "volumeImageRadio")->isChecked());
    QCOMPARE(part<QRadioButton>(&source, "diskImageRadio")->text(), QString("HDD IMAGE "));
    QVERIFY(part<QLineEdit>(&source, "pathEdit")->isReadOnly());
  }

  void nextWithoutAPathAsksForOne() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog source(wizardImage);
    source.show();
    press(&source, "nextButton");
    QCOMPARE(desktop->messages, QStringList{"Please browse File Path"});

    // A cancelled dialog after a chosen path empties it again.
    desktop->fileNames = {fixture("mbr-primary.img")};
    press(&source, "browseButton");
    QCOMPARE(source.imagePath(), fixture("mbr-primary.img"));
    press(&source, "browseButton");
    QCOMPARE(source.imagePath(), QString());
    press(&source, "nextButton");
    QCOMPARE(desktop->messages, (QStringList{"Please browse File Path", "Please browse File Path"}));
    QVERIFY(!shownChild<WizardScreen>(&source));
  }

  // All files stay choosable (raw images carry any name); the image
  // formats the source reads are offered by their extensions.
  void browseOffersTheImageFormats() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog source(wizardImage);
    press(&source, "browseButton");
    QCOMPARE(desktop->openFilters.size(), 1);
    const QStringList filters = desktop->openFilters.front().split(";;");
    QCOMPARE(filters.front(), QString("All files (*)"));
    for (const char* pattern : {"*.E01", "*.001", "*.000", "*.vhd", "*.vhdx", "*.vmdk", "*.qcow2"})
      QVERIFY2(filters[1].contains(QString(pattern) + ' ') || filters[1].contains(QString(pattern) + ')'), pattern);
  }

  // Source → parsing mode → volume list → recovery mode for a disk image.
  void diskImageRoad_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<bool>("gpt");
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QStringList>("starts");
    QTest::newRow("MBR") << "mbr-primary.img" << false << QStringList{"NTFS", "FAT32"}
                         << QStringList{"2048", "34816"};
    QTest::newRow("EBR chain") << "mbr-extended.img" << false << QStringList{"FAT12", "FAT16", "extX", "NTFS"}
                               << QStringList{"2048", "12288", "47104", "65536"};
    QTest::newRow("MBR as QCOW2") << "image-formats/mbr-primary.qcow2" << false << QStringList{"NTFS", "FAT32"}
                                  << QStringList{"2048", "34816"};
    QTest::newRow("MBR as E01 in two segments")
        << "image-formats/mbr-primary-two.E01" << false << QStringList{"NTFS", "FAT32"} << QStringList{"2048", "34816"};
    QTest::newRow("MBR as split raw") << "image-formats/mbr-primary-split.001" << false << QStringList{"NTFS", "FAT32"}
                                      << QStringList{"2048", "34816"};
    QTest::newRow("GPT") << "gpt.img" << true << QStringList{"NTFS", "FAT32", "FAT64", "extX", "HFS+"}
                         << QStringList{"2048", "36864", "118784", "135168", "167936"};
  }
  void diskImageRoad() {
    QFETCH(QString, image);
    QFETCH(bool, gpt);
    QFETCH(QStringList, kinds);
    QFETCH(QStringList, starts);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog source(wizardImage);
    source.show();
    chooseImage(source, *desktop, fixture(image.toUtf8()), true);
    QVERIFY(wizardState().diskImageMode);

    auto* modes = shownChild<DriveParsingModes>(&source);
    QVERIFY(modes);
    QVERIFY(!source.isVisible());
    QCOMPARE(modes->opener(), WizardScreen::Opener::SourceSelection);
    QCOMPARE(text(modes, "selectedDrive"), fixture(image.toUtf8()));
    if (gpt) press(modes, "gptCheck");
    press(modes, "nextButton");

    auto* list = shownChild<PopulateDriveDlg>(modes);
    QVERIFY(list);
    QVERIFY(!modes->isVisible());
    QCOMPARE(desktop->messages, QStringList());
    auto* table = part<QTableWidget>(list, "volumeTable");
    QStringList headers;
    for (int column = 0; column < table->columnCount(); ++column) headers << table->horizontalHeaderItem(column)->text();
    QCOMPARE(headers, (QStringList{"VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR"}));
    QCOMPARE(table->rowCount(), kinds.size());
    for (int row = 0; row < table->rowCount(); ++row) {
      QCOMPARE(table->item(row, 0)->text(), QString::number(row));
      QCOMPARE(table->item(row, 1)->text(), kinds[row]);
      QCOMPARE(table->item(row, 3)->text(), starts[row]);
    }
    // The listing is kept on the image the screens share.
    QVERIFY(wizardImage.isOpen());
    QCOMPARE(wizardImage.volumes().size(), std::size_t(kinds.size()));
    for (int row = 0; row < table->rowCount(); ++row)
      QCOMPARE(QString::number(wizardImage.volumes()[std::size_t(row)].startSector), starts[row]);
    QCOMPARE(text(list, "statusLine"), QString("Select volume and click next button..."));
    QVERIFY(part<QWidget>(list, "progressBar")->isHidden());
    QVERIFY(part<QWidget>(list, "stopButton")->isHidden());
    QVERIFY(part<QWidget>(list, "addCustomButton")->isHidden());
    QVERIFY(part<QWidget>(list, "customCheck")->isEnabled());

    const int last = table->rowCount() - 1;
    table->selectRow(last);
    press(list, "nextButton");
    auto* mode = shownChild<RecoveryModeScreen>(list);
    QVERIFY(mode);
    QCOMPARE(mode->opener(), WizardScreen::Opener::VolumeList);
    QCOMPARE(QString::fromStdString(mode->volume().kind), kinds[last]);
    QCOMPARE(QString::number(mode->volume().startSector), starts[last]);
    QVERIFY(wizardImage.chosen() == mode->volume());
    QCOMPARE(QString::fromStdString(mode->volume().label), QString::number(last));
  }

  // Source → volume information → recovery mode for a volume image.
  void volumeImageRoad_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("size");
    QTest::newRow("NTFS") << "vol-ntfs.img" << "NTFS" << "15   MB";
    QTest::newRow("FAT12") << "vol-fat12.img" << "FAT12" << "2   MB";
    QTest::newRow("FAT16") << "vol-fat16.img" << "FAT16" << "16   MB";
    QTest::newRow("FAT32") << "vol-fat32.img" << "FAT32" << "40   MB";
    QTest::newRow("exFAT") << "vol-exfat.img" << "FAT64" << "8   MB";
    QTest::newRow("ext2") << "vol-ext2.img" << "extX" << "8   MB";
    QTest::newRow("ext4") << "vol-ext4.img" << "extX" << "16   MB";
    QTest::newRow("HFS+") << "vol-hfsplus.img" << "HFS+" << "2   MB";
  }
  void volumeImageRoad() {
    QFETCH(QString, image);
    QFETCH(QString, kind);
    QFETCH(QString, size);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog source(wizardImage);
    source.show();
    chooseImage(source, *desktop, fixture(image.toUtf8()), false);
    QVERIFY(!wizardState().diskImageMode);
    QVERIFY(wizardImage.isOpen());

    auto* information = shownChild<VolumeOperations>(&source);
    QVERIFY(information);
    QCOMPARE(information->opener(), WizardScreen::Opener::SourceSelection);
    QCOMPARE(text(information, "selectedValue"), fixture(image.toUtf8()));
    QCOMPARE(text(information, "nameValue"), QString("Unknown"));
    QCOMPARE(text(information, "kindValue"), kind);
    QCOMPARE(text(information, "sizeValue"), size);

    press(information, "nextButton");
    auto* mode = shownChild<RecoveryModeScreen>(information);
    QVERIFY(mode);
    QCOMPARE(mode->opener(), WizardScreen::Opener::VolumeInformation);
    QCOMPARE(mode->volume(), information->volume());
    QVERIFY(wizardImage.chosen() == information->volume());
    QCOMPARE(mode->volume().volumeName, std::string("Unknown"));
    QCOMPARE(mode->volume().startSector, std::int64_t{0});
    QVERIFY(desktop->messages.isEmpty());
  }

  // An unrecognised first sector shows empty texts and still goes on; the
  // volume of an image probed before must not stand in for it.
  void unrecognisedVolumeImageShowsNoKind() {
    TestDesktop desktop;
    quorvel::test::TempImage zeros;
    zeros.resize(1 << 20);
    quorvel::OpenImage wizardImage;
    ImageOptionDialog source(wizardImage);
    source.show();
    chooseImage(source, *desktop, fixture("vol-ntfs.img"), false);
    auto* first = shownChild<VolumeOperations>(&source);
    QCOMPARE(text(first, "kindValue"), QString("NTFS"));
    press(first, "backButton");
    settle();

    chooseImage(source, *desktop, QString::fromStdString(zeros.path()), false);
    auto* information = shownChild<VolumeOperations>(&source);
    QVERIFY(information);
    QCOMPARE(text(information, "nameValue"), QString("Unknown"));
    QCOMPARE(text(information, "kindValue"), QString());
    QCOMPARE(text(information, "sizeValue"), QString());
    press(information, "nextButton");
    QVERIFY(shownChild<RecoveryModeScreen>(information));
    QVERIFY(desktop->messages.isEmpty());
  }

  void volumeImageThatCannotBeOpened() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog source(wizardImage);
    source.show();
    chooseImage(source, *desktop, "/nonexistent/volume.img", false);
    QCOMPARE(desktop->messages, QStringList{"invalid handle ..."});
    QVERIFY(!wizardImage.isOpen());
    auto* information = shownChild<VolumeOperations>(&source);
    QVERIFY(information);
    QCOMPARE(text(information, "kindValue"), QString());
  }

  // Back destroys the screen; Next opens a fresh one each time.
  void backAndNextMakeFreshScreens() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog source(wizardImage);
    source.show();
    chooseImage(source, *desktop, fixture("mbr-primary.img"), true);
    QPointer<DriveParsingModes> first = shownChild<DriveParsingModes>(&source);
    QVERIFY(first);
    press(first, "backButton");
    QVERIFY(source.isVisible());
    settle();
    QVERIFY(first.isNull());

    press(&source, "nextButton");
    QPointer<DriveParsingModes> second = shownChild<DriveParsingModes>(&source);
    QVERIFY(second);
    QCOMPARE(source.findChildren<DriveParsingModes*>().size(), 1);

    press(second, "nextButton");
    QPointer<PopulateDriveDlg> list = shownChild<PopulateDriveDlg>(second);
    QVERIFY(list);
    auto* table = part<QTableWidget>(list, "volumeTable");
    table->selectRow(0);
    press(list, "nextButton");
    QPointer<RecoveryModeScreen> ntfsMode = shownChild<RecoveryModeScreen>(list);
    QCOMPARE(ntfsMode->volume().kind, std::string("NTFS"));

    // Back, another volume, Next: a new screen with the volume then selected.
    press(ntfsMode, "backButton");
    QVERIFY(list->isVisible());
    settle();
    QVERIFY(ntfsMode.isNull());
    table->selectRow(1);
    press(list, "nextButton");
    auto* fatMode = shownChild<RecoveryModeScreen>(list);
    QVERIFY(fatMode);
    QCOMPARE(fatMode->volume().kind, std::string("FAT32"));
    QCOMPARE(fatMode->volume().startSector, std::int64_t{34816});

    // Back to the parsing mode: the list goes, and Next lists again.
    press(fatMode, "backButton");
    settle();
    press(list, "backButton");
    settle();
    QVERIFY(list.isNull());
    QVERIFY(second->isVisible());
    press(second, "nextButton");
    auto* again = shownChild<PopulateDriveDlg>(second);
    QVERIFY(again);
    QCOMPARE(part<QTableWidget>(again, "volumeTable")->rowCount(), 2);
  }
};

QTEST_MAIN(SourceScreensTest)
#include "SourceScreensTest.moc"
