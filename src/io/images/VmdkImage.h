#pragma once
#include <string>

#include "io/ImageBackend.h"

namespace quorvel {

// A VMDK virtual disk: a sparse extent with its embedded descriptor, or a
// descriptor file with its extent files beside it; a parent named by the
// descriptor is found beside it too.
ImageOpening openVmdkImage(const std::string& path);

}  // namespace quorvel
