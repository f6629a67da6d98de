#pragma once
// The names one output folder gives out during one save. Every entry gets a
// name of its own, also when its name or safe name equals another's; the
// same entry asked again gets the same name. A name something else holds (a
// link, a folder where a file goes) is never reused.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace quorvel {

// "stem (n).ext", cut to fit 255 bytes of UTF-8.
std::string numberedName(const std::string& safeName, unsigned number);

class OutputNames {
 public:
  // The name entry `owner`, called `originalName`, is saved under here.
  std::string claim(const std::string& originalName, std::uint64_t owner);
  // `name` is held by something a save must not write through.
  void block(const std::string& name);

 private:
  // Safe name -> the entry that took it; none when blocked.
  std::unordered_map<std::string, std::optional<std::uint64_t>> owners_;
};

}  // namespace quorvel
