#pragma once
#include <cstddef>
#include <string>

#include "io/Endian.h"

namespace quorvel {

// Decodes little-endian UTF-16 to UTF-8, stopping at the first zero unit or
// after maxUnits units. Unpaired surrogates become U+FFFD, so damaged names
// still come out as valid text.
std::string utf16leToUtf8(Bytes bytes, std::size_t maxUnits);

// Appends one code point as UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace quorvel
