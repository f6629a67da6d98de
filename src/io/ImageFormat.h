#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "io/ImageBackend.h"

namespace quorvel {

// Container formats told by their content; split raw is told by its name.
enum class ImageFormat { Raw, Ewf, Vhd, Vhdx, Vmdk, Qcow };

// The container format of an image from its first and last bytes (a fixed
// VHD carries its footer only at the end). Raw when nothing matches.
ImageFormat detectImageFormat(std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail);

// Opens any image the system reads, read-only: a plain file or block
// device, a split raw set (from the name), or a container format (from the
// content).
ImageOpening openImage(const std::string& path);

}  // namespace quorvel
