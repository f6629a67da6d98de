#include <array>

#include "fs/FileSystemKinds.h"
#include "volumes/VolumeList.h"
#include "volumes/VolumeKind.h"

namespace quorvel {

namespace {
using Sector = std::array<std::uint8_t, kSectorSize>;

bool readSector(const FileReadSeek& source, std::int64_t sector, Sector& out) {
  if (sector < 0 || sector > INT64_MAX / kSectorSize) return false;
  return source.readAt(sector * kSectorSize, out.data(), out.size());
}

// The kind whose structure starts the volume at `sector`, by the sniff of
// the row that names it.
bool isKindAt(const FileReadSeek& source, std::int64_t sector, FileSystemId id) {
  const FileSystemKind& kind = fileSystemKind(id);
  const std::int64_t inside = kind.sniffOffset / kSectorSize;
  if (sector < 0 || sector > INT64_MAX / kSectorSize - inside) return false;
  Sector s{};
  return readSector(source, sector + inside, s) && kind.sniff(s, SniffContext::VolumeStart).has_value();
}
}  // namespace

bool isExFatAt(const FileReadSeek& source, std::int64_t sector) { return isKindAt(source, sector, FileSystemId::ExFat); }

bool isHfsPlusAt(const FileReadSeek& source, std::int64_t sector) {
  return isKindAt(source, sector, FileSystemId::HfsPlus);
}

bool isExtAt(const FileReadSeek& source, std::int64_t sector) { return isKindAt(source, sector, FileSystemId::Ext); }

std::optional<Sniffed> recogniseVolumeStart(const FileReadSeek& source, std::int64_t sector) {
  Sector s{};
  if (!readSector(source, sector, s)) return std::nullopt;
  if (std::optional<Sniffed> found = sniffBootSector(s, SniffContext::VolumeStart)) return found;
  // Volumes without a boot sector announce themselves 1024 bytes in.
  if (sector > INT64_MAX / kSectorSize - 2 || !readSector(source, sector + 2, s)) return std::nullopt;
  return sniffSector(s, 1024, SniffContext::VolumeStart);
}

bool probeVolumeImage(const FileReadSeek& source, VolumeRecord& destination) {
  const std::optional<Sniffed> found = recogniseVolumeStart(source, 0);
  if (!found) return false;
  setKindFound(destination, *found);
  destination.label = std::to_string(0);  // a literal trips a false -Wrestrict in GCC 12
  destination.sizeText = sizeTextWide(bytesToMebibytes(found->found.sizeBytes));
  destination.startSector = 0;
  destination.sizeBytes = found->found.sizeBytes;
  return true;
}

}  // namespace quorvel
