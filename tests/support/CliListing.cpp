#include "support/CliListing.h"

#include <time.h>

#include <cctype>
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

std::map<std::string, std::string> parseJsonObject(const std::string& line) {
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
    const char32_t v = static_cast<char32_t>(std::stoul(line.substr(i, 4), nullptr, 16));
    i += 4;
    return v;
  };
  const auto string = [&] {
    take('"');
    std::string s;
    while (i < line.size() && line[i] != '"') {
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
        case 'u': {
          char32_t c = hex4();
          if (c >= 0xD800 && c < 0xDC00 && line.compare(i, 2, "\\u") == 0) {
            i += 2;
            c = 0x10000 + ((c - 0xD800) << 10) + (hex4() - 0xDC00);
          }
          appendUtf8(s, c);
          break;
        }
        default: s += e;
      }
    }
    take('"');
    return s;
  };
  std::map<std::string, std::string> fields;
  take('{');
  skipSpace();
  if (i < line.size() && line[i] == '}') return fields;
  do {
    const std::string key = string();
    take(':');
    skipSpace();
    std::string value;
    if (i < line.size() && line[i] == '"') {
      value = string();
    } else {
      while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '-'))
        value += line[i++];
      if (value.empty()) fail("missing value");
    }
    if (!fields.emplace(key, value).second) fail("repeated key");
    skipSpace();
  } while (i < line.size() && line[i] == ',' && ++i);
  take('}');
  return fields;
}

std::vector<std::map<std::string, std::string>> parseJsonLines(const std::string& out) {
  std::vector<std::map<std::string, std::string>> objects;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) objects.push_back(parseJsonObject(line));
  return objects;
}

std::vector<const LsEntry*> Listing::at(const std::string& path) const {
  std::vector<const LsEntry*> found;
  for (auto [it, end] = byPath.equal_range(path); it != end; ++it) found.push_back(&entries[it->second]);
  return found;
}

Listing parseListing(const std::string& out) {
  Listing listing;
  for (const auto& fields : parseJsonLines(out)) {
    const auto get = [&](const char* key) {
      const auto it = fields.find(key);
      if (it == fields.end()) throw std::runtime_error(std::string("ls object without ") + key);
      return it->second;
    };
    listing.entries.push_back({get("path"), get("folder") == "true", get("deleted") == "true", std::stoll(get("size")),
                               get("created"), get("accessed"), get("modified"), get("attributes"), get("sizeText")});
  }
  for (std::size_t k = 0; k < listing.entries.size(); ++k) listing.byPath.emplace(listing.entries[k].path, k);
  return listing;
}

std::string rowTime(std::int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  tm utc{};
  gmtime_r(&t, &utc);
  return wallClockText(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min);
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
