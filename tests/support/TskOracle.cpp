#include "support/TskOracle.h"

#include <sstream>
#include <stdexcept>

#include "support/TestSupport.h"

namespace quorvel::test {

std::string toolOutput(const std::vector<std::string>& argv) {
  const CommandResult r = runCommand(argv);
  if (r.exitCode != 0) throw std::runtime_error(argv[0] + " failed (" + std::to_string(r.exitCode) + "): " + r.err);
  return r.out;
}

std::vector<TskEntry> parseFlsBody(const std::string& body) {
  std::vector<TskEntry> entries;
  std::istringstream in(body);
  for (std::string line; std::getline(in, line);) {
    // MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime, where the
    // name may hold '|' itself: the fields are counted from the end.
    std::vector<std::string> f;
    std::string field;
    for (std::istringstream row(line); std::getline(row, field, '|');) f.push_back(field);
    if (line.ends_with("|")) f.push_back("");
    if (f.size() < 11) continue;
    const std::size_t n = f.size();
    std::string name = f[1];
    for (std::size_t k = 2; k + 9 < n; ++k) name += "|" + f[k];
    TskEntry e;
    for (const std::string mark : {" (deleted-realloc)", " (deleted)"}) {
      if (!name.ends_with(mark)) continue;
      e.deleted = true;
      e.reallocated = mark == std::string(" (deleted-realloc)");
      name.resize(name.size() - mark.size());
      break;
    }
    e.path = name.starts_with("/") ? name.substr(1) : name;
    e.address = f[n - 9];
    e.inode = e.address.substr(0, e.address.find('-'));
    e.mode = f[n - 8];
    e.folder = e.mode.size() >= 3 && e.mode[2] == 'd';
    e.lostParent = e.path.starts_with("$OrphanFiles/");
    e.size = std::stoll(f[n - 5]);
    e.accessed = std::stoll(f[n - 4]);
    e.modified = std::stoll(f[n - 3]);
    e.created = std::stoll(f[n - 1]);
    entries.push_back(std::move(e));
  }
  return entries;
}

std::vector<TskEntry> flsEntries(const std::filesystem::path& image, const std::string& fsType) {
  std::vector<std::string> argv = {"fls", "-r", "-m", "/"};
  if (!fsType.empty()) argv.insert(argv.end(), {"-f", fsType});
  argv.push_back(image.string());
  return parseFlsBody(toolOutput(argv));
}

std::string icat(const std::filesystem::path& image, const std::string& address, const std::string& fsType) {
  std::vector<std::string> argv = {"icat"};
  if (!fsType.empty()) argv.insert(argv.end(), {"-f", fsType});
  argv.insert(argv.end(), {image.string(), address});
  return toolOutput(argv);
}

}  // namespace quorvel::test
