#pragma once
#include <string>

#include "io/ImageBackend.h"

namespace quorvel {

// A QCOW (version 1, 2 or 3) virtual disk, compressed clusters included,
// with its backing file found beside it. Encrypted images are refused.
ImageOpening openQcowImage(const std::string& path);

}  // namespace quorvel
