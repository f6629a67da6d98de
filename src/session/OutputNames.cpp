#include "session/OutputNames.h"

#include "session/Saving.h"

namespace quorvel {

namespace {
constexpr std::size_t kMaxNameBytes = 255;

// A UTF-8 cut that does not split a character.
std::size_t characterBoundary(const std::string& text, std::size_t cut) {
  while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}
}  // namespace

std::string numberedName(const std::string& safeName, unsigned number) {
  const std::size_t dot = safeName.rfind('.');
  // A short extension stays on the end so the file still opens as its type.
  const bool hasExtension = dot != std::string::npos && dot > 0 && safeName.size() - dot <= 16;
  const std::string extension = hasExtension ? safeName.substr(dot) : std::string();
  std::string stem = hasExtension ? safeName.substr(0, dot) : safeName;
  const std::string mark = " (" + std::to_string(number) + ")";
  const std::size_t room = kMaxNameBytes - mark.size() - extension.size();
  if (stem.size() > room) stem.resize(characterBoundary(stem, room));
  return stem + mark + extension;
}

std::string OutputNames::claim(const std::string& originalName, std::uint64_t owner) {
  const std::string safe = safeOutputName(originalName);
  for (unsigned number = 1;; ++number) {
    const std::string candidate = number == 1 ? safe : numberedName(safe, number);
    const auto [it, fresh] = owners_.try_emplace(candidate, owner);
    if (fresh || it->second == owner) return candidate;
  }
}

void OutputNames::block(const std::string& name) { owners_[name] = std::nullopt; }

}  // namespace quorvel
