#pragma once
// The program's window icon, which every screen and message box shows.
#include <QIcon>

// Null when the icon file is missing.
QIcon applicationIcon();
