#pragma once
// The Sleuth Kit as the oracle of the end-to-end tests: what fls lists and
// what icat reads, on any file system it knows.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quorvel::test {

// An oracle tool's stdout; the tool must succeed.
std::string toolOutput(const std::vector<std::string>& argv);

// One line of `fls -r -m /` (body format), as printed: nothing is left out
// here, so each test decides what of it is a file of its own.
struct TskEntry {
  std::string path;     // below the root, '/'-separated, without the "(deleted)" marks
  std::string address;  // the inode field as printed (NTFS: record-type-id, names one attribute)
  std::string inode;    // the address up to its first '-'
  std::string mode;     // "r/rrwxrwxrwx", "d/d...", "v/v..." (virtual), "V/V..."
  bool folder = false;
  bool deleted = false;
  bool reallocated = false;  // "(deleted-realloc)": the name's record now belongs to another
  bool lostParent = false;   // shown under $OrphanFiles
  std::int64_t size = 0;
  std::int64_t accessed = 0;  // seconds; 0 where TSK has no time
  std::int64_t modified = 0;
  std::int64_t created = 0;

  bool fileOrFolder() const { return mode.size() >= 3 && (mode[2] == 'r' || mode[2] == 'd'); }
};

std::vector<TskEntry> parseFlsBody(const std::string& body);

// fls -r -m / [-f FSTYPE] IMAGE
std::vector<TskEntry> flsEntries(const std::filesystem::path& image, const std::string& fsType = {});

// icat [-f FSTYPE] IMAGE ADDRESS
std::string icat(const std::filesystem::path& image, const std::string& address, const std::string& fsType = {});

}  // namespace quorvel::test
