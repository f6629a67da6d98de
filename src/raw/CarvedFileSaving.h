#pragma once
// Writes a carved file into the output folder, read from the volume in
// bounded pieces.
#include <filesystem>
#include <optional>

#include "io/VolumeView.h"
#include "raw/CarvingEngine.h"

namespace quorvel::raw {

// The written path, or none when the file could not be written whole.
std::optional<std::filesystem::path> saveCarvedFile(const VolumeView& view, const CarvedFile& file,
                                                    const std::filesystem::path& folder);

}  // namespace quorvel::raw
