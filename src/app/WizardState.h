#pragma once
// What every screen of the wizard shares for the life of the process. The
// sector source itself is quorvel::currentSource().
#include <QString>

namespace quorvel {
class FileReadSeek;
}

struct WizardState {
  bool driveFormatted = false;        // "Is Drive Formated..?"
  bool diskImageMode = false;         // "HDD IMAGE " was chosen
  QString rootFolderName = "ROOT";    // the synthetic top folder of a recovered tree
  QString searchText;
};

WizardState& wizardState();

inline constexpr const char* kApplicationTitle = "Quorvel Draxmoor v22.0";

// Opens a sector source on a path the user chose. False when it cannot be
// opened; the user has then been told "invalid handle ...".
bool openSectorSource(quorvel::FileReadSeek& source, const QString& path);
