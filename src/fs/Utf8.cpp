#include "fs/Utf8.h"

#include "fs/Utf16.h"

namespace quorvel {

std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& codePoint) {
  if (i >= text.size()) return 0;
  const auto c = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  char32_t minimum = 0;
  char32_t cp = 0;
  if (c < 0x80) length = 1, cp = c;
  else if (c >= 0xC2 && c <= 0xDF) length = 2, cp = c & 0x1F, minimum = 0x80;
  else if (c >= 0xE0 && c <= 0xEF) length = 3, cp = c & 0x0F, minimum = 0x800;
  else if (c >= 0xF0 && c <= 0xF4) length = 4, cp = c & 0x07, minimum = 0x10000;
  else return 0;
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  codePoint = cp;
  return length;
}

std::string validUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t length = decodeUtf8(text, i, cp);
    if (length) out.append(text.substr(i, length));
    else appendUtf8(out, 0xFFFD);
    i += length ? length : 1;
  }
  return out;
}

}  // namespace quorvel
