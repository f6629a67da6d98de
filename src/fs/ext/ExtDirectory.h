#pragma once
// The names in one directory block: the live entries, and the removed ones
// still standing in the slack that a live entry's record length covers.
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "io/Endian.h"

namespace quorvel::extfmt {

struct DirectoryName {
  std::uint32_t inode = 0;
  std::string_view name;   // raw bytes
  std::uint8_t fileType = 0;
  bool removed = false;    // found in slack
};

struct DirectoryBlockWalk {
  bool fileTypes = true;       // entries carry a file type
  bool searchSlack = true;     // false for a hashed directory's index root
  std::uint32_t inodeCount = 0;
};

// Calls visit for every name but "." and ".." in block order. A damaged
// entry (record length 0, odd, running past the block, shorter than its
// name) ends the walk of the block.
void walkDirectoryBlock(Bytes block, const DirectoryBlockWalk& how, const std::function<void(const DirectoryName&)>& visit);

// The folder whose first block this is: "." naming it, ".." after it; none
// for any other block.
std::optional<std::uint32_t> folderOfFirstBlock(Bytes block, bool fileTypes);

}  // namespace quorvel::extfmt
