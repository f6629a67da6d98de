#pragma once
// Writes a carved file into the output folder, read from the volume in
// bounded pieces.
#include <filesystem>
#include <string>

#include "io/VolumeView.h"
#include "raw/CarvingEngine.h"

namespace quorvel::raw {

struct CarvedFileWritten {
  bool whole = false;
  // Why not: the path and the system's reason, or the bytes that could not be read.
  std::string failure;
};

// Writes `file` as `name` in `folder` (created or replaced); `name` must be
// a plain name that stays in the folder.
CarvedFileWritten saveCarvedFile(const VolumeView& view, const CarvedFile& file, const std::filesystem::path& folder,
                                 const std::string& name);

}  // namespace quorvel::raw
