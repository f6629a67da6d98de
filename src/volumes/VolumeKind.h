#pragma once
// How a volume record gets its kind: the text the list shows and the
// registry kind it is read as always come together.
#include <string>

#include "fs/FileSystemKinds.h"
#include "volumes/VolumeRecord.h"

namespace quorvel {

// The kind a sniff recognised: its text, and its registry kind or, for a
// damaged boot sector ("UNKNOWN"), the mark of an unknown kind.
void setKindFound(VolumeRecord& volume, const Sniffed& sniffed);

// A kind a user typed or picked (the command line's --kind, the volume
// list's "Treat file system as:"): shown as given, read as the registry
// kind the text names, none when it names no kind.
void setKindNamed(VolumeRecord& volume, std::string text);

}  // namespace quorvel
