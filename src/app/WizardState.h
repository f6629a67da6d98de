#pragma once
// What every screen of the wizard shares for the life of the process. The
// image itself is handed from screen to screen (WizardScreen::image).
#include <QString>

namespace quorvel {
class OpenImage;
}

struct WizardState {
  bool driveFormatted = false;        // "Is Drive Formated..?"
  bool diskImageMode = false;         // "HDD IMAGE " was chosen
  QString rootFolderName = "ROOT";    // the synthetic top folder of a recovered tree
  QString searchText;
};

WizardState& wizardState();

inline constexpr const char* kApplicationTitle = "Quorvel Draxmoor v22.0";

// Opens the image at a path the user chose, replacing what was open. False
// when it cannot be opened; the user has then been told "invalid handle ...".
bool openImageFile(quorvel::OpenImage& image, const QString& path);
