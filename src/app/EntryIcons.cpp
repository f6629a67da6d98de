#include "EntryIcons.h"

#include <QMimeType>

QIcon EntryIcons::folder() const { return provider_.icon(QAbstractFileIconProvider::Folder); }

QIcon EntryIcons::forFileName(const QString& name) {
  const QMimeType type = types_.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
  const auto known = byType_.constFind(type.name());
  if (known != byType_.constEnd()) return *known;
  QIcon icon = QIcon::fromTheme(type.iconName());
  if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
  if (icon.isNull()) icon = provider_.icon(QAbstractFileIconProvider::File);
  byType_.insert(type.name(), icon);
  return icon;
}
