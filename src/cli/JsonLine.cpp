#include "cli/JsonLine.h"

#include <cstdio>

#include "fs/Utf8.h"

namespace quorvel::cli {


std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      char32_t ignored = 0;
      const std::size_t length = decodeUtf8(text, i, ignored);
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

JsonLine& JsonLine::field(std::string_view name, std::uint64_t value) {
  key(name);
  text_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::fieldOrNull(std::string_view name, const std::optional<std::string>& value) {
  if (value) return field(name, std::string_view(*value));
  key(name);
  text_ += "null";
  return *this;
}

JsonLine& JsonLine::field(std::string_view name, bool value) {
  key(name);
  text_ += value ? "true" : "false";
  return *this;
}

}  // namespace quorvel::cli
