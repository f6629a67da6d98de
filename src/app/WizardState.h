#pragma once
// What every screen of the wizard shares for the life of the process. The
// sector source itself is quorvel::currentSource().
#include <QString>

struct WizardState {
  bool driveFormatted = false;        // "Is Drive Formated..?"
  bool diskImageMode = false;         // "HDD IMAGE " was chosen
  QString rootFolderName = "ROOT";    // the synthetic top folder of a recovered tree
  QString searchText;
};

WizardState& wizardState();

inline constexpr const char* kApplicationTitle = "Quorvel Draxmoor v22.0";
