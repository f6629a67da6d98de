#pragma once
// Which recovery modes the recovery mode screen offers for a volume's kind.
#include <string>

namespace wizard {

// The first three characters of a kind after leading white space ("  NTFS"
// gives "NTF").
std::string kindKey(const std::string& kind);

struct OfferedModes {
  bool standard = true;
  bool advanced = true;
  bool deep = true;
  bool formattedChoice = false;  // "Is Drive Formated..?" beside Advanced
};

// The kind is the one whose texts begin with the same key, letter case
// ignored; its modes and advanced inputs decide. Unknown kinds are offered
// every mode.
OfferedModes offeredModes(const std::string& kind);

}  // namespace wizard
