#pragma once
#include <memory>

#include "fs/FileSystemParser.h"

namespace quorvel {

// The parser of the "extX" row.
std::unique_ptr<FileSystemParser> makeExtParser();

}  // namespace quorvel
