#include "WizardState.h"

#include <QFile>

#include "DesktopServices.h"
#include "io/FileReadSeek.h"

WizardState& wizardState() {
  static WizardState state;
  return state;
}

bool openSectorSource(quorvel::FileReadSeek& source, const QString& path) {
  if (source.open(QFile::encodeName(path).toStdString())) return true;
  desktop().information(nullptr, "invalid handle ...");
  return false;
}
