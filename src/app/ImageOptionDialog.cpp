#include "ImageOptionDialog.h"

#include "DesktopServices.h"
#include "DriveParsingModes.h"
#include "VolumeOperations.h"
#include "WizardState.h"
#include "session/OpenImage.h"
#include "ui_ImageOptionDialog.h"
#include "volumes/VolumeList.h"

ImageOptionDialog::ImageOptionDialog(quorvel::OpenImage& image, QWidget* parent)
    : WizardScreen(image, parent), ui_(std::make_unique<Ui::ImageOptionDialog>()) {
  ui_->setupUi(this);
  setUpHelp(ui_->helpButton, ui_->link);
  ui_->diskImageRadio->setChecked(true);
  connect(ui_->browseButton, &QPushButton::clicked, this, &ImageOptionDialog::browse);
  connect(ui_->nextButton, &QPushButton::clicked, this, &ImageOptionDialog::next);
}

ImageOptionDialog::~ImageOptionDialog() = default;

QString ImageOptionDialog::imagePath() const { return ui_->pathEdit->text(); }

QString ImageOptionDialog::imageFileFilter() {
  return QStringLiteral(
      "All files (*);;"
      "Disk and volume images (*.img *.dd *.raw *.bin *.iso *.E01 *.e01 *.Ex01 *.ex01 *.000 *.001 *.vhd *.VHD *.vhdx "
      "*.VHDX *.vmdk *.VMDK *.qcow2 *.qcow);;"
      "E01 evidence files (*.E01 *.e01 *.Ex01 *.ex01);;"
      "Split raw images (*.000 *.001);;"
      "Virtual disks (*.vhd *.VHD *.vhdx *.VHDX *.vmdk *.VMDK *.qcow2 *.qcow)");
}

void ImageOptionDialog::browse() {
  if (!ui_->diskImageRadio->isChecked() && !ui_->volumeImageRadio->isChecked()) {
    desktop().information(this, "please select a radio button first");
    return;
  }
  // A cancelled dialog empties the path, so Next asks for one again.
  ui_->pathEdit->setText(desktop().openFileName(this, QString(), imageFileFilter()));
}

void ImageOptionDialog::next() {
  const QString path = imagePath();
  if (path.isEmpty()) {
    desktop().information(this, "Please browse File Path");
    return;
  }
  if (ui_->diskImageRadio->isChecked()) {
    wizardState().diskImageMode = true;
    auto* parsingModes = new DriveParsingModes(image(), path, this);
    parsingModes->setOpener(Opener::SourceSelection);
    openNext(parsingModes);
    return;
  }
  if (!ui_->volumeImageRadio->isChecked()) return;
  wizardState().diskImageMode = false;
  // Each image is probed afresh: a record left from an earlier image must
  // not describe this one.
  probe_ = quorvel::VolumeRecord();
  if (openImageFile(image(), path)) quorvel::probeVolumeImage(*image().source(), probe_);
  auto* information = new VolumeOperations(image(), probe_, path, this);
  information->setOpener(Opener::SourceSelection);
  openNext(information);
}
