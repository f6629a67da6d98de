#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::cli {

// Builds one JSON object on one line, for JSON Lines output.
class JsonLine {
 public:
  JsonLine& field(std::string_view name, std::string_view value);
  JsonLine& field(std::string_view name, const char* value) { return field(name, std::string_view(value)); }
  JsonLine& field(std::string_view name, std::int64_t value);
  JsonLine& field(std::string_view name, std::uint64_t value);
  JsonLine& field(std::string_view name, bool value);
  JsonLine& field(std::string_view name, const std::vector<std::string>& values);  // an array of strings
  // The text, or null when there is none.
  JsonLine& fieldOrNull(std::string_view name, const std::optional<std::string>& value);
  JsonLine() { text_.reserve(384); }  // one listing row without regrowing
  std::string str() const { return text_ + "}"; }

 private:
  void key(std::string_view name);
  std::string text_ = "{";
};

// A JSON string literal, quotes included; invalid UTF-8 becomes U+FFFD.
std::string jsonString(std::string_view text);
// The same literal appended to `out`: listings write one per field and row.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace quorvel::cli
