#pragma once
#include <optional>
#include <string>
#include <vector>

#include "io/ImageBackend.h"

namespace quorvel {

// The parts of a split raw image that `path` belongs to, in order: a name
// ending in .000 or .001 (or a later number of the same set) whose
// numbered siblings exist. None when the name is no part of such a set
// (a lone "disk.001" is a plain image).
std::optional<std::vector<std::string>> splitRawParts(const std::string& path, std::string& missingPart);

// The parts read as one disk, one after the other.
ImageOpening openSplitRawImage(const std::vector<std::string>& parts);

}  // namespace quorvel
