// What every screen of the chain shares: the title, the close confirmation,
// Enter doing nothing, the Help menu and the link; and the single-instance
// rule.
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QMenu>
#include <QPushButton>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <functional>

#include "WizardApp.h"
#include "DesktopServices.h"
#include "DriveParsingModes.h"
#include "ImageOptionDialog.h"
#include "RecoveryModeScreen.h"
#include "PopulateDriveDlg.h"
#include "ScreenTestSupport.h"
#include "VolumeOperations.h"

using namespace screentest;

namespace {

quorvel::VolumeRecord ntfsVolume() { return {"NTFS", "Unknown", "0", "15   MB", 0}; }

// Each screen of the chain, opened on real images above a source selection
// screen that owns it.
using ScreenMaker = std::function<WizardScreen*(ImageOptionDialog* root)>;

ScreenMaker screenMaker(const QString& name) {
  if (name == "source selection") return [](ImageOptionDialog* root) { return root; };
  if (name == "drive parsing mode")
    return [](ImageOptionDialog* root) { return new DriveParsingModes(root->image(), fixture("mbr-primary.img"), root); };
  if (name == "volume list")
    return [](ImageOptionDialog* root) {
      wizard::VolumeListRequest request;
      request.imagePath = fixture("mbr-primary.img").toStdString();
      return new PopulateDriveDlg(root->image(), request, root);
    };
  if (name == "volume information")
    return [](ImageOptionDialog* root) {
      return new VolumeOperations(root->image(), ntfsVolume(), fixture("vol-ntfs.img"), root);
    };
  return [](ImageOptionDialog* root) {
    root->image().choose(ntfsVolume());
    return new RecoveryModeScreen(root->image(), root);
  };
}

void addScreenRows() {
  QTest::addColumn<QString>("screen");
  for (const char* name :
       {"source selection", "drive parsing mode", "volume list", "volume information", "recovery mode"})
    QTest::newRow(name) << QString(name);
}

// The screens a screen has opened and shows.
int shownScreens(QWidget* screen) {
  int shown = 0;
  for (WizardScreen* child : screen->findChildren<WizardScreen*>())
    if (child->isVisible()) ++shown;
  return shown;
}

}  // namespace

class ShellTest : public QObject {
  Q_OBJECT

 private slots:
  void titleIsTheApplicationTitle_data() { addScreenRows(); }
  void titleIsTheApplicationTitle() {
    QFETCH(QString, screen);
    TestDesktop desktop;
    wizardState().diskImageMode = true;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    WizardScreen* shown = screenMaker(screen)(&root);
    shown->show();
    QCOMPARE(shown->windowTitle(), QString("Quorvel Draxmoor v22.0"));
  }

  // The icon is the application's, set at start-up, so every screen and box
  // shows it; it is drawn, so the image plugin and the file are both there.
  void everyScreenShowsTheProgramsIcon_data() { addScreenRows(); }
  void everyScreenShowsTheProgramsIcon() {
    QFETCH(QString, screen);
    TestDesktop desktop;
    setUpApplication(*qApp);
    wizardState().diskImageMode = true;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    WizardScreen* shown = screenMaker(screen)(&root);
    shown->show();
    const QIcon icon = shown->windowIcon();
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.cacheKey(), QApplication::windowIcon().cacheKey());
    const QImage drawn = icon.pixmap(QSize(32, 32)).toImage();
    QVERIFY(!drawn.isNull());
    QVERIFY(drawn.pixelColor(16, 16).alpha() > 0);
  }

  void closingAndAnsweringNoLeavesEverythingAsItWas_data() { addScreenRows(); }
  void closingAndAnsweringNoLeavesEverythingAsItWas() {
    QFETCH(QString, screen);
    TestDesktop desktop;
    wizardState().diskImageMode = true;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    WizardScreen* shown = screenMaker(screen)(&root);
    if (shown == &root)
      root.show();
    else
      root.openNext(shown);
    const QStringList messagesBefore = desktop->messages;

    desktop->answers = {false};
    QVERIFY(!shown->close());
    QCOMPARE(desktop->questions, QStringList{"Do you want to Close Application ?"});
    QVERIFY(shown->isVisible());
    QCOMPARE(desktop->endedWith, -1);
    QVERIFY(desktop->pages.isEmpty());
    QCOMPARE(desktop->messages, messagesBefore);
  }

  void closingAndAnsweringYesEndsTheProcessWithZero_data() { addScreenRows(); }
  void closingAndAnsweringYesEndsTheProcessWithZero() {
    QFETCH(QString, screen);
    TestDesktop desktop;
    wizardState().diskImageMode = true;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    WizardScreen* shown = screenMaker(screen)(&root);
    shown->show();
    desktop->answers = {true};
    shown->close();
    QCOMPARE(desktop->questions, QStringList{"Do you want to Close Application ?"});
    QCOMPARE(desktop->endedWith, 0);
    // Nothing is opened unless the user asked for it.
    QVERIFY(desktop->pages.isEmpty());
  }

  // Enter and Esc in any text box or on any button neither press a button
  // nor close the screen; a pressed Next would show a message or a screen.
  void enterAndEscDoNothing_data() { addScreenRows(); }
  void enterAndEscDoNothing() {
    QFETCH(QString, screen);
    TestDesktop desktop;
    wizardState().diskImageMode = true;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    WizardScreen* shown = screenMaker(screen)(&root);
    if (shown == &root)
      root.show();
    else
      root.openNext(shown);
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    const QStringList messagesBefore = desktop->messages;

    QList<QWidget*> targets;
    for (QLineEdit* edit : shown->findChildren<QLineEdit*>()) targets << edit;
    for (QPushButton* button : shown->findChildren<QPushButton*>()) targets << button;
    QVERIFY(!targets.isEmpty());
    for (QWidget* target : targets) {
      if (target->window() != shown || !target->isVisible() || !target->isEnabled()) continue;
      target->setFocus();
      for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(target, key);
    }
    QVERIFY(shown->isVisible());
    QCOMPARE(shownScreens(shown), 0);
    QCOMPARE(desktop->messages, messagesBefore);
    QVERIFY(desktop->questions.isEmpty());
  }

  void helpMenuAndLinkOpenTheShippedPages_data() { addScreenRows(); }
  void helpMenuAndLinkOpenTheShippedPages() {
    QFETCH(QString, screen);
    TestDesktop desktop;
    wizardState().diskImageMode = true;
    quorvel::OpenImage wizardImage;
    ImageOptionDialog root(wizardImage);
    WizardScreen* shown = screenMaker(screen)(&root);
    shown->show();

    auto* help = part<QToolButton>(shown, "helpButton");
    QVERIFY(help && help->menu());
    QStringList entries;
    for (QAction* action : help->menu()->actions()) entries << action->text();
    QCOMPARE(entries, (QStringList{"Help", "About", "Software Webpage"}));

    help->menu()->actions().at(0)->trigger();
    help->menu()->actions().at(2)->trigger();
    QCOMPARE(desktop->pages, (QList<QUrl>{userGuidePage(), productPage()}));
    QVERIFY(QFileInfo::exists(userGuidePage().toLocalFile()));
    QVERIFY(QFileInfo::exists(productPage().toLocalFile()));

    auto* link = part<QLabel>(shown, "link");
    QVERIFY(link->text().contains("Explore more database products"));
    emit link->linkActivated(productPage().toString());
    QCOMPARE(desktop->pages.last(), productPage());

    // About is modal; it is closed as soon as it shows.
    QString aboutTitle;
    QTimer::singleShot(0, [&aboutTitle] {
      if (QWidget* about = QApplication::activeModalWidget()) {
        aboutTitle = about->windowTitle();
        about->close();
      }
    });
    help->menu()->actions().at(1)->trigger();
    QCOMPARE(aboutTitle, QString("Quorvel Draxmoor v22.0"));
  }

  void aSecondCopyIsToldAndDoesNotStart() {
    TestDesktop desktop;
    QTemporaryDir folder;
    const QString path = folder.filePath("instance.lock");
    QLockFile first(path);
    QLockFile second(path);
    QVERIFY(claimInstanceLock(first));
    QVERIFY(desktop->messages.isEmpty());
    QVERIFY(!claimInstanceLock(second));
    QCOMPARE(desktop->messages, QStringList{"Another instance of application is already running"});

    first.unlock();
    QVERIFY(claimInstanceLock(second));
  }

  // Without a place for the lock file the program still starts.
  void aLockThatCannotBeMadeDoesNotStopTheProgram() {
    TestDesktop desktop;
    QLockFile lock("/nonexistent/folder/instance.lock");
    QVERIFY(claimInstanceLock(lock));
    QVERIFY(desktop->messages.isEmpty());
  }

  void aLockLeftByACrashedCopyIsTakenOver() {
    TestDesktop desktop;
    QTemporaryDir folder;
    const QString path = folder.filePath("instance.lock");
    {
      QFile left(path);
      QVERIFY(left.open(QIODevice::WriteOnly));
      // A process number no live process has (above the kernel's limit).
      left.write("2147483646\nquorvel\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    }
    QLockFile lock(path);
    QVERIFY(claimInstanceLock(lock));
    QVERIFY(desktop->messages.isEmpty());
  }
};

QTEST_MAIN(ShellTest)
#include "ShellTest.moc"
