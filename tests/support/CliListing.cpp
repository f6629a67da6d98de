#include "support/CliListing.h"

#include <time.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <sstream>
#include <stdexcept>

#include "fs/TextFormats.h"

namespace quorvel::test {

namespace {

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

CommandResult cli(std::vector<std::string> args) {
  args.insert(args.begin(), cliPath());
  return runCommand(args);
}

JsonObject parseJsonObject(const std::string& line) {
  std::size_t i = 0;
  const auto fail = [&](const char* why) { throw std::runtime_error(std::string(why) + " in JSON line: " + line); };
  const auto skipSpace = [&] {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
  };
  const auto take = [&](char c) {
    skipSpace();
    if (i >= line.size() || line[i] != c) fail("unexpected character");
    ++i;
  };
  const auto hex4 = [&] {
    if (i + 4 > line.size()) fail("short \\u escape");
    for (std::size_t k = i; k < i + 4; ++k)
      if (!std::isxdigit(static_cast<unsigned char>(line[k]))) fail("bad \\u escape");
    const char32_t v = static_cast<char32_t>(std::stoul(line.substr(i, 4), nullptr, 16));
    i += 4;
    return v;
  };
  const auto string = [&] {
    take('"');
    std::string s;
    while (i < line.size() && line[i] != '"') {
      if (static_cast<unsigned char>(line[i]) < 0x20) fail("raw control character");
      if (line[i] != '\\') {
        s += line[i++];
        continue;
      }
      if (++i >= line.size()) fail("cut escape");
      const char e = line[i++];
      switch (e) {
        case 'n': s += '\n'; break;
        case 't': s += '\t'; break;
        case 'r': s += '\r'; break;
        case 'b': s += '\b'; break;
        case 'f': s += '\f'; break;
        case '"': case '\\': case '/': s += e; break;
        case 'u': {
          char32_t c = hex4();
          if (c >= 0xD800 && c < 0xDC00 && line.compare(i, 2, "\\u") == 0) {
            i += 2;
            c = 0x10000 + ((c - 0xD800) << 10) + (hex4() - 0xDC00);
          }
          appendUtf8(s, c);
          break;
        }
        default: fail("unknown escape");
      }
    }
    take('"');
    return s;
  };
  // Integers only: no command prints a fraction or an exponent.
  const auto number = [&] {
    std::string digits;
    if (line[i] == '-') digits += line[i++];
    const std::size_t first = i;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) digits += line[i++];
    if (i == first) fail("missing value");
    if (i - first > 1 && line[first] == '0') fail("leading zero");
    return digits;
  };
  const auto literal = [&](const char* word) {
    if (line.compare(i, std::strlen(word), word) != 0) return false;
    i += std::strlen(word);
    return true;
  };

  JsonObject fields;
  take('{');
  skipSpace();
  if (i < line.size() && line[i] == '}') {
    ++i;
  } else {
    do {
      const std::string key = string();
      take(':');
      skipSpace();
      if (i >= line.size()) fail("missing value");
      JsonValue value;
      if (line[i] == '"') {
        value = {JsonValue::Type::String, string()};
      } else if (line[i] == '[') {
        value.type = JsonValue::Type::Strings;
        take('[');
        skipSpace();
        if (i < line.size() && line[i] == ']') {
          ++i;
        } else {
          do value.strings.push_back(string());
          while ((skipSpace(), i < line.size() && line[i] == ',') && ++i);
          take(']');
        }
      } else if (literal("true")) {
        value = {JsonValue::Type::Bool, "true"};
      } else if (literal("false")) {
        value = {JsonValue::Type::Bool, "false"};
      } else if (literal("null")) {
        value = {JsonValue::Type::Null, ""};
      } else {
        value = {JsonValue::Type::Number, number()};
      }
      if (!fields.emplace(key, value).second) fail("repeated key");
      skipSpace();
    } while (i < line.size() && line[i] == ',' && ++i);
    take('}');
  }
  skipSpace();
  if (i != line.size()) fail("text after the object");
  return fields;
}

std::vector<JsonObject> parseJsonLines(const std::string& out) {
  std::vector<JsonObject> objects;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) objects.push_back(parseJsonObject(line));
  return objects;
}

namespace {
const JsonValue& typed(const JsonObject& object, const std::string& key, JsonValue::Type type, const char* what) {
  const auto it = object.find(key);
  if (it == object.end()) throw std::runtime_error("JSON object without " + key);
  if (it->second.type != type) throw std::runtime_error("JSON field " + key + " is not " + what);
  return it->second;
}
}  // namespace

const std::string& jsonText(const JsonObject& object, const std::string& key) {
  return typed(object, key, JsonValue::Type::String, "a string").text;
}

std::int64_t jsonInteger(const JsonObject& object, const std::string& key) {
  return std::stoll(typed(object, key, JsonValue::Type::Number, "a number").text);
}

std::uint64_t jsonUnsigned(const JsonObject& object, const std::string& key) {
  const std::string& text = typed(object, key, JsonValue::Type::Number, "a number").text;
  if (text.starts_with("-")) throw std::runtime_error("JSON field " + key + " is negative: " + text);
  return std::stoull(text);
}

std::vector<std::string> jsonStrings(const JsonObject& object, const std::string& key) {
  return typed(object, key, JsonValue::Type::Strings, "an array of strings").strings;
}

bool jsonBool(const JsonObject& object, const std::string& key) {
  return typed(object, key, JsonValue::Type::Bool, "true or false").text == "true";
}

std::optional<std::string> jsonTextOrNull(const JsonObject& object, const std::string& key) {
  const auto it = object.find(key);
  if (it == object.end()) throw std::runtime_error("JSON object without " + key);
  if (it->second.isNull()) return std::nullopt;
  return jsonText(object, key);
}

std::vector<const LsEntry*> Listing::at(const std::string& path) const {
  std::vector<const LsEntry*> found;
  for (auto [it, end] = byPath.equal_range(path); it != end; ++it) found.push_back(&entries[it->second]);
  return found;
}

Listing parseListing(const std::string& out) {
  Listing listing;
  for (const JsonObject& o : parseJsonLines(out))
    listing.entries.push_back({jsonText(o, "path"), jsonInteger(o, "id"), jsonBool(o, "folder"), jsonBool(o, "deleted"),
                               jsonInteger(o, "size"), jsonText(o, "created"), jsonText(o, "accessed"),
                               jsonText(o, "modified"), jsonText(o, "attributes"), jsonText(o, "sizeText"),
                               jsonTextOrNull(o, "createdUtc"), jsonTextOrNull(o, "accessedUtc"),
                               jsonTextOrNull(o, "modifiedUtc"), jsonTextOrNull(o, "deletedUtc")});
  for (std::size_t k = 0; k < listing.entries.size(); ++k) listing.byPath.emplace(listing.entries[k].path, k);
  return listing;
}

std::string rowTime(std::int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  tm utc{};
  gmtime_r(&t, &utc);
  return wallClockText(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min);
}

std::string utcTime(std::int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  tm utc{};
  if (!gmtime_r(&t, &utc)) throw std::runtime_error("no calendar date for " + std::to_string(seconds));
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

Listing listVolume(const std::filesystem::path& image, const std::vector<std::string>& selection) {
  std::vector<std::string> args = {"ls", image.string()};
  args.insert(args.end(), selection.begin(), selection.end());
  args.push_back("--json");
  const CommandResult r = cli(args);
  if (r.exitCode != 0) throw std::runtime_error("quorvel-cli ls failed (" + std::to_string(r.exitCode) + "): " + r.err);
  return parseListing(r.out);
}

}  // namespace quorvel::test
