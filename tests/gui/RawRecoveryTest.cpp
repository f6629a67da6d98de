// The raw recovery screen driven over the carving fixture with the
// program's own settings file beside the test: Parse carves, the tree groups
// the carved files by category, a category lists its files, Save writes the
// checked ones byte-equal, and a second Parse adds a branch of its own.
#include <QCheckBox>
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

}  // namespace

class RawRecoveryTest : public QObject {
  Q_OBJECT
 private slots:
  void parseCarvesListsAndSaves();
  void settingScreenAppendsToAChosenFile();
};

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
  QVERIFY(!part<QLineEdit>(&screen, "pathEdit")->isEnabled());
  QVERIFY(!part<QPushButton>(&screen, "browseSettingsButton")->isEnabled());

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
