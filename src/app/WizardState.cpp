#include "WizardState.h"

#include <QFile>

#include "DesktopServices.h"
#include "session/OpenImage.h"

WizardState& wizardState() {
  static WizardState state;
  return state;
}

bool openImageFile(quorvel::OpenImage& image, const QString& path) {
  if (image.open(QFile::encodeName(path).toStdString())) return true;
  desktop().information(nullptr, "invalid handle ...");
  return false;
}
