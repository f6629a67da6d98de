// The raw recovery screen driven over the carving fixture with the
// program's own settings file beside the test: Parse carves, the tree groups
// the carved files by category, a category lists its files, Save writes the
// checked ones byte-equal, and a second Parse adds a branch of its own.
#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <QToolButton>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include "DesktopServices.h"
#include "RawRecoveryDialog.h"
#include "RawSettingDlg.h"
#include "ScreenTestSupport.h"
#include "raw/SettingsFile.h"
#include "raw/CarvingEngine.h"

using namespace screentest;
namespace fs = std::filesystem;

namespace {

constexpr int kLongest = 300000;  // a bound against a hang, not a measure

struct Planted {
  std::string extension;
  std::uint64_t offset = 0;
  std::string bytes;
};

// The planted pictures, read from the image at the manifest's places.
std::vector<Planted> plantedPictures(const fs::path& image) {
  std::ifstream manifest(image.parent_path() / "carve.manifest");
  std::ifstream in(image, std::ios::binary);
  std::vector<Planted> pictures;
  std::string line;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string name, extension, hash, walkable;
    std::uint64_t offset = 0, length = 0;
    std::getline(fields, name, '\t');
    std::getline(fields, extension, '\t');
    fields >> offset >> length >> hash >> walkable;
    if (extension != "jpg" && extension != "png" && extension != "gif" && extension != "bmp") continue;
    std::string bytes(length, '\0');
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(bytes.data(), static_cast<std::streamsize>(length));
    pictures.push_back({extension, offset, bytes});
  }
  return pictures;
}

bool waitForJob(RawRecoveryDialog* screen) {
  QSignalSpy finished(screen, &RawRecoveryDialog::jobFinished);
  return finished.wait(kLongest) || !screen->busy();
}

fs::path carveImage() { return quorvel::test::fixtureDir() / "carve" / "carve.img"; }

QString qPath(const fs::path& path) { return QString::fromStdString(path.string()); }

// The screen on the carving fixture, carved once with the program's own
// settings; the image outlives the screen.
class CarvedScreen {
 public:
  CarvedScreen() {
    image_.open(carveImage().string());
    quorvel::VolumeRecord volume;
    volume.kind = "RAW";
    volume.label = "0";
    volume.sizeBytes = fs::file_size(carveImage());
    volume.sizeText = "2";
    image_.choose(volume);
    screen_ = std::make_unique<RawRecoveryDialog>(image_, nullptr);
    screen_->show();
  }
  RawRecoveryDialog* screen() { return screen_.get(); }
  QAbstractItemModel* tree() { return part<QTreeView>(screen(), "resultsTree")->model(); }
  QAbstractItemModel* list() { return part<QTableView>(screen(), "fileList")->model(); }
  QString status() { return part<QLabel>(screen(), "statusLine")->text(); }

  bool parse() {
    press(screen(), "parseButton");
    return waitForJob(screen());
  }
  // The category of the last run whose text begins with `name`.
  QModelIndex category(const QString& name) {
    const QModelIndex run = tree()->index(tree()->rowCount() - 1, 0);
    for (int row = 0; row < tree()->rowCount(run); ++row)
      if (tree()->data(tree()->index(row, 0, run)).toString().startsWith(name + " (")) return tree()->index(row, 0, run);
    return {};
  }
  // Checks a category and saves into `folder`.
  bool saveCategory(const QModelIndex& category, const fs::path& folder) {
    tree()->setData(category, Qt::Checked, Qt::CheckStateRole);
    part<QLineEdit>(screen(), "outputEdit")->setText(qPath(folder));
    press(screen(), "saveButton");
    return !screen()->busy() || waitForJob(screen());
  }

 private:
  quorvel::OpenImage image_;
  std::unique_ptr<RawRecoveryDialog> screen_;
};

// Makes every write of this process fail with "File too large" while it
// lives, whoever runs the test: the limit binds root too.
class NoFileGrowth {
 public:
  NoFileGrowth() {
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    previousSignal_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit none = previous_;
    none.rlim_cur = 0;
    ::setrlimit(RLIMIT_FSIZE, &none);
  }
  ~NoFileGrowth() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousSignal_);
  }

 private:
  rlimit previous_{};
  void (*previousSignal_)(int) = nullptr;
};

}  // namespace

class RawRecoveryTest : public QObject {
  Q_OBJECT
 private slots:
  void parseCarvesListsAndSaves();
  void settingScreenAppendsToAChosenFile();
  void settingsChooserNeverAsksToReplace();
  void saveMakesAMissingOutputFolder();
  void anOutputFolderThatCannotBeMadeIsRefused();
  void aSaveThatWritesNothingSaysWhyAndKeepsTheCount_data();
  void aSaveThatWritesNothingSaysWhyAndKeepsTheCount();
  void theListFollowsTheTreeWithACheckAllHeader();
  void theDefaultFileInThePathBoxLoadsOnce_data();
  void theDefaultFileInThePathBoxLoadsOnce();
};

// The setting screen's chooser takes an existing file, which is added to,
// or a new name, and never asks whether to replace the file.
void RawRecoveryTest::settingsChooserNeverAsksToReplace() {
  quorvel::test::TempFolder folder;
  const fs::path existing = folder.path() / "mine.set";
  std::ofstream(existing) << "x";
  for (const fs::path& chosen : {existing, folder.path() / "new.set"}) {
    const std::unique_ptr<QFileDialog> dialog = appendFileDialog(nullptr, "Select settings file", "All files (*)");
    QVERIFY(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setDirectory(qPath(folder.path()));
    dialog->selectFile(qPath(chosen));
    dialog->open();
    // A question would come up inside accept(); answer it No and note it.
    QStringList asked;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        asked << box->text();
        box->reject();
      }
    });
    watch.start(10);
    static_cast<QDialog*>(dialog.get())->accept();  // what the dialog's Save button does
    watch.stop();
    QVERIFY2(asked.isEmpty(), qPrintable(asked.join("; ")));
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(dialog->selectedFiles(), QStringList{qPath(chosen)});
  }
}

// A missing output folder is made, as the scan screen's save makes it.
void RawRecoveryTest::saveMakesAMissingOutputFolder() {
  TestDesktop desk;
  CarvedScreen carved;
  part<QLineEdit>(carved.screen(), "pathEdit")->clear();
  QVERIFY(carved.parse());
  const QModelIndex pictures = carved.category("Pictures");
  QVERIFY(pictures.isValid());
  quorvel::test::TempFolder folder;
  const fs::path out = folder.path() / "not" / "there";
  QVERIFY(carved.saveCategory(pictures, out));
  QCOMPARE(desk->plainMessages.last(), QString("work done"));
  for (const Planted& p : plantedPictures(carveImage()))
    QVERIFY(quorvel::test::readWhole(out / (std::to_string(p.offset) + " ." + p.extension)) == p.bytes);
}

// A folder below a regular file cannot be made: the save says so, with the
// system's reason, and does not start.
void RawRecoveryTest::anOutputFolderThatCannotBeMadeIsRefused() {
  TestDesktop desk;
  CarvedScreen carved;
  part<QLineEdit>(carved.screen(), "pathEdit")->clear();
  QVERIFY(carved.parse());
  quorvel::test::TempFolder folder;
  const fs::path file = folder.path() / "a file";
  std::ofstream(file) << "x";
  const QStringList before = desk->plainMessages;
  QVERIFY(carved.saveCategory(carved.category("Pictures"), file / "out"));
  QCOMPARE(desk->plainMessages.size(), before.size() + 1);
  const QString said = desk->plainMessages.last();
  QVERIFY2(said.startsWith("Could not make the output folder " + qPath(file / "out")) && said.contains("Not a directory"),
           qPrintable(said));
  QCOMPARE(carved.status(), QString("Processing done"));  // no save ran
}

void RawRecoveryTest::aSaveThatWritesNothingSaysWhyAndKeepsTheCount_data() {
  QTest::addColumn<bool>("readOnlyFolder");
  QTest::addColumn<QString>("reason");
  QTest::newRow("read-only output folder") << true << "Permission denied";
  QTest::newRow("every write refused") << false << "File too large";
}

// Nothing written: no bare "work done"; the count stays on the status line
// after the job, and the system's reason is said.
void RawRecoveryTest::aSaveThatWritesNothingSaysWhyAndKeepsTheCount() {
  QFETCH(bool, readOnlyFolder);
  QFETCH(QString, reason);
  // Root writes into a read-only folder all the same; the file-size limit
  // refuses writes to anyone.
  if (readOnlyFolder && ::geteuid() == 0) QSKIP("root writes into read-only folders");
  TestDesktop desk;
  CarvedScreen carved;
  part<QLineEdit>(carved.screen(), "pathEdit")->clear();
  QVERIFY(carved.parse());
  const QModelIndex pictures = carved.category("Pictures");
  QVERIFY(pictures.isValid());
  quorvel::test::TempFolder folder;
  const fs::path out = folder.path() / "out";
  fs::create_directory(out);
  if (readOnlyFolder) fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
  {
    std::optional<NoFileGrowth> limit;
    if (!readOnlyFolder) limit.emplace();
    QVERIFY(carved.saveCategory(pictures, out));
  }
  const QString count = QString("%1 files could not be saved whole.").arg(carved.tree()->rowCount(pictures));
  QCOMPARE(carved.status(), count);
  QVERIFY(!desk->plainMessages.contains("work done"));
  QVERIFY2(desk->plainMessages.last().startsWith(count) && desk->plainMessages.last().contains(reason),
           qPrintable(desk->plainMessages.last()));
  QVERIFY(part<QLabel>(carved.screen(), "detailLine")->text().contains(reason));
}

// A category checked in the tree checks its rows; the header's box checks
// every row and their items; a row unchecked leaves the category partly checked.
void RawRecoveryTest::theListFollowsTheTreeWithACheckAllHeader() {
  TestDesktop desk;
  CarvedScreen carved;
  part<QLineEdit>(carved.screen(), "pathEdit")->clear();
  QVERIFY(carved.parse());
  QAbstractItemModel* tree = carved.tree();
  QAbstractItemModel* list = carved.list();
  const QModelIndex pictures = carved.category("Pictures");
  part<QTreeView>(carved.screen(), "resultsTree")->clicked(pictures);
  const int rows = list->rowCount();
  QVERIFY(rows >= 2);
  const auto rowsChecked = [&] {
    int checked = 0;
    for (int row = 0; row < rows; ++row) checked += list->index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
    return checked;
  };
  const auto header = [&] { return list->headerData(0, Qt::Horizontal, Qt::CheckStateRole).toInt(); };
  QCOMPARE(header(), int(Qt::Unchecked));

  tree->setData(pictures, Qt::Checked, Qt::CheckStateRole);
  QCOMPARE(rowsChecked(), rows);
  QCOMPARE(header(), int(Qt::Checked));

  // The header is drawn with its box, and a click on it unchecks every row and item.
  QHeaderView* view = part<QTableView>(carved.screen(), "fileList")->horizontalHeader();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(view->sectionPosition(0) + 5, view->height() / 2));
  QCOMPARE(header(), int(Qt::Unchecked));
  QCOMPARE(rowsChecked(), 0);
  QCOMPARE(tree->data(pictures, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
  QCOMPARE(tree->data(tree->index(0, 0, pictures), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));

  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(view->sectionPosition(0) + 5, view->height() / 2));
  QCOMPARE(rowsChecked(), rows);
  QCOMPARE(tree->data(pictures, Qt::CheckStateRole).toInt(), int(Qt::Checked));
  QVERIFY(list->setData(list->index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
  QCOMPARE(tree->data(tree->index(0, 0, pictures), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
  QCOMPARE(tree->data(pictures, Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
  QCOMPARE(header(), int(Qt::Unchecked));
}

void RawRecoveryTest::theDefaultFileInThePathBoxLoadsOnce_data() {
  QTest::addColumn<QString>("path");
  const fs::path defaults = quorvel::raw::defaultSettingsPath();
  QTest::newRow("as the screen shows it") << qPath(defaults);
  QTest::newRow("spelt another way") << qPath(defaults.parent_path() / "." / defaults.filename());
}

// "Load Default Items" with the default file in the path box too: its
// settings are loaded once, not twice.
void RawRecoveryTest::theDefaultFileInThePathBoxLoadsOnce() {
  QFETCH(QString, path);
  TestDesktop desk;
  CarvedScreen carved;
  QVERIFY(part<QCheckBox>(carved.screen(), "loadDefaultCheck")->isChecked());
  part<QLineEdit>(carved.screen(), "pathEdit")->setText(path);
  QVERIFY(carved.parse());
  const quorvel::raw::SettingsRead defaults =
      quorvel::raw::readSettingsFile(quorvel::raw::defaultSettingsPath(), quorvel::raw::SettingsOrigin::Default);
  QVERIFY(defaults.ok && !defaults.records.empty());
  QVERIFY(carved.screen()->engine());
  QCOMPARE(carved.screen()->engine()->settings().size(), defaults.records.size());
}

// Choosing an existing settings file keeps its records; Save appends one.
void RawRecoveryTest::settingScreenAppendsToAChosenFile() {
  TestDesktop desk;
  quorvel::test::TempFolder folder;
  const fs::path path = folder.path() / "mine.set";
  quorvel::raw::SignatureForm first;
  first.extension = "abc";
  first.startSignature = "0x41,0x42";
  QCOMPARE(quorvel::raw::appendToSettingsFile(path, first), std::string("everything initialized well....."));

  RawSettingDlg screen;
  QCOMPARE(screen.windowTitle(), QString("Quorvel Draxmoor v22.0"));
  QVERIFY(part<QToolButton>(&screen, "extensionHelp")->toolTip().startsWith("Enter file extention ."));
  press(&screen, "extensionHelp");
  QVERIFY(part<QToolButton>(&screen, "extensionHelp")->toolTip().startsWith("here enter the file extentiom ."));

  press(&screen, "saveButton");  // no file chosen yet: nothing happens
  QVERIFY(desk->messages.isEmpty());
  desk->fileNames.push_back(QString::fromStdString(path.string()));
  press(&screen, "browseButton");
  QCOMPARE(part<QLineEdit>(&screen, "pathEdit")->text(), QString::fromStdString(path.string()));
  QCOMPARE(fs::file_size(path), quorvel::raw::kRecordBytes);

  press(&screen, "saveButton");
  QCOMPARE(desk->messages.last(), QString("extention length is zero.."));
  part<QLineEdit>(&screen, "extensionEdit")->setText("png");
  press(&screen, "saveButton");
  QCOMPARE(desk->messages.last(), QString("signature length is zero.."));
  part<QLineEdit>(&screen, "startSignatureEdit")->setText("0x89,0x50,0x4E,0x47");
  part<QLineEdit>(&screen, "categoryEdit")->setText("Pictures");
  press(&screen, "saveButton");
  QCOMPARE(desk->messages.last(), QString("everything initialized well....."));

  const quorvel::raw::SettingsRead read = quorvel::raw::readSettingsFile(path, quorvel::raw::SettingsOrigin::Chosen);
  QVERIFY(read.ok);
  QCOMPARE(read.records.size(), std::size_t{2});
  QCOMPARE(quorvel::raw::extensionText(read.records[0]), std::string("abc"));
  QCOMPARE(quorvel::raw::extensionText(read.records[1]), std::string("png"));
  QCOMPARE(int(read.records[1].index), 1);
  QCOMPARE(quorvel::raw::categoryText(read.records[1]), std::string("Pictures"));
}

void RawRecoveryTest::parseCarvesListsAndSaves() {
  TestDesktop desk;
  const fs::path image = quorvel::test::fixtureDir() / "carve" / "carve.img";
  quorvel::OpenImage wizardImage;
  QVERIFY(wizardImage.open(image.string()));
  quorvel::VolumeRecord volume;
  volume.kind = "RAW";
  volume.label = "0";
  volume.sizeBytes = fs::file_size(image);
  volume.sizeText = "2";
  wizardImage.choose(volume);

  RawRecoveryDialog screen(wizardImage, nullptr);
  screen.show();
  QCOMPARE(screen.windowTitle(), QString("Quorvel Draxmoor v22.0"));
  QVERIFY(part<QCheckBox>(&screen, "loadDefaultCheck")->isChecked());
  QCOMPARE(part<QLineEdit>(&screen, "pathEdit")->text(),
           QString::fromStdString(quorvel::raw::defaultSettingsPath().string()));
  QVERIFY(!part<QWidget>(&screen, "pauseButton")->isVisible());

  // Only the default file: a path box naming it too would load it twice.
  part<QLineEdit>(&screen, "pathEdit")->clear();
  press(&screen, "parseButton");
  QVERIFY(waitForJob(&screen));
  QCOMPARE(desk->plainMessages, QStringList{"done.."});
  QCOMPARE(part<QLabel>(&screen, "statusLine")->text(), QString("Processing done"));
  QVERIFY(part<QPushButton>(&screen, "backButton")->isEnabled());
  QVERIFY(part<QPushButton>(&screen, "settingButton")->isEnabled());
  // The settings may be changed for the next Parse.
  QVERIFY(part<QLineEdit>(&screen, "pathEdit")->isEnabled());
  QVERIFY(part<QPushButton>(&screen, "browseSettingsButton")->isEnabled());

  auto* tree = part<QTreeView>(&screen, "resultsTree");
  QAbstractItemModel* model = tree->model();
  QCOMPARE(model->rowCount(), 1);
  const QModelIndex root = model->index(0, 0);
  QCOMPARE(model->data(root).toString(), QString("RAW RECOVERY "));
  QModelIndex pictures;
  for (int row = 0; row < model->rowCount(root); ++row)
    if (model->data(model->index(row, 0, root)).toString().startsWith("Pictures ("))
      pictures = model->index(row, 0, root);
  QVERIFY(pictures.isValid());
  const std::vector<Planted> planted = plantedPictures(image);
  QVERIFY(planted.size() >= 6);
  QVERIFY(model->rowCount(pictures) >= static_cast<int>(planted.size()));
  QVERIFY(model->data(pictures).toString().endsWith(QString(" (%1)").arg(model->rowCount(pictures))));

  // The category lists its files; "RAW RECOVERY " lists nothing.
  tree->clicked(root);
  QCOMPARE(part<QTableView>(&screen, "fileList")->model()->rowCount(), 0);
  tree->clicked(pictures);
  QCOMPARE(part<QTableView>(&screen, "fileList")->model()->rowCount(), model->rowCount(pictures));
  QCOMPARE(part<QTableView>(&screen, "fileList")->model()->headerData(0, Qt::Horizontal).toString(),
           QString("FILES LIST "));

  // Nothing checked: a message; then the category checked and saved.
  press(&screen, "saveButton");
  QCOMPARE(desk->messages.last(), QString("Please Select item from tree to save"));
  QVERIFY(model->setData(pictures, Qt::Checked, Qt::CheckStateRole));
  quorvel::test::TempFolder out;
  part<QLineEdit>(&screen, "outputEdit")->setText(QString::fromStdString(out.path().string()));
  press(&screen, "saveButton");
  QVERIFY(waitForJob(&screen));
  QCOMPARE(desk->plainMessages.last(), QString("work done"));
  for (const Planted& p : planted) {
    const fs::path file = out.path() / (std::to_string(p.offset) + " ." + p.extension);
    QVERIFY2(fs::exists(file), file.c_str());
    QVERIFY2(quorvel::test::readWhole(file) == p.bytes, file.c_str());
  }

  // A second Parse runs afresh with a new engine and adds a branch of its
  // own; the first branch's files still save from where they were found.
  press(&screen, "parseButton");
  QVERIFY(waitForJob(&screen));
  QCOMPARE(model->rowCount(), 2);
  QCOMPARE(model->rowCount(model->index(1, 0)), model->rowCount(root));
  quorvel::test::TempFolder again;
  part<QLineEdit>(&screen, "outputEdit")->setText(QString::fromStdString(again.path().string()));
  press(&screen, "saveButton");
  QVERIFY(waitForJob(&screen));
  for (const Planted& p : planted)
    QVERIFY(quorvel::test::readWhole(again.path() / (std::to_string(p.offset) + " ." + p.extension)) == p.bytes);
}

QTEST_MAIN(RawRecoveryTest)
#include "RawRecoveryTest.moc"
