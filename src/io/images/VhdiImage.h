#pragma once
#include <string>

#include "io/ImageBackend.h"

namespace quorvel {

// A VHD or VHDX virtual disk: fixed, dynamic, or differencing with its
// parent found beside it. `kind` names the format in messages.
ImageOpening openVhdiImage(const std::string& path, const std::string& kind);

}  // namespace quorvel
