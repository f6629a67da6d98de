#pragma once

namespace quorvel {

// A file-system kind of the registry (FileSystemKinds.h): what volume
// records, the wizard's rules and the command line know a kind by. The
// texts that name it are for people; code compares these.
enum class FileSystemId { Ntfs, Fat16, Fat32, ExFat, Ext, HfsPlus };

}  // namespace quorvel
