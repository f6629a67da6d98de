#include "cli/JsonLine.h"

#include <cstdio>

namespace quorvel::cli {

namespace {
// Length of the valid UTF-8 sequence starting at text[i], or 0.
std::size_t utf8Length(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (c >= 0xC2 && c <= 0xDF) length = 2, minimum = 0x80;
  else if (c >= 0xE0 && c <= 0xEF) length = 3, minimum = 0x800;
  else if (c >= 0xF0 && c <= 0xF4) length = 4, minimum = 0x10000;
  else return 0;
  if (i + length > text.size()) return 0;
  char32_t cp = c & (0x3F >> (length - 1));
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}
}  // namespace

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = utf8Length(text, i);
      if (length == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  return out + "\"";
}

void JsonLine::key(std::string_view name) {
  if (text_.size() > 1) text_ += ',';
  text_ += jsonString(name);
  text_ += ':';
}

JsonLine& JsonLine::field(std::string_view name, std::string_view value) {
  key(name);
  text_ += jsonString(value);
  return *this;
}

JsonLine& JsonLine::field(std::string_view name, std::int64_t value) {
  key(name);
  text_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::field(std::string_view name, bool value) {
  key(name);
  text_ += value ? "true" : "false";
  return *this;
}

}  // namespace quorvel::cli
