#include <cstdio>

#include "volumes/VolumeRecord.h"

namespace quorvel {

std::string sizeTextWide(std::int64_t mebibytes) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld   MB", static_cast<long long>(mebibytes));
  return text;
}

std::string sizeTextNarrow(std::int64_t mebibytes) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld  MB", static_cast<long long>(mebibytes));
  return text;
}

}  // namespace quorvel
