// The drive parsing mode and recovery mode screens: which controls each
// choice enables or shows, and what goes on to the next screen.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include "DriveParsingModes.h"
#include "ImageOptionDialog.h"
#include "RecoveryModeScreen.h"
#include "PopulateDriveDlg.h"
#include "ScreenTestSupport.h"
#include "VolumeOperations.h"
#include "VolumeScanDlg.h"
#include "AdvancedInputScreen.h"
#include "volumes/VolumeKind.h"

using namespace screentest;

namespace {

bool enabled(QWidget* screen, const char* name) { return part<QWidget>(screen, name)->isEnabled(); }
bool shown(QWidget* screen, const char* name) { return !part<QWidget>(screen, name)->isHidden(); }
bool ticked(QWidget* screen, const char* name) { return part<QAbstractButton>(screen, name)->isChecked(); }

DriveParsingModes* openParsingModes(ImageOptionDialog& root, const QString& image) {
  wizardState().diskImageMode = true;
  auto* modes = new DriveParsingModes(root.image(), image, &root);
  root.openNext(modes);
  return modes;
}

// A record whose kind is named by a text, as discovery or the volume list's
// custom setting gives it.
quorvel::VolumeRecord volumeOfKind(const QString& kind) {
  quorvel::VolumeRecord volume{"", "", "0", "8   MB", 2048};
  quorvel::setKindNamed(volume, kind.toStdString());
  return volume;
}

// The recovery mode screen for a volume of `kind` chosen on the root's image.
RecoveryModeScreen* modeScreenFor(ImageOptionDialog& root, const QString& kind) {
  root.image().choose(volumeOfKind(kind));
  return new RecoveryModeScreen(root.image(), &root);
}

}  // namespace

class ModeScreensTest : public QObject {
  Q_OBJECT

 private slots:
  void parsingModesOpenOnStandardScan() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* modes = openParsingModes(root, fixture("mbr-primary.img"));
    QCOMPARE(part<QLabel>(modes, "selectedDrive")->text(), fixture("mbr-primary.img"));
    QVERIFY(ticked(modes, "standardScanRadio"));
    QVERIFY(!ticked(modes, "advanceScanRadio"));
    QVERIFY(enabled(modes, "gptCheck"));
    for (const char* name : {"doNotSkipCheck", "customCheck", "startCaption", "startEdit", "endCaption", "endEdit"})
      QVERIFY2(!enabled(modes, name), name);
    QVERIFY(desktop->messages.isEmpty());
  }

  void advanceScanEnablesItsOptions() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* modes = openParsingModes(root, fixture("mbr-primary.img"));
    press(modes, "advanceScanRadio");
    QVERIFY(!ticked(modes, "standardScanRadio"));
    QVERIFY(enabled(modes, "doNotSkipCheck") && enabled(modes, "customCheck") && enabled(modes, "gptCheck"));
    QVERIFY(!enabled(modes, "startEdit"));

    press(modes, "customCheck");
    for (const char* name : {"startCaption", "startEdit", "endCaption", "endEdit"}) QVERIFY2(enabled(modes, name), name);
    // Back to Standard Scan: the edits rest, the box stays ticked.
    press(modes, "standardScanRadio");
    QVERIFY(!enabled(modes, "startEdit") && !enabled(modes, "endEdit"));
    QVERIFY(ticked(modes, "customCheck") && !enabled(modes, "customCheck"));
    QVERIFY(enabled(modes, "gptCheck"));
    press(modes, "advanceScanRadio");
    QVERIFY(enabled(modes, "startEdit") && enabled(modes, "endEdit"));
    press(modes, "customCheck");
    QVERIFY(!enabled(modes, "startEdit"));
  }

  void sectorEditsTakeDigitsOnly() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* modes = openParsingModes(root, fixture("mbr-primary.img"));
    press(modes, "advanceScanRadio");
    press(modes, "customCheck");
    auto* end = part<QLineEdit>(modes, "endEdit");
    QTest::keyClicks(end, "-5x0");
    QCOMPARE(end->text(), QString("50"));
  }

  void choicesGoToTheVolumeList_data() {
    QTest::addColumn<bool>("advance");
    QTest::addColumn<bool>("gpt");
    QTest::addColumn<bool>("doNotSkip");
    QTest::addColumn<bool>("custom");
    QTest::addColumn<bool>("backToStandard");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<qint64>("customStart");
    QTest::addColumn<qint64>("customEnd");
    QTest::newRow("standard with GPT") << false << true << false << false << false << "" << "" << 0LL << 0LL;
    QTest::newRow("advance, start above end") << true << false << true << true << false << "100" << "50" << 100LL << 50LL;
    QTest::newRow("advance, range unticked") << true << false << false << false << false << "100" << "200" << 0LL << 0LL;
    QTest::newRow("range kept on Standard") << true << false << false << true << true << "100" << "200" << 100LL << 200LL;
    QTest::newRow("no end given") << true << false << false << true << false << "2048" << "" << 2048LL << 0LL;
  }
  void choicesGoToTheVolumeList() {
    QFETCH(bool, advance);
    QFETCH(bool, gpt);
    QFETCH(bool, doNotSkip);
    QFETCH(bool, custom);
    QFETCH(bool, backToStandard);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(qint64, customStart);
    QFETCH(qint64, customEnd);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* modes = openParsingModes(root, fixture("mbr-primary.img"));
    if (gpt) press(modes, "gptCheck");
    if (advance) press(modes, "advanceScanRadio");
    if (doNotSkip) press(modes, "doNotSkipCheck");
    if (advance) {
      part<QLineEdit>(modes, "startEdit")->setText(start);
      part<QLineEdit>(modes, "endEdit")->setText(end);
    }
    if (custom) press(modes, "customCheck");
    if (backToStandard) press(modes, "standardScanRadio");
    press(modes, "nextButton");

    auto* list = shownChild<PopulateDriveDlg>(modes);
    QVERIFY(list);
    QVERIFY(!modes->isVisible());
    const wizard::VolumeListRequest& request = list->request();
    QCOMPARE(QString::fromStdString(request.imagePath), fixture("mbr-primary.img"));
    const bool standard = !advance || backToStandard;
    QCOMPARE(request.mode, standard ? wizard::ListingMode::Standard : wizard::ListingMode::Advanced);
    QCOMPARE(request.gpt, gpt);
    QCOMPARE(request.doNotSkip, doNotSkip);
    QCOMPARE(request.customStart, customStart);
    QCOMPARE(request.customEnd, customEnd);
    QSignalSpy finished(list, &PopulateDriveDlg::listingFinished);
    if (!standard) QVERIFY(finished.wait(120000));
  }

  // The range reaches the advanced scan: volumes outside it are not found.
  void customRangeLimitsTheAdvancedScan() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* modes = openParsingModes(root, fixture("gpt-zeroed.img"));
    press(modes, "advanceScanRadio");
    press(modes, "customCheck");
    QTest::keyClicks(part<QLineEdit>(modes, "startEdit"), "34816");
    QTest::keyClicks(part<QLineEdit>(modes, "endEdit"), "120000");
    press(modes, "nextButton");
    auto* list = shownChild<PopulateDriveDlg>(modes);
    QSignalSpy finished(list, &PopulateDriveDlg::listingFinished);
    QVERIFY(finished.wait(120000));
    QTableWidget* table = part<QTableWidget>(list, "volumeTable");
    QStringList starts;
    for (int row = 0; row < table->rowCount(); ++row) starts << table->item(row, 3)->text();
    QCOMPARE(starts, (QStringList{"118784", "36864"}));
  }

  void reopeningTheSourceThatCannotBeOpenedIsReported() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    QVERIFY(wizardImage.open(fixture("mbr-primary.img").toStdString()));
    openParsingModes(root, "/nonexistent/disk.img");
    QCOMPARE(desktop->messages, QStringList{"invalid handle ..."});
    QVERIFY(!wizardImage.isOpen());
  }

  void recoveryModesFollowTheKind_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("advanced");
    QTest::addColumn<bool>("deep");
    QTest::addColumn<bool>("formatted");
    QTest::newRow("NTFS") << "NTFS" << true << true << false;
    QTest::newRow("NTFS after spaces") << "  NTFS" << true << true << false;
    QTest::newRow("FAT16") << "FAT16" << true << false << true;
    QTest::newRow("FAT32") << "FAT32" << true << false << true;
    QTest::newRow("FAT32 by custom setting") << "fat32" << true << false << true;
    QTest::newRow("FAT64") << "FAT64" << true << false << true;
    QTest::newRow("eXFAT") << "eXFAT" << true << false << true;
    QTest::newRow("ext") << "extX" << false << false << false;
    QTest::newRow("HFS+") << "HFS+" << false << true << false;
    QTest::newRow("custom volume") << "CUSTOM " << true << true << false;
  }
  void recoveryModesFollowTheKind() {
    QFETCH(QString, kind);
    QFETCH(bool, advanced);
    QFETCH(bool, deep);
    QFETCH(bool, formatted);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* mode = modeScreenFor(root, kind);
    root.openNext(mode);
    QVERIFY(shown(mode, "standardRadio") && ticked(mode, "standardRadio"));
    QCOMPARE(shown(mode, "advancedRadio"), advanced);
    QCOMPARE(shown(mode, "deepRadio"), deep);
    QCOMPARE(mode->mode(), quorvel::RecoveryMode::Standard);
    for (const char* name : {"maxCaption", "maxEdit", "maxNote", "formattedCheck"}) QVERIFY2(!shown(mode, name), name);
    QCOMPARE(part<QLineEdit>(mode, "maxEdit")->text(), QString("3"));
    QCOMPARE(mode->maxFileSystems(), 3);
    if (!advanced) return;

    press(mode, "advancedRadio");
    QCOMPARE(mode->mode(), quorvel::RecoveryMode::Advanced);
    QVERIFY(!ticked(mode, "standardRadio"));
    for (const char* name : {"maxCaption", "maxEdit", "maxNote"}) QVERIFY2(shown(mode, name), name);
    QCOMPARE(shown(mode, "formattedCheck"), formatted);
  }

  void formattedDriveIsAskedOnlyWithAdvancedAndClearedByEveryChoice() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* mode = modeScreenFor(root, "FAT32");
    root.openNext(mode);
    press(mode, "advancedRadio");
    press(mode, "formattedCheck");
    QVERIFY(wizardState().driveFormatted);
    press(mode, "standardRadio");
    QVERIFY(!wizardState().driveFormatted);
    QVERIFY(!ticked(mode, "formattedCheck") && !shown(mode, "formattedCheck"));
    QVERIFY(!shown(mode, "maxEdit"));
    press(mode, "advancedRadio");
    QVERIFY(shown(mode, "formattedCheck") && !ticked(mode, "formattedCheck"));
    QVERIFY(!wizardState().driveFormatted);

    auto* ntfs = modeScreenFor(root, "NTFS");
    wizardState().driveFormatted = true;
    press(ntfs, "deepRadio");
    QCOMPARE(ntfs->mode(), quorvel::RecoveryMode::Deep);
    QVERIFY(!wizardState().driveFormatted);
    QVERIFY(!ticked(ntfs, "standardRadio"));
  }

  void maxFileSystemsIsReadAsANumber() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    auto* mode = modeScreenFor(root, "NTFS");
    press(mode, "advancedRadio");
    auto* edit = part<QLineEdit>(mode, "maxEdit");
    edit->clear();
    QTest::keyClicks(edit, "1x2");
    QCOMPARE(edit->text(), QString("12"));
    QCOMPARE(mode->maxFileSystems(), 12);
  }

  // Next goes to the scan for Standard and Deep, to the advanced input for
  // Advanced, with the volume from the volume information screen.
  void nextOpensTheScreenOfTheMode_data() {
    QTest::addColumn<QString>("radio");
    QTest::newRow("Standard") << "standardRadio";
    QTest::newRow("Advanced") << "advancedRadio";
    QTest::newRow("Deep") << "deepRadio";
  }
  void nextOpensTheScreenOfTheMode() {
    QFETCH(QString, radio);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    root.show();
    root.findChild<QRadioButton*>("volumeImageRadio")->click();
    desktop->fileNames = {fixture("vol-ntfs.img")};
    press(&root, "browseButton");
    press(&root, "nextButton");
    auto* information = shownChild<VolumeOperations>(&root);
    QVERIFY(information);
    press(information, "nextButton");
    auto* mode = shownChild<RecoveryModeScreen>(information);
    QVERIFY(mode);
    press(mode, radio.toUtf8().constData());
    press(mode, "nextButton");
    QVERIFY(!mode->isVisible());
    QVERIFY(wizardImage.session());
    if (radio == "advancedRadio") {
      QVERIFY(shownChild<AdvancedInputScreen>(mode));
      QVERIFY(!shownChild<VolumeScanDlg>(mode));
    } else {
      QVERIFY(shownChild<VolumeScanDlg>(mode));
      QVERIFY(!shownChild<AdvancedInputScreen>(mode));
    }
  }
};

QTEST_MAIN(ModeScreensTest)
#include "ModeScreensTest.moc"
