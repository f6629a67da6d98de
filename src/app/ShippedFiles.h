#pragma once
// Files the program ships, such as its help pages and its icon: installed
// below share/ beside the program's bin/ folder, or in data/ of the sources
// it was built from.
#include <QString>

// The installed copy when there is one, else the one in the sources (whether
// or not that exists).
QString shippedFile(const QString& belowShare, const QString& belowData);
