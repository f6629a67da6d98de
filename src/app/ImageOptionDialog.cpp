#include "ImageOptionDialog.h"

#include "ui_ImageOptionDialog.h"

ImageOptionDialog::ImageOptionDialog(QWidget* parent)
    : WizardScreen(parent), ui_(std::make_unique<Ui::ImageOptionDialog>()) {
  ui_->setupUi(this);
  setUpHelp(ui_->helpButton, ui_->link);
}

ImageOptionDialog::~ImageOptionDialog() = default;
