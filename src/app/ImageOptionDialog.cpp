#include "ImageOptionDialog.h"

#include "ui_ImageOptionDialog.h"

ImageOptionDialog::ImageOptionDialog(QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::ImageOptionDialog>()) {
  ui_->setupUi(this);
}

ImageOptionDialog::~ImageOptionDialog() = default;
