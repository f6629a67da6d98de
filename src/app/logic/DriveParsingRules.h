#pragma once
// What the drive parsing mode screen's choices hand to the volume list.
#include <string>

#include "logic/VolumeListRules.h"

namespace wizard {

struct DriveParsingChoices {
  std::string imagePath;
  bool standardScan = true;  // "Standard Scan", else "Advance Scan"
  bool gpt = false;
  bool doNotSkip = false;
  bool customSetting = false;  // "Custom Setting:"
  std::string startText;       // "Starting Sector:"
  std::string endText;         // "Ending Sector:"
};

// Every option goes on in both listing modes; each mode uses its own. The
// sector range goes only with "Custom Setting:" and a non-negative end.
VolumeListRequest volumeListRequest(const DriveParsingChoices& choices);

}  // namespace wizard
