#pragma once
#include <memory>

#include "WizardScreen.h"

namespace Ui {
class ImageOptionDialog;
}

// The source selection screen: the wizard's first screen.
class ImageOptionDialog : public WizardScreen {
  Q_OBJECT
 public:
  explicit ImageOptionDialog(QWidget* parent = nullptr);
  ~ImageOptionDialog() override;

 private:
  std::unique_ptr<Ui::ImageOptionDialog> ui_;
};
