#pragma once
// quorvel-cli as the end-to-end tests run it, and what `ls --json` prints.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace quorvel::test {

// quorvel-cli ARGS...
CommandResult cli(std::vector<std::string> args);

// One JSON Lines object: flat, of strings, integers and booleans, each
// value kept as its text (strings unescaped).
std::map<std::string, std::string> parseJsonObject(const std::string& line);
std::vector<std::map<std::string, std::string>> parseJsonLines(const std::string& out);

struct LsEntry {
  std::string path;  // "ROOT/a/b"
  bool folder = false;
  bool deleted = false;
  std::int64_t size = 0;
  std::string created;  // row texts
  std::string accessed;
  std::string modified;
  std::string attributes;
  std::string sizeText;
};

struct Listing {
  std::vector<LsEntry> entries;
  std::multimap<std::string, std::size_t> byPath;  // indices into entries

  std::vector<const LsEntry*> at(const std::string& path) const;
};

Listing parseListing(const std::string& out);

// The list's time text for a UTC time (the texts themselves are pinned by
// the formatter's own tests).
std::string rowTime(std::int64_t seconds);

// ls IMAGE SELECTION... --json; the command must succeed.
Listing listVolume(const std::filesystem::path& image, const std::vector<std::string>& selection);

}  // namespace quorvel::test
