#include "VolumeOperations.h"

#include "RecoveryModeScreen.h"
#include "session/OpenImage.h"
#include "ui_VolumeOperations.h"

VolumeOperations::VolumeOperations(quorvel::OpenImage& image, const quorvel::VolumeRecord& probe,
                                   const QString& imagePath, QWidget* parent)
    : WizardScreen(image, parent), ui_(std::make_unique<Ui::VolumeOperations>()) {
  ui_->setupUi(this);
  setUpHelp(ui_->helpButton, ui_->link);
  volume_.kind = probe.kind;
  volume_.fileSystem = probe.fileSystem;
  volume_.kindUnknown = probe.kindUnknown;
  volume_.label = probe.label;
  volume_.sizeText = probe.sizeText;
  volume_.sizeBytes = probe.sizeBytes;
  volume_.startSector = probe.startSector;
  volume_.volumeName = "Unknown";
  ui_->selectedValue->setText(imagePath);
  ui_->nameValue->setText(QString::fromStdString(volume_.volumeName));
  ui_->kindValue->setText(QString::fromStdString(volume_.kind));
  ui_->sizeValue->setText(QString::fromStdString(volume_.sizeText));
  connect(ui_->backButton, &QPushButton::clicked, this, &WizardScreen::goBack);
  connect(ui_->nextButton, &QPushButton::clicked, this, &VolumeOperations::next);
}

VolumeOperations::~VolumeOperations() = default;

void VolumeOperations::next() {
  image().choose(volume_);
  auto* mode = new RecoveryModeScreen(image(), this);
  mode->setOpener(Opener::VolumeInformation);
  openNext(mode);
}
