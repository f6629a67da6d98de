#pragma once
#include <string>

#include "io/ImageBackend.h"

namespace quorvel {

// A plain image file or a block device, read with pread.
ImageOpening openRawImage(const std::string& path);

// An already opened descriptor of a plain file or block device; the backend
// owns it. Shared by the split raw set, one per part.
std::unique_ptr<ImageBackend> rawImageOnDescriptor(int fd, std::uint64_t size);

// The size of an open file or block device; false for a folder.
bool sizeOfDescriptor(int fd, std::uint64_t& size, int& errorNumber);

}  // namespace quorvel
