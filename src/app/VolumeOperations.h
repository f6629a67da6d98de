#pragma once
#include <QString>
#include <memory>

#include "WizardScreen.h"
#include "volumes/VolumeRecord.h"

namespace Ui {
class VolumeOperations;
}

// The volume information screen: what the first sector of a volume image
// was found to hold. Next takes that volume to the recovery mode screen.
class VolumeOperations : public WizardScreen {
  Q_OBJECT
 public:
  // `probe` is the source selection's probe record; the volume shown is a
  // copy named "Unknown". Next chooses it on the image.
  VolumeOperations(quorvel::OpenImage& image, const quorvel::VolumeRecord& probe, const QString& imagePath,
                   QWidget* parent);
  ~VolumeOperations() override;

  const quorvel::VolumeRecord& volume() const { return volume_; }

 private:
  void next();

  std::unique_ptr<Ui::VolumeOperations> ui_;
  quorvel::VolumeRecord volume_;
};
