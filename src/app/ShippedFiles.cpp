#include "ShippedFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString shippedFile(const QString& belowShare, const QString& belowData) {
  const QFileInfo installed(QDir(QCoreApplication::applicationDirPath() + "/../share").filePath(belowShare));
  if (installed.exists()) return installed.absoluteFilePath();
  return QDir(QStringLiteral(QUORVEL_DATA_DIR)).filePath(belowData);
}
