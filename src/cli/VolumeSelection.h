#pragma once
// How a command names the volume it reads and the recovery mode, shared by
// ls, save, search and candidates.
#include <cstdint>
#include <optional>
#include <string>

#include "fs/FileSystemParser.h"
#include "volumes/VolumeRecord.h"

namespace CLI {
class App;
}
namespace quorvel {
class OpenImage;
}

namespace quorvel::cli {

struct VolumeSelection {
  std::string image;
  // --volume LABEL, from the standard listing (or --gpt / --advanced)
  std::optional<std::string> label;
  bool gpt = false;
  bool advancedListing = false;
  // --start-sector N --kind KIND [--size-mib M]
  std::optional<std::int64_t> startSector;
  std::string kind;
  std::int64_t sizeMiB = 0;
  // --volume-image
  bool volumeImage = false;

  std::string mode = "standard";
  AdvancedChoices advanced;
};

// Adds IMAGE and the selection and mode options to a command.
void addSelectionOptions(CLI::App& command, VolumeSelection& selection, bool withMode);

RecoveryMode recoveryMode(const VolumeSelection& selection);

// Chooses the selected volume of the open image (listing its volumes when the
// selection names one by label). False after saying why on stderr.
bool chooseVolume(OpenImage& image, const VolumeSelection& selection);

}  // namespace quorvel::cli
