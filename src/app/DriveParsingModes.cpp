#include "DriveParsingModes.h"

#include <QRegularExpressionValidator>

#include "PopulateDriveDlg.h"
#include "WizardState.h"
#include "session/OpenImage.h"
#include "logic/DriveParsingRules.h"
#include "ui_DriveParsingModes.h"

DriveParsingModes::DriveParsingModes(quorvel::OpenImage& image, const QString& imagePath, QWidget* parent)
    : WizardScreen(image, parent), ui_(std::make_unique<Ui::DriveParsingModes>()), imagePath_(imagePath) {
  ui_->setupUi(this);
  setUpHelp(ui_->helpButton, ui_->link);
  auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);
  ui_->startEdit->setValidator(digits);
  ui_->endEdit->setValidator(digits);
  setSectorRangeEnabled(false);

  // An image already open is replaced by this one, so that a path that
  // cannot be opened is reported here.
  if (image.isOpen()) openImageFile(image, imagePath_);
  ui_->selectedDrive->setText(imagePath_);
  selectStandardScan();

  connect(ui_->standardScanRadio, &QRadioButton::clicked, this, &DriveParsingModes::selectStandardScan);
  connect(ui_->advanceScanRadio, &QRadioButton::clicked, this, &DriveParsingModes::selectAdvanceScan);
  connect(ui_->customCheck, &QCheckBox::toggled, this, &DriveParsingModes::setSectorRangeEnabled);
  connect(ui_->backButton, &QPushButton::clicked, this, &WizardScreen::goBack);
  connect(ui_->nextButton, &QPushButton::clicked, this, &DriveParsingModes::next);
}

DriveParsingModes::~DriveParsingModes() = default;

void DriveParsingModes::setSectorRangeEnabled(bool enabled) {
  ui_->startCaption->setEnabled(enabled);
  ui_->startEdit->setEnabled(enabled);
  ui_->endCaption->setEnabled(enabled);
  ui_->endEdit->setEnabled(enabled);
}

void DriveParsingModes::selectStandardScan() {
  ui_->standardScanRadio->setChecked(true);
  ui_->advanceScanRadio->setChecked(false);
  ui_->doNotSkipCheck->setEnabled(false);
  ui_->customCheck->setEnabled(false);
  // The range stays ticked and is still handed on; only its edits rest.
  if (ui_->customCheck->isChecked()) setSectorRangeEnabled(false);
}

void DriveParsingModes::selectAdvanceScan() {
  ui_->standardScanRadio->setChecked(false);
  ui_->advanceScanRadio->setChecked(true);
  ui_->doNotSkipCheck->setEnabled(true);
  ui_->customCheck->setEnabled(true);
  if (ui_->customCheck->isChecked()) setSectorRangeEnabled(true);
}

void DriveParsingModes::next() {
  wizard::DriveParsingChoices choices;
  choices.imagePath = imagePath_.toStdString();
  choices.standardScan = ui_->standardScanRadio->isChecked();
  choices.gpt = ui_->gptCheck->isChecked();
  choices.doNotSkip = ui_->doNotSkipCheck->isChecked();
  choices.customSetting = ui_->customCheck->isChecked();
  choices.startText = ui_->startEdit->text().toStdString();
  choices.endText = ui_->endEdit->text().toStdString();
  openNext(new PopulateDriveDlg(image(), wizard::volumeListRequest(choices), this));
}
