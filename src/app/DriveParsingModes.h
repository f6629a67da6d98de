#pragma once
#include <QString>
#include <memory>

#include "WizardScreen.h"

namespace Ui {
class DriveParsingModes;
}

// The drive parsing mode screen: how the volumes of a disk image are found,
// by its partition tables or by the advanced sector scan.
class DriveParsingModes : public WizardScreen {
  Q_OBJECT
 public:
  DriveParsingModes(quorvel::OpenImage& image, const QString& imagePath, QWidget* parent);
  ~DriveParsingModes() override;

 private:
  void selectStandardScan();
  void selectAdvanceScan();
  void setSectorRangeEnabled(bool enabled);
  void next();

  std::unique_ptr<Ui::DriveParsingModes> ui_;
  QString imagePath_;
};
