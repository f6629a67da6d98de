#include "ParceModeNtfsDlg.h"

#include <QRegularExpressionValidator>
#include <algorithm>
#include <climits>

#include "VolumeScanDlg.h"
#include "WizardState.h"
#include "advanceOptions.h"
#include "logic/DecimalText.h"
#include "logic/RecoveryModeRules.h"
#include "session/OpenImage.h"
#include "ui_ParceModeNtfsDlg.h"

ParceModeNtfsDlg::ParceModeNtfsDlg(quorvel::OpenImage& image, QWidget* parent)
    : WizardScreen(image, parent),
      ui_(std::make_unique<Ui::ParceModeNtfsDlg>()),
      volume_(image.chosen().value_or(quorvel::VolumeRecord())) {
  ui_->setupUi(this);
  setUpHelp(ui_->helpButton, ui_->link);
  ui_->nextButton->setText("Next");
  ui_->backButton->setText("Back");
  ui_->maxEdit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this));
  ui_->maxEdit->setText("3");
  showAdvancedInput(false);
  ui_->formattedCheck->hide();

  const wizard::OfferedModes offered = wizard::offeredModes(volume_.fileSystem);
  ui_->advancedRadio->setVisible(offered.advanced);
  ui_->deepRadio->setVisible(offered.deep);
  formattedChoice_ = offered.formattedChoice;
  selectStandard();

  connect(ui_->standardRadio, &QRadioButton::clicked, this, &ParceModeNtfsDlg::selectStandard);
  connect(ui_->advancedRadio, &QRadioButton::clicked, this, &ParceModeNtfsDlg::selectAdvanced);
  connect(ui_->deepRadio, &QRadioButton::clicked, this, &ParceModeNtfsDlg::selectDeep);
  connect(ui_->formattedCheck, &QCheckBox::toggled, this, [](bool ticked) { wizardState().driveFormatted = ticked; });
  connect(ui_->backButton, &QPushButton::clicked, this, &WizardScreen::goBack);
  connect(ui_->nextButton, &QPushButton::clicked, this, &ParceModeNtfsDlg::next);
}

ParceModeNtfsDlg::~ParceModeNtfsDlg() = default;

int ParceModeNtfsDlg::maxFileSystems() const {
  const std::int64_t value = wizard::readDecimal(ui_->maxEdit->text().toStdString());
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

void ParceModeNtfsDlg::showAdvancedInput(bool shown) {
  ui_->maxCaption->setVisible(shown);
  ui_->maxEdit->setVisible(shown);
  ui_->maxNote->setVisible(shown);
}

// Every choice of mode starts with the drive taken as not formatted.
void ParceModeNtfsDlg::selectStandard() {
  wizardState().driveFormatted = false;
  ui_->formattedCheck->setChecked(false);
  showAdvancedInput(false);
  ui_->formattedCheck->hide();
  ui_->standardRadio->setChecked(true);
  mode_ = quorvel::RecoveryMode::Standard;
}

void ParceModeNtfsDlg::selectAdvanced() {
  wizardState().driveFormatted = false;
  ui_->formattedCheck->setChecked(false);
  showAdvancedInput(true);
  ui_->advancedRadio->setChecked(true);
  ui_->formattedCheck->setVisible(formattedChoice_);
  mode_ = quorvel::RecoveryMode::Advanced;
}

void ParceModeNtfsDlg::selectDeep() {
  wizardState().driveFormatted = false;
  ui_->formattedCheck->setChecked(false);
  showAdvancedInput(false);
  ui_->formattedCheck->hide();
  ui_->deepRadio->setChecked(true);
  mode_ = quorvel::RecoveryMode::Deep;
}

void ParceModeNtfsDlg::next() {
  if (mode_ == quorvel::RecoveryMode::Advanced) {
    openNext(new advanceOptions(image(), maxFileSystems(), this));
    return;
  }
  openNext(new VolumeScanDlg(image(), mode_, this));
}
