#pragma once
// Which recovery modes the recovery mode screen offers for a volume's kind.
#include <optional>

#include "fs/FileSystemId.h"

namespace wizard {

struct OfferedModes {
  bool standard = true;
  bool advanced = true;
  bool deep = true;
  bool formattedChoice = false;  // "Is Drive Formated..?" beside Advanced
};

// The kind's registry row decides: its modes, and its advanced inputs
// whether the drive may be called formatted. A volume of no kind is offered
// every mode; the scan then says why it cannot read it.
OfferedModes offeredModes(std::optional<quorvel::FileSystemId> kind);

}  // namespace wizard
