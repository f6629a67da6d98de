#include "cli/JsonLine.h"


#include "fs/Utf8.h"

namespace quorvel::cli {


void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  std::size_t plainFrom = 0;  // plain bytes are copied in runs, not one by one
  const auto flushPlain = [&](std::size_t upTo) {
    out.append(text.data() + plainFrom, upTo - plainFrom);
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      ++i;
      continue;
    }
    if (c >= 0x80) {
      char32_t ignored = 0;
      const std::size_t length = decodeUtf8(text, i, ignored);
      if (length != 0) {
        i += length;
        continue;
      }
      flushPlain(i);
      out += "\xEF\xBF\xBD";
    } else {
      flushPlain(i);
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
          static constexpr char kHex[] = "0123456789abcdef";
          const char escaped[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
          out.append(escaped, sizeof escaped);
        }
      }
    }
    ++i;
    plainFrom = i;
  }
  flushPlain(text.size());
  out += '"';
}

std::string jsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  appendJsonString(out, text);
  return out;
}

void JsonLine::key(std::string_view name) {
  if (text_.size() > 1) text_ += ',';
  appendJsonString(text_, name);
  text_ += ':';
}

JsonLine& JsonLine::field(std::string_view name, std::string_view value) {
  key(name);
  appendJsonString(text_, value);
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

JsonLine& JsonLine::field(std::string_view name, const std::vector<std::string>& values) {
  key(name);
  text_ += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text_ += ',';
    appendJsonString(text_, values[i]);
  }
  text_ += ']';
  return *this;
}

JsonLine& JsonLine::field(std::string_view name, bool value) {
  key(name);
  text_ += value ? "true" : "false";
  return *this;
}

}  // namespace quorvel::cli
