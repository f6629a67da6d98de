#include "logic/RecoveryModeRules.h"

#include "fs/FileSystemKinds.h"

namespace wizard {

OfferedModes offeredModes(std::optional<quorvel::FileSystemId> kind) {
  OfferedModes modes;
  if (!kind) return modes;
  const quorvel::FileSystemKind& row = quorvel::fileSystemKind(*kind);
  modes.advanced = row.offers(quorvel::RecoveryMode::Advanced);
  modes.deep = row.offers(quorvel::RecoveryMode::Deep);
  modes.formattedChoice = modes.advanced && row.advanced.formattedFlag;
  return modes;
}

}  // namespace wizard
