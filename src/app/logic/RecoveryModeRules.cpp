#include "logic/RecoveryModeRules.h"

#include <algorithm>
#include <cctype>

namespace wizard {

namespace {

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string kindKey(const std::string& kind) {
  std::size_t begin = 0;
  while (begin < kind.size() && std::isspace(static_cast<unsigned char>(kind[begin]))) ++begin;
  // Characters, not bytes: a GPT partition name can be any UTF-8 text.
  std::size_t end = begin;
  for (int characters = 0; characters < 3 && end < kind.size(); ++characters) {
    ++end;
    while (end < kind.size() && isContinuationByte(kind[end])) ++end;
  }
  return kind.substr(begin, end - begin);
}

OfferedModes offeredModes(const std::string& kind) {
  const std::string key = lowerCase(kindKey(kind));
  OfferedModes modes;
  if (key == "fat" || key == "exf") modes.deep = false;
  if (key == "ext") modes.advanced = modes.deep = false;
  if (key == "hfs") modes.advanced = false;
  modes.formattedChoice = key == "fat";
  return modes;
}

}  // namespace wizard
