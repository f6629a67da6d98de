#include "ApplicationIcon.h"

#include <QFileInfo>

#include "ShippedFiles.h"

QIcon applicationIcon() {
  const QString path = shippedFile("icons/hicolor/scalable/apps/quorvel.svg", "quorvel.svg");
  // A QIcon of a missing file is not null, it just draws nothing.
  return QFileInfo::exists(path) ? QIcon(path) : QIcon();
}
