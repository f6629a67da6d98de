#pragma once
// quorvel-cli as the end-to-end tests run it, and what `ls --json` prints.
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace quorvel::test {

// quorvel-cli ARGS...
CommandResult cli(std::vector<std::string> args);

// One value of a flat JSON object.
struct JsonValue {
  enum class Type { String, Number, Bool, Null, Strings };
  Type type = Type::Null;
  std::string text;  // a string unescaped; a number, true or false as printed; empty for null
  std::vector<std::string> strings;  // an array of strings

  bool isString() const { return type == Type::String; }
  bool isNumber() const { return type == Type::Number; }
  bool isBool() const { return type == Type::Bool; }
  bool isNull() const { return type == Type::Null; }
};
using JsonObject = std::map<std::string, JsonValue>;

// One JSON Lines object: flat, of strings, integers, booleans, nulls and
// arrays of strings.
// Throws on anything else (nested values, fractions, a repeated key, text
// after the object), so that a malformed line fails the test that reads it.
JsonObject parseJsonObject(const std::string& line);
std::vector<JsonObject> parseJsonLines(const std::string& out);

// A field of the type asked for; throws naming the field otherwise.
const std::string& jsonText(const JsonObject& object, const std::string& key);  // a string
std::int64_t jsonInteger(const JsonObject& object, const std::string& key);
std::uint64_t jsonUnsigned(const JsonObject& object, const std::string& key);
bool jsonBool(const JsonObject& object, const std::string& key);
std::vector<std::string> jsonStrings(const JsonObject& object, const std::string& key);  // an array of strings
// A string or null.
std::optional<std::string> jsonTextOrNull(const JsonObject& object, const std::string& key);

struct LsEntry {
  std::string path;  // "ROOT/a/b"
  std::int64_t id = 0;
  bool folder = false;
  bool deleted = false;
  std::int64_t size = 0;
  std::string created;  // row texts
  std::string accessed;
  std::string modified;
  std::string attributes;
  std::string sizeText;
  std::optional<std::string> createdUtc;  // ISO 8601 texts; none where the volume records no time
  std::optional<std::string> accessedUtc;
  std::optional<std::string> modifiedUtc;
  std::optional<std::string> deletedUtc;  // where the volume recorded the deletion
};

struct Listing {
  std::vector<LsEntry> entries;
  std::multimap<std::string, std::size_t> byPath;  // indices into entries

  std::vector<const LsEntry*> at(const std::string& path) const;
};

// Every object must have every field, each of its type.
Listing parseListing(const std::string& out);

// The list's time text for a UTC time (the texts themselves are pinned by
// the formatter's own tests).
std::string rowTime(std::int64_t seconds);

// The JSON's UTC text for a time in seconds ("2024-03-05T14:07:09Z"),
// worked out by the C library's calendar.
std::string utcTime(std::int64_t seconds);

// ls IMAGE SELECTION... --json; the command must succeed.
Listing listVolume(const std::filesystem::path& image, const std::vector<std::string>& selection);

}  // namespace quorvel::test
