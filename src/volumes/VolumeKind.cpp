#include "volumes/VolumeKind.h"

namespace quorvel {

void setKindFound(VolumeRecord& volume, const Sniffed& sniffed) {
  volume.kind = sniffed.found.kindText;
  volume.fileSystem.reset();
  if (sniffed.kind) volume.fileSystem = sniffed.kind->id;
  volume.kindUnknown = sniffed.kind == nullptr;
}

void setKindNamed(VolumeRecord& volume, std::string text) {
  volume.fileSystem = fileSystemNamed(text);
  volume.kind = std::move(text);
  volume.kindUnknown = false;
}

}  // namespace quorvel
