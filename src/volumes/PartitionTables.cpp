// The standard listing: MBR entries in table order with the EBR chain of an
// extended entry where it stands, or the GPT for protective MBRs and on request.
#include <array>
#include <cerrno>
#include <set>
#include <vector>

#include "fs/Utf16.h"
#include "io/Arithmetic.h"
#include "volumes/VolumeList.h"
#include "volumes/VolumeKind.h"

namespace quorvel {

namespace {

using Sector = std::array<std::uint8_t, kSectorSize>;

// MBR and EBR layout.
constexpr std::size_t kFirstEntry = 0x1BE;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kEntryType = 4;
constexpr std::size_t kEntryFirstSector = 8;
constexpr std::size_t kEntrySectorCount = 12;
constexpr int kMaxChainLength = 50;

// GPT header (at sector 1) and entry layout.
constexpr std::size_t kGptEntryLba = 0x48;
constexpr std::size_t kGptEntryCount = 0x50;
constexpr std::size_t kGptEntrySize = 0x54;
constexpr std::size_t kGptEntryFirstLba = 0x20;
constexpr std::size_t kGptEntryLastLba = 0x28;
constexpr std::size_t kGptEntryName = 0x38;
constexpr std::size_t kGptNameUnits = 36;
// The entry table is small on every real disk; this bounds a damaged header.
constexpr std::uint64_t kMaxGptTableBytes = 1 << 20;

struct TableEntry {
  std::uint8_t type = 0;
  std::uint32_t firstSector = 0;
  std::uint32_t sectorCount = 0;
};

TableEntry tableEntry(const Sector& s, int index) {
  const Bytes e = Bytes(s).subspan(kFirstEntry + kEntrySize * index, kEntrySize);
  return {e[kEntryType], le32(e, kEntryFirstSector), le32(e, kEntrySectorCount)};
}

bool isExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

class Lister {
 public:
  Lister(const FileReadSeek& source, VolumeList& partition) : source_(source), partition_(partition) {}

  std::int32_t run() {
    std::array<std::uint8_t, 2 * kSectorSize> head{};
    const bool haveHead = source_.readAt(0, head.data(), head.size());
    if (haveHead && (partition_.readGpt || (isProtectiveMbr(head) && hasText(head, 512, "EFI PART"))))
      return walkGpt(Bytes(head).subspan(kSectorSize));
    return walkMbr();
  }

 private:
  // A read that met the end of the source has no system error of its own.
  std::int32_t failure() const { return source_.lastError() != 0 ? source_.lastError() : ENODATA; }

  bool readSector(std::uint64_t sector, Sector& out) {
    if (sector > INT64_MAX / kSectorSize) return false;
    return source_.readAt(static_cast<std::int64_t>(sector * kSectorSize), out.data(), out.size());
  }

  static bool isProtectiveMbr(Bytes head) {
    for (int i = 0; i < 4; ++i)
      if (head[kFirstEntry + kEntrySize * i + kEntryType] == 0xEE) return true;
    return false;
  }

  // Labels a record by its place in the listing and lists it.
  void record(VolumeRecord v, const std::string& sizeText, std::int64_t startSector, std::uint64_t sizeBytes) {
    v.sizeBytes = sizeBytes;
    v.label = std::to_string(labelCounter_++);
    v.sizeText = sizeText;
    v.startSector = startSector;
    partition_.record(std::move(v));
  }

  static VolumeRecord ofKind(std::string text, std::optional<FileSystemId> id) {
    VolumeRecord v;
    v.kind = std::move(text);
    v.fileSystem = id;
    return v;
  }

  // A kind by the first of its registry texts.
  static VolumeRecord ofRegistryKind(FileSystemId id) {
    return ofKind(std::string(fileSystemKind(id).kindTexts.front()), id);
  }

  static VolumeRecord ofUnknownKind() {
    VolumeRecord v;
    v.kind = "Unknown";
    v.kindUnknown = true;
    return v;
  }

  // Kind and status text of an MBR or EBR entry type. Logical volumes say a
  // few things differently from primaries.
  std::int32_t recordTableEntry(const TableEntry& entry, std::uint64_t startSector, bool logical) {
    VolumeRecord v;
    std::string status;
    switch (entry.type) {
      case 0x01: v = ofKind("FAT12", FileSystemId::Fat16); break;
      case 0x04: case 0x06: case 0x0E: v = ofKind("FAT16", FileSystemId::Fat16); status = "found FAT 16..."; break;
      case 0x07:
        if (isExFatAt(source_, static_cast<std::int64_t>(startSector))) {
          v = ofKind("FAT64", FileSystemId::ExFat);
          status = "found FAT64...";
        } else {
          v = ofKind("NTFS", FileSystemId::Ntfs);
          status = logical ? "found NTFS..." : "found NTFS " + std::to_string(++ntfsCount_) + "...";
        }
        break;
      case 0x0B: case 0x0C: v = ofKind("FAT32", FileSystemId::Fat32); status = "found FAT 32..."; break;
      case 0x42:
        v = logical ? ofUnknownKind() : ofKind("NTFS", FileSystemId::Ntfs);
        status = logical ? "found UNKNOWN..." : "NTFS...";
        break;
      case 0x83: v = ofKind("extX", FileSystemId::Ext); status = logical ? "found extx..." : "found ext2..."; break;
      default: v = ofUnknownKind(); status = "found UNKNOWN..."; break;
    }
    if (!status.empty()) partition_.job.setStatus(status);
    record(std::move(v), sizeTextWide(entry.sectorCount >> 11), static_cast<std::int64_t>(startSector),
           std::uint64_t{entry.sectorCount} * kSectorSize);
    return 0;
  }

  std::int32_t walkMbr() {
    Sector mbr{};
    if (!readSector(0, mbr)) return failure();
    for (int i = 0; i < 4; ++i) {
      const TableEntry entry = tableEntry(mbr, i);
      if (entry.type == 0) continue;
      if (isExtended(entry.type)) {
        if (const std::int32_t error = walkChain(entry.firstSector)) return error;
        continue;
      }
      recordTableEntry(entry, entry.firstSector, false);
    }
    return 0;
  }

  // Each EBR holds logical volumes relative to itself and at most one link
  // relative to the extended partition's start.
  std::int32_t walkChain(std::uint64_t extendedBase) {
    std::uint64_t ebrSector = extendedBase;
    std::set<std::uint64_t> visited;
    for (int step = 0; step < kMaxChainLength && visited.insert(ebrSector).second; ++step) {
      Sector ebr{};
      if (!readSector(ebrSector, ebr)) return failure();
      std::uint64_t next = 0;
      for (int i = 0; i < 4; ++i) {
        const TableEntry entry = tableEntry(ebr, i);
        if (entry.type == 0) continue;
        if (isExtended(entry.type)) {
          if (next == 0) next = extendedBase + entry.firstSector;
          continue;
        }
        recordTableEntry(entry, ebrSector + entry.firstSector, true);
      }
      if (next == 0) break;
      ebrSector = next;
    }
    return 0;
  }

  std::int32_t walkGpt(Bytes header) {
    std::uint64_t tableLba = 2;
    std::uint64_t entryCount = 128;
    std::uint64_t entrySize = 128;
    if (hasText(header, 0, "EFI PART")) {
      tableLba = le64(header, kGptEntryLba);
      entryCount = le32(header, kGptEntryCount);
      entrySize = le32(header, kGptEntrySize);
    }
    if (entrySize < 128 || entrySize % 8 != 0 || entrySize > kMaxGptTableBytes) return 0;
    entryCount = std::min(entryCount, kMaxGptTableBytes / entrySize);
    if (tableLba < 2 || tableLba > INT64_MAX / kSectorSize) return 0;

    std::vector<std::uint8_t> table(entryCount * entrySize);
    if (!source_.readAt(static_cast<std::int64_t>(tableLba * kSectorSize), table.data(), table.size()))
      return failure();

    for (std::uint64_t i = 0; i < entryCount; ++i) {
      const Bytes entry = Bytes(table).subspan(i * entrySize, entrySize);
      if (le64(entry, 0) == 0 && le64(entry, 8) == 0) continue;  // unused slot
      const std::string name = utf16leToUtf8(entry.subspan(kGptEntryName), kGptNameUnits);
      if (name == "Microsoft reserved partition") continue;
      const std::uint64_t first = le64(entry, kGptEntryFirstLba);
      const std::uint64_t last = le64(entry, kGptEntryLastLba);
      if (first <= 2) continue;  // would overlap the GPT itself

      Sector boot{};
      if (!readSector(first, boot)) return failure();
      const auto start = static_cast<std::int64_t>(first);
      const std::optional<Sniffed> sniffed = sniffBootSector(boot, SniffContext::VolumeStart);
      if (!sniffed) {
        // The partition's name, unless a volume header two sectors in says more.
        VolumeRecord v = ofKind(name, std::nullopt);
        if (isHfsPlusAt(source_, start))
          v = ofRegistryKind(FileSystemId::HfsPlus);
        else if (isExtAt(source_, start))
          v = ofRegistryKind(FileSystemId::Ext);
        const std::uint64_t sectors = last >= first ? last - first + 1 : 0;  // the last sector is inclusive
        record(std::move(v), std::to_string(sectors / 2048), start, saturatingProduct(sectors, kSectorSize));
        continue;  // as before: no stop check after an unrecognised entry
      }
      const Recognition& found = sniffed->found;
      const std::int64_t mebibytes = bytesToMebibytes(found.sizeBytes);
      VolumeRecord v;
      setKindFound(v, *sniffed);
      if (v.fileSystem == FileSystemId::Ntfs) {
        const int label = labelCounter_++;  // used up even when not listed
        if (mebibytes > 0) {
          partition_.job.setStatus("found NTFS " + std::to_string(++ntfsCount_) + "...");
          v.label = std::to_string(label);
          v.sizeText = sizeTextWide(mebibytes);
          v.startSector = start;
          v.sizeBytes = found.sizeBytes;
          partition_.record(std::move(v));
        }
      } else {
        partition_.job.setStatus(found.foundStatus);
        if (mebibytes > 0) record(std::move(v), sizeTextNarrow(mebibytes), start, found.sizeBytes);
      }
      if (partition_.job.stopRequested()) return 0;
    }
    return 0;
  }

  const FileReadSeek& source_;
  VolumeList& partition_;
  int labelCounter_ = 0;
  int ntfsCount_ = 0;
};

}  // namespace

std::int32_t listVolumes(const FileReadSeek& source, VolumeList& partition) {
  return Lister(source, partition).run();
}

void numberVolumes(std::vector<VolumeRecord>& volumes) {
  for (std::size_t i = 0; i < volumes.size(); ++i) volumes[i].label = std::to_string(i);
}

}  // namespace quorvel
