#include <cctype>
#include <cstdio>
#include <limits>

#include "io/Arithmetic.h"

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

std::uint64_t sizeTextBytes(const std::string& text) {
  constexpr std::uint64_t kMebibyte = 1048576;
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  std::uint64_t mebibytes = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    if (mebibytes > std::numeric_limits<std::uint64_t>::max() / 10 / kMebibyte) return std::numeric_limits<std::uint64_t>::max();
    mebibytes = mebibytes * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  return saturatingProduct(mebibytes, kMebibyte);
}

std::int64_t volumeStartByte(const VolumeRecord& volume) {
  constexpr std::int64_t kSectorBytes = 512;
  if (volume.startSector < 0 || volume.startSector > std::numeric_limits<std::int64_t>::max() / kSectorBytes) return 0;
  return volume.startSector * kSectorBytes;
}

VolumeExtent volumeExtent(const VolumeRecord& volume) {
  const std::uint64_t size = volume.sizeBytes != 0 ? volume.sizeBytes : sizeTextBytes(volume.sizeText);
  return {static_cast<std::uint64_t>(volumeStartByte(volume)), size};
}

}  // namespace quorvel
