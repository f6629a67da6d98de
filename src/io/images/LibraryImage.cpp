#include "io/images/LibraryImage.h"

#include <sys/stat.h>

namespace quorvel::images {

namespace {
bool isFile(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
}  // namespace

std::string bareName(const std::string& storedName) {
  const std::size_t cut = storedName.find_last_of("/\\");
  return cut == std::string::npos ? storedName : storedName.substr(cut + 1);
}

std::string findBeside(const std::string& childPath, const std::string& storedName) {
  if (storedName.empty()) return {};
  const std::size_t slash = childPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : childPath.substr(0, slash + 1);
  if (storedName.front() == '/' && isFile(storedName)) return storedName;
  if (storedName.front() != '/' && storedName.find('\\') == std::string::npos && isFile(folder + storedName))
    return folder + storedName;
  const std::string beside = folder + bareName(storedName);
  return isFile(beside) ? beside : std::string();
}

std::string cannotRead(const std::string& kind, const std::string& path, const std::string& reason,
                       const std::string& libraryText) {
  std::string text = "Cannot read the " + kind + " image " + path + ": " + reason;
  if (!libraryText.empty()) text += " (" + libraryText + ")";
  return text + ".";
}

}  // namespace quorvel::images
