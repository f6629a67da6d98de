#pragma once
#include <QString>
#include <memory>

#include "WizardScreen.h"
#include "volumes/VolumeRecord.h"

namespace Ui {
class ImageOptionDialog;
}

// The source selection screen, the wizard's first: a whole-disk image goes
// on to the drive parsing mode, a volume image to the volume information.
class ImageOptionDialog : public WizardScreen {
  Q_OBJECT
 public:
  explicit ImageOptionDialog(quorvel::OpenImage& image, QWidget* parent = nullptr);
  ~ImageOptionDialog() override;

  QString imagePath() const;
  // The open dialog's filter: every file first (raw images carry any name),
  // then the image formats the sector source reads.
  static QString imageFileFilter();
  // What the first sector of the last volume image was found to hold.
  const quorvel::VolumeRecord& probeRecord() const { return probe_; }

 private:
  void browse();
  void next();

  std::unique_ptr<Ui::ImageOptionDialog> ui_;
  quorvel::VolumeRecord probe_;
};
