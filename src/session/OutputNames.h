#pragma once
// The names one output folder gives out during one save. Different entries
// whose safe names collide get distinct names; the same name again gets the
// same file (a later entry replaces an earlier one); a name something else
// holds (a link, a folder where a file goes) is never reused.
#include <optional>
#include <string>
#include <unordered_map>

namespace quorvel {

// "stem (n).ext", cut to fit 255 bytes of UTF-8.
std::string numberedName(const std::string& safeName, unsigned number);

class OutputNames {
 public:
  // The name `originalName` is saved under in this folder.
  std::string claim(const std::string& originalName);
  // `name` is held by something a save must not write through.
  void block(const std::string& name);

 private:
  // Safe name -> the original name that took it; none when blocked.
  std::unordered_map<std::string, std::optional<std::string>> owners_;
};

}  // namespace quorvel
