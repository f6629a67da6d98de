#pragma once
// Icons of the results: the desktop's folder icon, and a file's icon by its
// name's type, so the icon follows the extension though no such file exists
// here. One lookup per type; folders with thousands of files stay quick.
#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QString>

class EntryIcons {
 public:
  QIcon folder() const;
  QIcon forFileName(const QString& name);

 private:
  QFileIconProvider provider_;
  QMimeDatabase types_;
  QHash<QString, QIcon> byType_;
};
