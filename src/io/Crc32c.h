#pragma once
// CRC-32C (Castagnoli), the checksum ext4 and its journal put on their
// structures. The register is updated as those structures chain it: no
// inversion on entry or exit, so callers seed with ~0 and chain further.
#include <cstdint>

#include "io/Endian.h"

namespace quorvel {

std::uint32_t crc32cUpdate(std::uint32_t crc, Bytes bytes);

}  // namespace quorvel
