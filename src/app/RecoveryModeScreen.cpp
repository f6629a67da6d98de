#include "RecoveryModeScreen.h"

#include <QRegularExpressionValidator>
#include <algorithm>
#include <climits>

#include "VolumeScanDlg.h"
#include "WizardState.h"
#include "AdvancedInputScreen.h"
#include "logic/DecimalText.h"
#include "logic/RecoveryModeRules.h"
#include "session/OpenImage.h"
#include "ui_RecoveryModeScreen.h"

RecoveryModeScreen::RecoveryModeScreen(quorvel::OpenImage& image, QWidget* parent)
    : WizardScreen(image, parent),
      ui_(std::make_unique<Ui::RecoveryModeScreen>()),
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

  connect(ui_->standardRadio, &QRadioButton::clicked, this, &RecoveryModeScreen::selectStandard);
  connect(ui_->advancedRadio, &QRadioButton::clicked, this, &RecoveryModeScreen::selectAdvanced);
  connect(ui_->deepRadio, &QRadioButton::clicked, this, &RecoveryModeScreen::selectDeep);
  connect(ui_->formattedCheck, &QCheckBox::toggled, this, [](bool ticked) { wizardState().driveFormatted = ticked; });
  connect(ui_->backButton, &QPushButton::clicked, this, &WizardScreen::goBack);
  connect(ui_->nextButton, &QPushButton::clicked, this, &RecoveryModeScreen::next);
}

RecoveryModeScreen::~RecoveryModeScreen() = default;

int RecoveryModeScreen::maxFileSystems() const {
  const std::int64_t value = wizard::readDecimal(ui_->maxEdit->text().toStdString());
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

void RecoveryModeScreen::showAdvancedInput(bool shown) {
  ui_->maxCaption->setVisible(shown);
  ui_->maxEdit->setVisible(shown);
  ui_->maxNote->setVisible(shown);
}

// Every choice of mode starts with the drive taken as not formatted.
void RecoveryModeScreen::selectStandard() {
  wizardState().driveFormatted = false;
  ui_->formattedCheck->setChecked(false);
  showAdvancedInput(false);
  ui_->formattedCheck->hide();
  ui_->standardRadio->setChecked(true);
  mode_ = quorvel::RecoveryMode::Standard;
}

void RecoveryModeScreen::selectAdvanced() {
  wizardState().driveFormatted = false;
  ui_->formattedCheck->setChecked(false);
  showAdvancedInput(true);
  ui_->advancedRadio->setChecked(true);
  ui_->formattedCheck->setVisible(formattedChoice_);
  mode_ = quorvel::RecoveryMode::Advanced;
}

void RecoveryModeScreen::selectDeep() {
  wizardState().driveFormatted = false;
  ui_->formattedCheck->setChecked(false);
  showAdvancedInput(false);
  ui_->formattedCheck->hide();
  ui_->deepRadio->setChecked(true);
  mode_ = quorvel::RecoveryMode::Deep;
}

void RecoveryModeScreen::next() {
  if (mode_ == quorvel::RecoveryMode::Advanced) {
    openNext(new AdvancedInputScreen(image(), maxFileSystems(), this));
    return;
  }
  openNext(new VolumeScanDlg(image(), mode_, this));
}
