// quorvel-screenshots OUTDIR DISK_IMAGE VOLUME_IMAGE: renders every screen of
// the wizard offscreen into OUTDIR/NN-name.png, each opened on the given
// images the way the chain opens it. A new screen is one line in shots().
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QEventLoop>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <vector>

#include "CQuorvelAboutDlg.h"
#include "DesktopServices.h"
#include "DriveParsingModes.h"
#include "ImageOptionDialog.h"
#include "RecoveryModeScreen.h"
#include "PopulateDriveDlg.h"
#include "VolumeOperations.h"
#include "RawRecoveryDialog.h"
#include "RawSettingDlg.h"
#include "VolumeScanDlg.h"
#include "WizardState.h"
#include "AdvancedInputScreen.h"
#include "session/OpenImage.h"
#include "volumes/VolumeList.h"

namespace {

// Answers the file dialog with the disk image and shows no boxes: messages
// go to stderr, so a missing image is still noticed.
class QuietDesktop : public DesktopServices {
 public:
  QString fileName;
  void information(QWidget*, const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
  void plainMessage(QWidget*, const QString& text) override { information(nullptr, text); }
  bool question(QWidget*, const QString&) override { return false; }
  QString openFileName(QWidget*, const QString&, const QString&) override { return fileName; }
  QString appendFileName(QWidget*, const QString&, const QString&) override { return {}; }
  QString existingFolder(QWidget*, const QString&) override { return {}; }
  void openPage(const QUrl&) override {}
  void endProcess(int) override {}
};

struct Images {
  QString disk;
  QString volume;
};

// Runs the event loop until `screen` emits `done`, or two minutes have passed.
template <class Screen, class Signal>
void waitFor(Screen* screen, Signal done) {
  QEventLoop loop;
  QObject::connect(screen, done, &loop, &QEventLoop::quit);
  QTimer::singleShot(120000, &loop, &QEventLoop::quit);
  loop.exec();
}

wizard::VolumeListRequest listRequest(const Images& images, wizard::ListingMode mode) {
  wizard::VolumeListRequest request;
  request.imagePath = images.disk.toStdString();
  request.mode = mode;
  return request;
}

PopulateDriveDlg* listedVolumes(ImageOptionDialog* root, const Images& images, wizard::ListingMode mode) {
  wizardState().diskImageMode = true;
  auto* list = new PopulateDriveDlg(root->image(), listRequest(images, mode), root);
  if (mode == wizard::ListingMode::Advanced) waitFor(list, &PopulateDriveDlg::listingFinished);
  if (auto* table = list->findChild<QTableWidget*>("volumeTable"); table && table->rowCount() > 0) table->selectRow(0);
  return list;
}

// Opens the volume image and chooses its volume, as the volume information
// shows it and hands it on.
quorvel::VolumeRecord probedVolume(quorvel::OpenImage& image, const Images& images) {
  quorvel::VolumeRecord probe;
  if (openImageFile(image, images.volume)) quorvel::probeVolumeImage(*image.source(), probe);
  probe.volumeName = "Unknown";
  image.choose(probe);
  return probe;
}

RecoveryModeScreen* recoveryMode(ImageOptionDialog* root, const Images& images, const char* radio) {
  probedVolume(root->image(), images);
  auto* mode = new RecoveryModeScreen(root->image(), root);
  if (auto* button = mode->findChild<QRadioButton*>(radio)) button->click();
  return mode;
}

struct Shot {
  const char* name;
  std::function<QWidget*(ImageOptionDialog* root, const Images& images)> open;
};

std::vector<Shot> shots() {
  using Root = ImageOptionDialog*;
  using I = const Images&;
  return {
      {"source-selection", [](Root root, I) { return root; }},
      {"drive-parsing-modes",
       [](Root root, I images) { return new DriveParsingModes(root->image(), images.disk, root); }},
      {"volume-list", [](Root root, I images) { return listedVolumes(root, images, wizard::ListingMode::Standard); }},
      {"volume-list-advanced",
       [](Root root, I images) { return listedVolumes(root, images, wizard::ListingMode::Advanced); }},
      {"volume-information",
       [](Root root, I images) {
         return new VolumeOperations(root->image(), probedVolume(root->image(), images), images.volume, root);
       }},
      {"recovery-mode", [](Root root, I images) { return recoveryMode(root, images, "standardRadio"); }},
      {"recovery-mode-advanced", [](Root root, I images) { return recoveryMode(root, images, "advancedRadio"); }},
      {"advanced-input",
       [](Root root, I images) {
         probedVolume(root->image(), images);
         auto* input = new AdvancedInputScreen(root->image(), 3, root);
         waitFor(input, &AdvancedInputScreen::searchFinished);
         return input;
       }},
      {"volume-scan",
       [](Root root, I images) {
         probedVolume(root->image(), images);
         auto* scan = new VolumeScanDlg(root->image(), quorvel::RecoveryMode::Standard, root);
         if (scan->jobRunning()) waitFor(scan, &VolumeScanDlg::jobFinished);
         return scan;
       }},
      {"raw-recovery",
       [](Root root, I images) {
         probedVolume(root->image(), images);
         return new RawRecoveryDialog(root->image(), root);
       }},
      {"raw-setting", [](Root root, I) { return new RawSettingDlg(root); }},
      {"about", [](Root root, I) { return new CQuorvelAboutDlg(root); }},
  };
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: quorvel-screenshots OUTDIR DISK_IMAGE VOLUME_IMAGE\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(".")) {
    std::fprintf(stderr, "quorvel-screenshots: cannot create %s\n", argv[1]);
    return 1;
  }
  const Images images{QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])};
  auto quiet = std::make_unique<QuietDesktop>();
  quiet->fileName = images.disk;
  replaceDesktopServices(std::move(quiet));

  int number = 0;
  int failed = 0;
  for (const Shot& shot : shots()) {
    quorvel::OpenImage image;
    ImageOptionDialog root(image);
    if (auto* browse = root.findChild<QAbstractButton*>("browseButton")) browse->click();
    QWidget* screen = shot.open(&root, images);
    screen->show();
    QApplication::processEvents();
    const QString file = out.filePath(QString("%1-%2.png").arg(++number, 2, 10, QChar('0')).arg(shot.name));
    if (!screen->grab().save(file)) {
      std::fprintf(stderr, "quorvel-screenshots: cannot write %s\n", qPrintable(file));
      ++failed;
      continue;
    }
    std::printf("%s\n", qPrintable(file));
  }
  return failed ? 1 : 0;
}
