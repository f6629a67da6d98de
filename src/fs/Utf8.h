#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// Decodes the UTF-8 character at text[i] into codePoint: its length in
// bytes, or 0 when the bytes there are not valid UTF-8.
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& codePoint);

// UTF-8 to UTF-32 wide text (wchar_t is 32 bits on Linux); invalid bytes
// become U+FFFD, so damaged names still compare.
std::wstring utf8ToWide(const std::string& text);

}  // namespace quorvel
