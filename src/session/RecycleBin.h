#pragma once
// Gives recycle-bin data files ("$R...") back the names their index files
// ("$I...") recorded. Reads through the parser; writes nothing anywhere.
#include <optional>
#include <string>

#include "fs/FileSystemParser.h"

namespace quorvel {

// The former file name an index file records: the part of its stored path
// after the last backslash. Both layouts: version 1 (path at byte 24) and
// version 2 (name length at 24, path at 28). None for content too short.
std::optional<std::string> formerNameFromIndexFile(Bytes content);

// Renames the data files in the top-level "$RECYCLE.BIN" or "$RECYCLEBIN"
// folder (in its per-user sub-folders where the parser says so). Returns
// how many entries were renamed.
int restoreRecycleBinNames(FileSystemParser& parser);

}  // namespace quorvel
