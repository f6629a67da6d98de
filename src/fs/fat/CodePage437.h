#pragma once
// Short FAT names are stored in the OEM code page; 437 is what DOS, Windows
// and mtools use by default.
#include <cstdint>
#include <string>

#include "io/Endian.h"

namespace quorvel {

char32_t codePage437ToUnicode(std::uint8_t byte);
std::string codePage437ToUtf8(Bytes bytes);

}  // namespace quorvel
