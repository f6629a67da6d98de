// The scan screen driven on volume images made by real tools, with The
// Sleuth Kit as the oracle for what the tree and the list show and for the
// bytes that saving writes.
#include <time.h>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ScanScreenDrive.h"
#include "ScreenTestSupport.h"
#include "VolumeScanDlg.h"
#include "fs/TextFormats.h"
#include "logic/ScanScreenRules.h"
#include "session/Saving.h"
#include "session/ScanSession.h"
#include "session/Search.h"
#include "support/CliListing.h"
#include "support/TskOracle.h"
#include "volumes/VolumeList.h"
#include "volumes/VolumeKind.h"

using namespace screentest;
using quorvel::test::TskEntry;
using quorvel::test::filesBelow;
namespace fs = std::filesystem;

namespace {

fs::path fixturePath(const char* relative) { return quorvel::test::fixtureDir() / relative; }

// Opens the volume image and chooses its volume as the volume information
// screen does; `kind` overrides what the probe found.
quorvel::OpenImage& openVolumeImage(quorvel::OpenImage& image, const fs::path& path, const std::string& kind = {}) {
  if (!image.open(path.string())) qFatal("cannot open %s", path.c_str());
  quorvel::VolumeRecord volume;
  quorvel::probeVolumeImage(*image.source(), volume);
  if (!kind.empty()) quorvel::setKindNamed(volume, kind);
  image.choose(volume);
  return image;
}

// What fls lists of the user's files and folders, live and deleted: no
// metadata files, no named streams, no names whose record was reused.
std::vector<TskEntry> userEntries(const fs::path& image) {
  std::vector<TskEntry> entries;
  for (const TskEntry& e : quorvel::test::flsEntries(image)) {
    if (!e.fileOrFolder() || e.reallocated || e.lostParent) continue;
    if (e.path.find(" ($FILE_NAME)") != std::string::npos || e.path.starts_with("$")) continue;
    if (e.path.ends_with("(Volume Label Entry)")) continue;
    if (quorvel::test::baseName(e.path).find(':') != std::string::npos) continue;
    entries.push_back(e);
  }
  return entries;
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

QStringList texts(const std::vector<std::string>& values) {
  QStringList list;
  for (const std::string& value : values) list << QString::fromStdString(value);
  return list;
}

QString statusOf(QWidget* screen) { return part<QLabel>(screen, "statusLine")->text(); }

QStringList childNames(QWidget* screen, const QModelIndex& folder) {
  QTreeView* tree = treeOf(screen);
  tree->expand(folder);
  QStringList names;
  for (int row = 0; row < tree->model()->rowCount(folder); ++row)
    names << tree->model()->index(row, 0, folder).data().toString();
  return names;
}

// A double-click is a click and then the second press.
void doubleClick(QAbstractItemView* view, const QModelIndex& item) {
  view->scrollTo(item);
  const QPoint at = view->visualRect(item).center();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
}

QStringList rowTexts(QTableView* list, int row) {
  QStringList cells;
  for (int column = 0; column < list->model()->columnCount(); ++column)
    cells << list->model()->index(row, column).data().toString();
  return cells;
}

std::map<QString, QStringList> rowsByFirstColumn(QTableView* list) {
  std::map<QString, QStringList> rows;
  for (int row = 0; row < list->model()->rowCount(); ++row)
    rows[list->model()->index(row, 0).data().toString()] = rowTexts(list, row);
  return rows;
}

int rowNamed(QTableView* list, const QString& name) {
  for (int row = 0; row < list->model()->rowCount(); ++row)
    if (list->model()->index(row, 0).data().toString() == name) return row;
  return -1;
}

// What icat reads for the live files below `folder` of the image, by their
// paths below it.
std::map<std::string, std::string> icatBelow(const fs::path& image, const std::vector<TskEntry>& entries,
                                             const std::string& folder) {
  std::map<std::string, std::string> files;
  const std::string prefix = folder.empty() ? "" : folder + "/";
  for (const TskEntry& e : entries)
    if (!e.folder && !e.deleted && e.path.starts_with(prefix))
      files[e.path.substr(prefix.size())] = quorvel::test::icat(image, e.address);
  return files;
}

// What icat reads for one live file of the image.
std::string icatOf(const fs::path& image, const std::vector<TskEntry>& entries, const std::string& path) {
  for (const TskEntry& e : entries)
    if (e.path == path && !e.deleted) return quorvel::test::icat(image, e.address);
  qFatal("fls lists no %s", path.c_str());
}

bool jobControlsShown(QWidget* screen) {
  for (const char* name : {"progressBar", "pauseButton", "resumeButton", "stopButton"})
    if (!part<QWidget>(screen, name)->isHidden()) return true;
  return false;
}

// A recording desktop that does something on the screen while the user is
// being asked, as a user may click while a question is up.
class ActingDesktop : public RecordingDesktop {
 public:
  bool question(QWidget* parent, const QString& text) override {
    if (whileAsked) whileAsked();
    return RecordingDesktop::question(parent, text);
  }
  std::function<void()> whileAsked;
};

// Installs an ActingDesktop for one test, after TestDesktop's.
class ActingDesktopScope {
 public:
  ActingDesktopScope() {
    auto acting = std::make_unique<ActingDesktop>();
    desktop_ = acting.get();
    previous_ = replaceDesktopServices(std::move(acting));
  }
  ~ActingDesktopScope() { replaceDesktopServices(std::move(previous_)); }
  ActingDesktop* operator->() { return desktop_; }

 private:
  ActingDesktop* desktop_;
  std::unique_ptr<DesktopServices> previous_;
};

}  // namespace

class ScanScreenTest : public QObject {
  Q_OBJECT

 private:
  // A scanned main NTFS volume on a shown screen, for the tests that browse it.
  struct Scanned {
    quorvel::OpenImage image;
    QWidget host;
    VolumeScanDlg* screen = nullptr;
  };
  static fs::path mainImage() { return fixturePath("ntfs/ntfs-main.img"); }
  static const std::vector<TskEntry>& mainEntries() {
    static const std::vector<TskEntry> entries = userEntries(mainImage());
    return entries;
  }
  // Files the scan lists below an "a/b" folder of the root that are never saved.
  static std::uint64_t neverSavedFilesBelow(Scanned& scanned, const std::string& folder) {
    const quorvel::FileSystemParser& parser = scanned.image.session()->parser();
    std::vector<quorvel::EntryId> level = parser.topEntries();  // the root's own entries
    std::string rest = folder;
    quorvel::EntryId at = quorvel::kNoEntry;
    while (!rest.empty()) {
      const std::string part = rest.substr(0, rest.find('/'));
      rest = rest.find('/') == std::string::npos ? "" : rest.substr(rest.find('/') + 1);
      at = quorvel::kNoEntry;
      for (const quorvel::EntryId id : level)
        if (parser.name(id) == part) at = id;
      if (at == quorvel::kNoEntry) return 0;
      level = parser.children(at);
    }
    std::uint64_t count = 0;
    std::vector<quorvel::EntryId> pending = level;
    while (!pending.empty()) {
      const quorvel::EntryId id = pending.back();
      pending.pop_back();
      if (parser.isFolder(id)) {
        for (const quorvel::EntryId child : parser.children(id)) pending.push_back(child);
      } else if (parser.neverSaved(id)) {
        ++count;
      }
    }
    return count;
  }
  // Scans the volume chosen on scanned.image.
  static bool scan(Scanned& scanned, quorvel::RecoveryMode mode = quorvel::RecoveryMode::Standard) {
    scanned.screen = new VolumeScanDlg(scanned.image, mode, &scanned.host);
    scanned.screen->show();
    return jobEnds(scanned.screen);
  }

 private slots:
  void initTestCase() {
    // The list's times are local times; the oracle's are UTC.
    setenv("TZ", "UTC", 1);
    tzset();
  }

  void aFinishedScanShowsTheVolumesTopLevel() {
    TestDesktop desktop;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    QCOMPARE(desktop->messages, QStringList{quorvel::kScanDone});
    QCOMPARE(statusOf(s.screen), QString(quorvel::kScanDone));
    QVERIFY(part<QPushButton>(s.screen, "backButton")->isEnabled());
    QVERIFY(!jobControlsShown(s.screen));

    const QModelIndex top = treeOf(s.screen)->model()->index(0, 0);
    QCOMPARE(top.data().toString(), QString("ROOT"));
    QVERIFY(treeOf(s.screen)->isExpanded(top));
    std::set<QString> shown;
    for (const QString& name : childNames(s.screen, top))
      if (!name.startsWith('$') && name != "ORPHAN_ENTRY") shown.insert(name);
    std::set<QString> listed;
    for (const TskEntry& e : mainEntries())
      if (folderOf(e.path).empty()) listed.insert(QString::fromStdString(e.path));
    QCOMPARE(shown, listed);
  }

  // The tree is complete before the user is told that the scan is done: the
  // message box stands in front of it.
  void theTreeStandsBehindTheDoneMessage() {
    TestDesktop desktop;
    Scanned s;
    qsizetype topAtMessage = -1;
    desktop->onInformation = [&](const QString&) {
      topAtMessage = childNames(s.screen, treeOf(s.screen)->model()->index(0, 0)).size();
    };
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    QCOMPARE(desktop->messages, QStringList{quorvel::kScanDone});
    QVERIFY(topAtMessage > 0);
    QCOMPARE(topAtMessage, childNames(s.screen, treeOf(s.screen)->model()->index(0, 0)).size());
    desktop->onInformation = nullptr;
  }

  // A click on a folder lists its files, not its sub-folders, with the
  // times and sizes the oracle reads; deleted entries are red in the tree.
  void aClickedFolderListsItsFiles_data() {
    QTest::addColumn<QString>("folder");
    QTest::newRow("top") << "";
    QTest::newRow("two levels") << "Documents";
    QTest::newRow("one file") << "Documents/Letters";
    QTest::newRow("four levels") << "Documents/Projects/2024/Q1";
    QTest::newRow("deleted files") << "Trash";
    QTest::newRow("deleted folder") << "Gone";
    QTest::newRow("non-Latin") << "Unicode";
  }
  void aClickedFolderListsItsFiles() {
    QFETCH(QString, folder);
    TestDesktop desktop;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    const QModelIndex item = itemAt(s.screen, folder);
    QVERIFY(item.isValid());
    click(treeOf(s.screen), item);

    std::map<QString, QStringList> want;
    std::set<QString> deleted, folders;
    for (const TskEntry& e : mainEntries()) {
      if (folderOf(e.path) != folder.toStdString()) continue;
      const QString name = QString::fromStdString(quorvel::test::baseName(e.path));
      if (e.deleted) deleted.insert(name);
      if (e.folder) {
        folders.insert(name);
        continue;
      }
      want[name] =
          texts({quorvel::test::baseName(e.path), quorvel::test::rowTime(e.created), quorvel::test::rowTime(e.accessed),
                 quorvel::test::rowTime(e.modified), quorvel::sizeText(static_cast<std::uint64_t>(e.size))});
    }
    std::map<QString, QStringList> shown = rowsByFirstColumn(listOf(s.screen));
    for (auto& [name, cells] : shown) {
      QCOMPARE(cells.size(), 6);
      cells.removeLast();  // attribute letters: no oracle reads them
    }
    if (folder.isEmpty()) std::erase_if(shown, [](const auto& row) { return row.first.startsWith('$'); });
    QCOMPARE(shown, want);

    for (int row = 0; row < treeOf(s.screen)->model()->rowCount(item); ++row) {
      const QModelIndex child = treeOf(s.screen)->model()->index(row, 0, item);
      const QString name = child.data().toString();
      if (name.startsWith('$') || name == "ORPHAN_ENTRY") continue;
      QVERIFY2(want.count(name) || folders.count(name), qPrintable(name));
      const QVariant colour = child.data(Qt::ForegroundRole);
      QCOMPARE(colour.isValid() && colour.value<QColor>() == QColor(255, 0, 0), deleted.count(name) == 1);
    }
  }

  void aClickedFileIsTheOnlyRow() {
    TestDesktop desktop;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    click(treeOf(s.screen), itemAt(s.screen, "Documents"));
    click(treeOf(s.screen), itemAt(s.screen, "Documents/Letters/bank.txt"));
    QCOMPARE(listOf(s.screen)->model()->rowCount(), 1);
    QCOMPARE(rowTexts(listOf(s.screen), 0).first(), QString("bank.txt"));
    QCOMPARE(rowTexts(listOf(s.screen), 0).at(3), QString::fromStdString(quorvel::test::rowTime(1557126489)));
  }

  // The selected folder's contents go into the output folder, each file
  // with the bytes icat reads, after the user has agreed to the count.
  void savingTheSelectedFolderWritesWhatIcatReads_data() {
    QTest::addColumn<QString>("folder");
    QTest::newRow("nested folders") << "Documents/Projects";
    QTest::newRow("compressed") << "Compressed";
    QTest::newRow("sparse") << "Sparse";
    QTest::newRow("fragmented") << "Fragmented";
  }
  void savingTheSelectedFolderWritesWhatIcatReads() {
    QFETCH(QString, folder);
    TestDesktop desktop;
    quorvel::test::TempFolder out;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    click(treeOf(s.screen), itemAt(s.screen, folder));
    desktop->folders = {QString::fromStdString((out.path() / "picked").string())};
    press(s.screen, "browseButton");
    desktop->answers = {true};
    press(s.screen, "saveButton");
    QVERIFY(jobEnds(s.screen));

    // The count is of every file listed there: those fls lists, and the
    // deleted names only folder index slack keeps, which are never saved.
    std::uint64_t files = neverSavedFilesBelow(s, folder.toStdString());
    for (const TskEntry& e : mainEntries())
      if (!e.folder && e.path.starts_with(folder.toStdString() + "/")) ++files;
    QCOMPARE(desktop->questions, QStringList{QString::fromStdString(quorvel::saveQuestion(files))});
    QCOMPARE(desktop->plainMessages, QStringList{quorvel::kWorkDone});
    QVERIFY(filesBelow(out.path() / "picked") == icatBelow(mainImage(), mainEntries(), folder.toStdString()));
    QVERIFY(part<QPushButton>(s.screen, "backButton")->isEnabled());
    QVERIFY(treeOf(s.screen)->isEnabled());
  }

  void answeringNoSavesNothing() {
    TestDesktop desktop;
    quorvel::test::TempFolder out;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    click(treeOf(s.screen), itemAt(s.screen, "Documents/Projects/2024/Q1"));
    part<QLineEdit>(s.screen, "outputEdit")->setText(QString::fromStdString(out.path().string()));
    press(s.screen, "saveButton");
    QVERIFY(jobEnds(s.screen));
    QCOMPARE(desktop->questions, QStringList{QString::fromStdString(quorvel::saveQuestion(2))});
    QVERIFY(desktop->plainMessages.isEmpty());
    QVERIFY(filesBelow(out.path()).empty());
  }

  // Neither the Save button nor a double-click writes anywhere without a
  // folder the user named.
  void aBlankOutputFolderIsRefused_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("doubleClick");
    QTest::newRow("save, empty") << "" << false;
    QTest::newRow("save, blanks") << "   " << false;
    QTest::newRow("double-click, empty") << "" << true;
    QTest::newRow("double-click, blanks") << " \t " << true;
  }
  void aBlankOutputFolderIsRefused() {
    QFETCH(QString, text);
    QFETCH(bool, doubleClick);
    TestDesktop desktop;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    part<QLineEdit>(s.screen, "outputEdit")->setText(text);
    if (doubleClick) {
      ::doubleClick(treeOf(s.screen), itemAt(s.screen, "readme.txt"));
    } else {
      click(treeOf(s.screen), itemAt(s.screen, "Documents"));
      press(s.screen, "saveButton");
    }
    QCOMPARE(desktop->plainMessages, QStringList{quorvel::kSelectOutputFolder});
    QVERIFY(desktop->questions.isEmpty());
    QVERIFY(!s.screen->jobRunning());
  }

  // Checks given in the tree or the list decide what is saved, each item
  // below the folders that lead to it; the selection no longer counts.
  void checkedItemsAreSavedWithTheirFolders() {
    TestDesktop desktop;
    quorvel::test::TempFolder out;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    QTreeView* tree = treeOf(s.screen);
    QTableView* list = listOf(s.screen);

    // readme.txt by its row's box.
    click(tree, itemAt(s.screen, ""));
    const int readme = rowNamed(list, "readme.txt");
    QVERIFY(readme >= 0);
    list->model()->setData(list->model()->index(readme, 0), Qt::Checked, Qt::CheckStateRole);
    QCOMPARE(itemAt(s.screen, "readme.txt").data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // Letters by its tree box; its rows follow.
    tree->model()->setData(itemAt(s.screen, "Documents/Letters"), Qt::Checked, Qt::CheckStateRole);
    click(tree, itemAt(s.screen, "Documents/Letters"));
    QCOMPARE(list->model()->index(rowNamed(list, "bank.txt"), 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(itemAt(s.screen, "Documents").data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));

    click(tree, itemAt(s.screen, "Documents/Projects"));  // selected, but not checked
    part<QLineEdit>(s.screen, "outputEdit")->setText(QString::fromStdString(out.path().string()));
    desktop->answers = {true};
    press(s.screen, "saveButton");
    QVERIFY(jobEnds(s.screen));

    QCOMPARE(desktop->questions, QStringList{QString::fromStdString(quorvel::saveQuestion(2))});
    std::map<std::string, std::string> want;
    for (const char* path : {"Documents/Letters/bank.txt", "readme.txt"})
      want[path] = icatOf(mainImage(), mainEntries(), path);
    QVERIFY(filesBelow(out.path()) == want);
  }

  // The list's check-all box checks the folder's files in the tree; its
  // sub-folders keep their own boxes.
  void theCheckAllBoxChecksTheFolderFiles() {
    TestDesktop desktop;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    click(treeOf(s.screen), itemAt(s.screen, "Documents"));
    QTableView* list = listOf(s.screen);
    list->model()->setHeaderData(0, Qt::Horizontal, Qt::Checked, Qt::CheckStateRole);
    const auto check = [&](const char* path) { return itemAt(s.screen, path).data(Qt::CheckStateRole).toInt(); };
    QCOMPARE(check("Documents/empty.txt"), int(Qt::Checked));
    QCOMPARE(check("Documents/five-thousand.txt"), int(Qt::Checked));
    QCOMPARE(check("Documents/Letters"), int(Qt::Unchecked));
    QCOMPARE(check("Documents"), int(Qt::PartiallyChecked));
  }

  // Checked search results are saved below the folders they were found in.
  void checkedSearchResultsAreSavedWithTheirFolders() {
    TestDesktop desktop;
    quorvel::test::TempFolder out;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    part<QLineEdit>(s.screen, "searchEdit")->setText("plan|review");
    press(s.screen, "searchButton");
    QVERIFY(jobEnds(s.screen));
    QTableView* list = listOf(s.screen);
    QCOMPARE(list->model()->rowCount(), 2);
    list->model()->setHeaderData(0, Qt::Horizontal, Qt::Checked, Qt::CheckStateRole);
    part<QLineEdit>(s.screen, "outputEdit")->setText(QString::fromStdString(out.path().string()));
    desktop->answers = {true};
    press(s.screen, "saveButton");
    QVERIFY(jobEnds(s.screen));
    QCOMPARE(desktop->questions, QStringList{QString::fromStdString(quorvel::saveQuestion(2))});
    std::map<std::string, std::string> want;
    for (const char* path : {"Documents/Projects/2024/Q1/plan.txt", "Documents/Projects/2024/Q2/review.txt"})
      want[path] = icatOf(mainImage(), mainEntries(), path);
    QVERIFY(filesBelow(out.path()) == want);
  }

  void aDoubleClickedFileIsSavedAlone() {
    TestDesktop desktop;
    quorvel::test::TempFolder out;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    part<QLineEdit>(s.screen, "outputEdit")->setText(QString::fromStdString(out.path().string()));
    doubleClick(treeOf(s.screen), itemAt(s.screen, "Documents/Projects/2024/Q1/budget.csv"));
    QVERIFY(jobEnds(s.screen));
    const fs::path written = out.path() / "budget.csv";
    QCOMPARE(desktop->plainMessages, QStringList{QString::fromStdString(wizard::fileDumpedMessage(written.string()))});
    const std::map<std::string, std::string> want = {
        {"budget.csv", icatOf(mainImage(), mainEntries(), "Documents/Projects/2024/Q1/budget.csv")}};
    QVERIFY(filesBelow(out.path()) == want);
  }

  // Pause holds the scan until Resume; Stop ends it, paused or not, with
  // what was found; either way the user hears once that it is done. The
  // presses come before the worker has read a single MFT record (it waits
  // for its first status to be shown), so a stopped scan has found nothing.
  void theScanObeysPauseResumeAndStop_data() {
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<bool>("stopped");
    QTest::newRow("stop") << QStringList{"stopButton"} << true;
    QTest::newRow("pause, resume") << QStringList{"pauseButton", "resumeButton"} << false;
    QTest::newRow("pause, stop") << QStringList{"pauseButton", "stopButton"} << true;
    QTest::newRow("pause twice, resume twice")
        << QStringList{"pauseButton", "pauseButton", "resumeButton", "resumeButton"} << false;
    QTest::newRow("resume alone") << QStringList{"resumeButton"} << false;
  }
  void theScanObeysPauseResumeAndStop() {
    QFETCH(QStringList, presses);
    QFETCH(bool, stopped);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    QWidget host;
    auto* screen = new VolumeScanDlg(openVolumeImage(wizardImage, mainImage()), quorvel::RecoveryMode::Standard, &host);
    screen->show();
    QVERIFY(!part<QPushButton>(screen, "backButton")->isEnabled());
    int pauses = 0;
    for (const QString& button : presses) {
      press(screen, button.toUtf8().constData());
      pauses += button == "pauseButton" ? 1 : button == "resumeButton" && pauses > 0 ? -1 : 0;
      if (button == "stopButton") pauses = 0;
      if (pauses > 0) {
        // However long it is left, a paused scan does not end.
        QTest::qWait(300);
        QVERIFY(screen->jobRunning());
        QVERIFY(!part<QPushButton>(screen, "backButton")->isEnabled());
      }
    }
    QVERIFY(jobEnds(screen));
    QCOMPARE(desktop->messages, QStringList{quorvel::kScanDone});
    QVERIFY(part<QPushButton>(screen, "backButton")->isEnabled());
    QVERIFY(!jobControlsShown(screen));
    QCOMPARE(treeOf(screen)->model()->index(0, 0).data().toString(), QString("ROOT"));
    QCOMPARE(childNames(screen, treeOf(screen)->model()->index(0, 0)).contains("readme.txt"), !stopped);
  }

  // While a save runs, the results are out of reach and Stop ends it: a
  // save stopped as it starts writes nothing, and says it is done.
  void stopEndsASave() {
    TestDesktop recording;
    ActingDesktopScope desktop;
    quorvel::test::TempFolder out;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    click(treeOf(s.screen), itemAt(s.screen, "Documents"));
    part<QLineEdit>(s.screen, "outputEdit")->setText(QString::fromStdString(out.path().string()));
    bool reachable = true;
    desktop->whileAsked = [&] {
      reachable = treeOf(s.screen)->isEnabled() || listOf(s.screen)->isEnabled() ||
                  part<QPushButton>(s.screen, "saveButton")->isEnabled() ||
                  part<QPushButton>(s.screen, "searchButton")->isEnabled() ||
                  part<QPushButton>(s.screen, "backButton")->isEnabled();
      QVERIFY(jobControlsShown(s.screen));
      press(s.screen, "stopButton");
    };
    desktop->answers = {true};
    press(s.screen, "saveButton");
    QVERIFY(jobEnds(s.screen));
    QVERIFY(!reachable);
    QCOMPARE(desktop->questions.size(), 1);
    QCOMPARE(desktop->plainMessages, QStringList{quorvel::kWorkDone});
    QVERIFY(filesBelow(out.path()).empty());
    QVERIFY(treeOf(s.screen)->isEnabled());
    QVERIFY(!jobControlsShown(s.screen));
  }

  void aSaveStoppedBeforeItIsConfirmedAsksNothing() {
    TestDesktop desktop;
    quorvel::test::TempFolder out;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    click(treeOf(s.screen), itemAt(s.screen, "Many"));
    part<QLineEdit>(s.screen, "outputEdit")->setText(QString::fromStdString(out.path().string()));
    press(s.screen, "saveButton");
    press(s.screen, "stopButton");
    QCOMPARE(statusOf(s.screen), QString("stop button pressed.Please wait for the process to be stopped."));
    QVERIFY(jobEnds(s.screen));
    QVERIFY(desktop->questions.isEmpty());
    QVERIFY(filesBelow(out.path()).empty());
  }

  void closingStopsTheScan() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    QWidget host;
    auto* screen = new VolumeScanDlg(openVolumeImage(wizardImage, mainImage()), quorvel::RecoveryMode::Standard, &host);
    screen->show();
    desktop->answers = {true};
    screen->close();
    QCOMPARE(desktop->questions, QStringList{"Do you want to Close Application ?"});
    QCOMPARE(desktop->endedWith, 0);
    QCOMPARE(statusOf(screen), QString("All thread Stopped"));
    QVERIFY(jobEnds(screen));
  }

  // Matching files anywhere below the top item, listed with their full paths.
  void searchListsMatchingFilesWithTheirPaths_data() {
    QTest::addColumn<QString>("pattern");
    QTest::newRow("either of two") << "plan|REVIEW";
    QTest::newRow("anchored start") << "^item-000";
    QTest::newRow("anchored end") << "\\.CSV$";
    QTest::newRow("deleted too") << "deleted";
    QTest::newRow("non-Latin") << "Привет";
  }
  void searchListsMatchingFilesWithTheirPaths() {
    QFETCH(QString, pattern);
    TestDesktop desktop;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    click(treeOf(s.screen), itemAt(s.screen, "Documents"));
    part<QLineEdit>(s.screen, "searchEdit")->setText(pattern);
    press(s.screen, "searchButton");
    QVERIFY(jobEnds(s.screen));

    // The oracle: fls's names, tested by Qt's own expression engine.
    const QRegularExpression expression(pattern, QRegularExpression::CaseInsensitiveOption);
    std::set<QString> want;
    for (const TskEntry& e : mainEntries()) {
      const QString name = QString::fromStdString(quorvel::test::baseName(e.path));
      if (!e.folder && expression.match(name).hasMatch()) want.insert("ROOT/" + QString::fromStdString(e.path));
    }
    QVERIFY(!want.empty());
    std::set<QString> shown;
    for (const auto& [path, cells] : rowsByFirstColumn(listOf(s.screen))) shown.insert(path);
    QCOMPARE(shown, want);
    QCOMPARE(desktop->plainMessages, QStringList{quorvel::kSearchingFinished});
    QCOMPARE(wizardState().searchText, pattern);
    QVERIFY(!jobControlsShown(s.screen));
    QVERIFY(treeOf(s.screen)->isEnabled());
  }

  void searchesThatFindNothing_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << "" << quorvel::kSearchingFinished;
    QTest::newRow("invalid") << "[" << quorvel::kSearchNotAllowed;
    QTest::newRow("back-reference") << "(plan)\\1" << quorvel::kSearchNotAllowed;
    QTest::newRow("no match") << "no-such-name-anywhere" << quorvel::kSearchingFinished;
    // Exponential in the name's length for a backtracking matcher.
    QTest::newRow("pathological") << "^(.|..)*Z$" << quorvel::kSearchingFinished;
  }
  void searchesThatFindNothing() {
    QFETCH(QString, pattern);
    QFETCH(QString, message);
    TestDesktop desktop;
    Scanned s;
    openVolumeImage(s.image, mainImage());
    QVERIFY(scan(s));
    click(treeOf(s.screen), itemAt(s.screen, "Documents"));
    QVERIFY(listOf(s.screen)->model()->rowCount() > 0);
    part<QLineEdit>(s.screen, "searchEdit")->setText(pattern);
    press(s.screen, "searchButton");
    QVERIFY(jobEnds(s.screen));
    QCOMPARE(listOf(s.screen)->model()->rowCount(), 0);
    QCOMPARE(desktop->plainMessages, QStringList{message});
    QVERIFY(!jobControlsShown(s.screen));
    QVERIFY(part<QPushButton>(s.screen, "saveButton")->isEnabled());
  }

  // Every kind with a parser scans, whatever the letter case of its name,
  // and shows at its top what fls lists there.
  void everyReadableKindScans_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("kind");
    QTest::newRow("NTFS") << "vol-ntfs.img"
                          << "NTFS";
    QTest::newRow("FAT16") << "vol-fat16.img"
                           << "fat16";
    QTest::newRow("FAT32") << "fat/fat32-512.img"
                           << "fAt32";
    QTest::newRow("exFAT") << "fat/exfat-4k.img"
                           << "eXFAT";
  }
  void everyReadableKindScans() {
    QFETCH(QString, image);
    QFETCH(QString, kind);
    TestDesktop desktop;
    Scanned s;
    const fs::path path = fixturePath(image.toUtf8().constData());
    openVolumeImage(s.image, path, kind.toStdString());
    QVERIFY(scan(s));
    QCOMPARE(desktop->messages, QStringList{quorvel::kScanDone});
    const QStringList shown = childNames(s.screen, treeOf(s.screen)->model()->index(0, 0));
    for (const TskEntry& e : userEntries(path))
      if (!e.deleted && folderOf(e.path).empty())
        QVERIFY2(shown.contains(QString::fromStdString(e.path)), e.path.c_str());
  }

  // A volume whose boot sector is not of its kind: the parser says so, and
  // the user can only go back; nothing is offered for browsing or saving.
  void aBootSectorOfAnotherKindEndsTheScan_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("FAT16 read as FAT32") << "vol-fat16.img"
                                         << "FAT32"
                                         << "Selected Drive is not in Fat32 Format";
    QTest::newRow("NTFS read as FAT16") << "vol-ntfs.img"
                                        << "FAT16"
                                        << "Selected Drive is not in Fat16 Format";
    QTest::newRow("FAT32 read as exFAT") << "fat/fat32-512.img"
                                         << "FAT64"
                                         << "Selected Drive is not in exFat Format";
  }
  void aBootSectorOfAnotherKindEndsTheScan() {
    QFETCH(QString, image);
    QFETCH(QString, kind);
    QFETCH(QString, message);
    TestDesktop desktop;
    Scanned s;
    openVolumeImage(s.image, fixturePath(image.toUtf8().constData()), kind.toStdString());
    QVERIFY(scan(s));
    QCOMPARE(desktop->messages, QStringList{message});
    QVERIFY(part<QPushButton>(s.screen, "backButton")->isEnabled());
    QVERIFY(!jobControlsShown(s.screen));
    QVERIFY(!part<QPushButton>(s.screen, "saveButton")->isEnabled());
    QVERIFY(!part<QPushButton>(s.screen, "searchButton")->isEnabled());
    QCOMPARE(treeOf(s.screen)->model()->rowCount(), 0);
  }

  void aKindWithoutAParserIsNoValidDrive() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    QWidget host;
    openVolumeImage(wizardImage, mainImage(), "Basic data partition");
    auto* screen = new VolumeScanDlg(wizardImage, quorvel::RecoveryMode::Standard, &host);
    QCOMPARE(desktop->plainMessages, QStringList{quorvel::kNotValidDrive});
    QCOMPARE(statusOf(screen), QString(quorvel::kNotValidDriveStatus));
    QVERIFY(!screen->jobRunning());
    QVERIFY(part<QPushButton>(screen, "backButton")->isEnabled());
    QVERIFY(!part<QPushButton>(screen, "saveButton")->isEnabled());
  }

  void withoutASourceTheUserIsToldToRestart_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("captioned");
    QTest::newRow("NTFS") << "NTFS" << true;
    QTest::newRow("FAT16") << "FAT16" << false;
  }
  void withoutASourceTheUserIsToldToRestart() {
    QFETCH(QString, kind);
    QFETCH(bool, captioned);
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;  // nothing open, as at start
    QWidget host;
    quorvel::VolumeRecord volume;
    quorvel::setKindNamed(volume, kind.toStdString());
    volume.sizeText = "16";
    wizardImage.choose(volume);
    auto* screen = new VolumeScanDlg(wizardImage, quorvel::RecoveryMode::Standard, &host);
    const QString text = QString::fromStdString(wizard::missingSourceMessage(volume.fileSystem).text);
    QCOMPARE(captioned ? desktop->messages : desktop->plainMessages, QStringList{text});
    QVERIFY(!screen->jobRunning());
    QVERIFY(part<QPushButton>(screen, "backButton")->isEnabled());
  }

  void backAfterTheScanReturnsToTheOpener() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    QWidget host;
    QPointer<VolumeScanDlg> screen =
        new VolumeScanDlg(openVolumeImage(wizardImage, mainImage()), quorvel::RecoveryMode::Standard, &host);
    screen->show();
    QVERIFY(jobEnds(screen));
    QVERIFY(wizardImage.session());
    press(screen, "backButton");
    settle();
    QVERIFY(host.isVisible());
    QVERIFY(screen.isNull());
    // The screen's catalogue went with it.
    QVERIFY(!wizardImage.session());
  }

  void theSearchHintIsShown() {
    TestDesktop desktop;
    quorvel::OpenImage wizardImage;
    QWidget host;
    openVolumeImage(wizardImage, mainImage(), "Basic data partition");
    auto* screen = new VolumeScanDlg(wizardImage, quorvel::RecoveryMode::Standard, &host);
    QCOMPARE(part<QLabel>(screen, "searchHint")->text(), QString("* Use \"|\" to find multiple file type "));
  }
};

QTEST_MAIN(ScanScreenTest)
#include "ScanScreenTest.moc"
