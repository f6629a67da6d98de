#pragma once
#include <string>

#include "io/ImageBackend.h"

namespace quorvel {

// An EWF (E01) evidence file and the segments that follow it (.E02 …),
// found from the first segment's name.
ImageOpening openEwfImage(const std::string& path);

}  // namespace quorvel
