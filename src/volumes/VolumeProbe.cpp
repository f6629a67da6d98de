#include <array>

#include "volumes/BootSector.h"
#include "volumes/Partition.h"

namespace quorvel {

namespace {
using Sector = std::array<std::uint8_t, kSectorSize>;

bool readSector(FileReadSeek& source, std::int64_t sector, Sector& out) {
  source.baseOffset = 0;
  if (sector < 0 || sector > INT64_MAX / kSectorSize) return false;
  return source.readAt(sector * kSectorSize, out.data(), out.size());
}
}  // namespace

bool isExFatAt(FileReadSeek& source, std::int64_t sector) {
  Sector s{};
  return readSector(source, sector, s) && classifyBootSector(s).kind == VolumeKind::ExFat;
}

bool isHfsPlusAt(FileReadSeek& source, std::int64_t sector) {
  Sector s{};
  return sector <= INT64_MAX / kSectorSize - 2 && readSector(source, sector + 2, s) &&
         classifyVolumeHeader(s).kind == VolumeKind::HfsPlus;
}

bool probeVolumeImage(FileReadSeek& source, VolumeRecord& destination) {
  Sector s{};
  if (!readSector(source, 0, s)) return false;
  VolumeClass found = classifyBootSector(s);
  // Volumes without a boot sector announce themselves 1024 bytes in.
  if (found.kind == VolumeKind::None && readSector(source, 2, s)) found = classifyVolumeHeader(s);
  if (found.kind == VolumeKind::None) return false;

  destination.kind = kindText(found.kind);
  destination.label = std::to_string(0);  // a literal trips a false -Wrestrict in GCC 12
  destination.sizeText = sizeTextWide(bytesToMebibytes(found.sizeBytes));
  destination.startSector = 0;
  destination.sizeBytes = found.sizeBytes;
  return true;
}

}  // namespace quorvel
