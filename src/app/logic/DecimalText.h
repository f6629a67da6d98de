#pragma once
// Numbers typed into the screens' edits or shown in the volume list's cells.
#include <cstdint>
#include <string>
#include <string_view>

namespace wizard {

// The leading decimal number of a text: white space, an optional sign, then
// digits ("300   MB" reads as 300). Text without a number reads as 0; a
// number too large for 64 bits reads as the nearest 64-bit value.
std::int64_t readDecimal(std::string_view text);

// "%lld"
std::string decimalText(std::int64_t value);

}  // namespace wizard
