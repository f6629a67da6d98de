#pragma once
#include <memory>

#include "WizardScreen.h"
#include "fs/FileSystemParser.h"
#include "volumes/VolumeRecord.h"

namespace Ui {
class RecoveryModeScreen;
}

// The recovery mode screen: Standard, Advanced or Deep, as far as the
// volume's kind offers them, and for FAT volumes whether the drive was
// formatted. Next goes to the advanced input screen or straight to the scan.
class RecoveryModeScreen : public WizardScreen {
  Q_OBJECT
 public:
  // For the image's chosen volume (chosen on the screen that opens this one).
  RecoveryModeScreen(quorvel::OpenImage& image, QWidget* parent);
  ~RecoveryModeScreen() override;

  const quorvel::VolumeRecord& volume() const { return volume_; }
  quorvel::RecoveryMode mode() const { return mode_; }
  // "Please Enter Max File Systems to Find :" as a number.
  int maxFileSystems() const;

 private:
  void selectStandard();
  void selectAdvanced();
  void selectDeep();
  void showAdvancedInput(bool shown);
  void next();

  std::unique_ptr<Ui::RecoveryModeScreen> ui_;
  quorvel::VolumeRecord volume_;
  quorvel::RecoveryMode mode_ = quorvel::RecoveryMode::Standard;
  bool formattedChoice_ = false;
};
