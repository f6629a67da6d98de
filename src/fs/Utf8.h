#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// Decodes the UTF-8 character at text[i] into codePoint: its length in
// bytes, or 0 when the bytes there are not valid UTF-8.
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& codePoint);

// The text with every byte that is not part of valid UTF-8 replaced by
// U+FFFD, so that damaged names still compare as text.
std::string validUtf8(std::string_view text);

}  // namespace quorvel
