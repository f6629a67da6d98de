#pragma once
// One catalogue entry as `ls --json` and `search --json` print it.
#include <string>

#include "fs/FileSystemParser.h"

namespace quorvel::cli {

std::string entryJson(const FileSystemParser& parser, EntryId id, const std::string& path, bool folder);

}  // namespace quorvel::cli
