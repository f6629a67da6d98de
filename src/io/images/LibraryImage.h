#pragma once
// What the image formats read through a library share: the library's error
// text, and finding a parent disk or backing file beside its child.
#include <cstddef>
#include <string>

namespace quorvel::images {

// Differencing chains longer than this are taken for a loop.
inline constexpr int kMostParents = 16;

// The last line of a library's error, freed; empty when there is none.
// Sprint and Free are the library's error_sprint and error_free.
template <typename Error, typename Sprint, typename Free>
std::string takeLibraryError(Error*& error, Sprint sprint, Free free) {
  if (error == nullptr) return {};
  char text[512] = {};
  sprint(error, text, sizeof text);
  free(&error);
  error = nullptr;
  std::string line(text);
  const std::size_t lastBreak = line.find_last_of('\n', line.size() > 1 ? line.size() - 2 : 0);
  if (lastBreak != std::string::npos && lastBreak + 1 < line.size()) line = line.substr(lastBreak + 1);
  while (!line.empty() && (line.back() == '\n' || line.back() == '.')) line.pop_back();
  return line;
}

// Where a parent named inside a child image is: the stored path when it
// exists, else a file of the same name in the child's folder (images are
// moved, and Windows paths mean nothing here). Empty when neither exists.
std::string findBeside(const std::string& childPath, const std::string& storedName);

// The name without its folders, whichever separator the writer used.
std::string bareName(const std::string& storedName);

// "Cannot read the KIND image PATH: REASON." with the library's words in
// parentheses where they add something.
std::string cannotRead(const std::string& kind, const std::string& path, const std::string& reason,
                       const std::string& libraryText = {});

}  // namespace quorvel::images
