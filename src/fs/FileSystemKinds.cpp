#include "fs/FileSystemKinds.h"

#include <algorithm>

#include "fs/TextFormats.h"
#include "fs/ext/ExtParser.h"
#include "fs/ext/ExtSuperblock.h"
#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"
#include "fs/exfat/ExFatParser.h"
#include "fs/fat/FatLayout.h"
#include "fs/hfsplus/HfsPlusParser.h"
#include "fs/hfsplus/HfsVolumeHeader.h"
#include "fs/ntfs/NtfsParser.h"
#include "fs/ntfs/NtfsLayout.h"

namespace quorvel {

namespace {

// ---- the sniffs: the format folders decide, the rows add the texts

std::optional<Recognition> sniffNtfs(Bytes s, SniffContext context) {
  const auto size = ntfsfmt::sniffBootSector(s, context == SniffContext::SectorScan);
  // The scan numbers its NTFS finds itself.
  if (size) return Recognition{"NTFS", *size, ""};
  return std::nullopt;
}

std::optional<Recognition> sniffFatWidth(Bytes s, bool fat32) {
  const auto geometry = fatfmt::sniffBootSector(s);
  if (!geometry || (geometry->width == fatfmt::FatWidth::Fat32) != fat32) return std::nullopt;
  switch (geometry->width) {
    case fatfmt::FatWidth::Fat12: return Recognition{"FAT12", geometry->volumeBytes, "found FAT 12..."};
    case fatfmt::FatWidth::Fat16: return Recognition{"FAT16", geometry->volumeBytes, "found FAT 16..."};
    case fatfmt::FatWidth::Fat32: break;
  }
  return Recognition{"FAT32", geometry->volumeBytes, "found FAT 32..."};
}

std::optional<Recognition> sniffFat16(Bytes s, SniffContext) { return sniffFatWidth(s, false); }
std::optional<Recognition> sniffFat32(Bytes s, SniffContext) { return sniffFatWidth(s, true); }

std::optional<Recognition> sniffExFat(Bytes s, SniffContext) {
  if (const auto size = exfatfmt::sniffBootSector(s)) return Recognition{"FAT64", *size, "found FAT 64..."};
  return std::nullopt;
}

std::optional<Recognition> sniffExt(Bytes s, SniffContext) {
  if (const auto size = extfmt::sniffSuperblock(s, true)) return Recognition{"extX", *size, "found extX..."};
  return std::nullopt;
}

std::optional<Recognition> sniffHfsPlus(Bytes s, SniffContext) {
  if (const auto size = hfsfmt::sniffVolumeHeader(s)) return Recognition{"HFS+", *size, "found HFS+..."};
  return std::nullopt;
}

constexpr RecoveryMode kStandard = RecoveryMode::Standard;
constexpr RecoveryMode kAdvanced = RecoveryMode::Advanced;
constexpr RecoveryMode kDeep = RecoveryMode::Deep;

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

bool FileSystemKind::offers(RecoveryMode mode) const {
  return std::find(modes.begin(), modes.end(), mode) != modes.end();
}

const std::vector<FileSystemKind>& fileSystemKinds() {
  static const std::vector<FileSystemKind> rows = {
      {FileSystemId::Ntfs, {"NTFS"}, 0, sniffNtfs, makeNtfsParser, {kStandard, kAdvanced, kDeep},
       {.candidates = true, .clusterSize = true}, "ntfs"},
      {FileSystemId::Fat16, {"FAT16", "fat", "FAT12"}, 0, sniffFat16, makeFat16Parser, {kStandard, kAdvanced},
       {.candidates = true, .clusterSize = true, .formattedFlag = true}, "fat16"},
      {FileSystemId::Fat32, {"FAT32"}, 0, sniffFat32, makeFat32Parser, {kStandard, kAdvanced},
       {.candidates = true, .clusterSize = true, .formattedFlag = true}, "fat32"},
      {FileSystemId::ExFat, {"FAT64", "exFAT"}, 0, sniffExFat, makeExFatParser, {kStandard, kAdvanced},
       {.candidates = true, .clusterSize = true, .heapOffset = true, .formattedFlag = true}, "exfat"},
      {FileSystemId::HfsPlus, {"HFS+"}, 1024, sniffHfsPlus, makeHfsPlusParser, {kStandard, kDeep}, {}, "hfsplus"},
      {FileSystemId::Ext, {"extX"}, 1024, sniffExt, makeExtParser, {kStandard}, {}, "ext"},
  };
  return rows;
}

const FileSystemKind& fileSystemKind(FileSystemId id) {
  for (const FileSystemKind& row : fileSystemKinds())
    if (row.id == id) return row;
  return fileSystemKinds().front();  // every id has a row
}

const FileSystemKind* findFileSystemKind(std::string_view kindText) {
  const std::string wanted = asciiLowerCase(std::string(trimmed(kindText)));
  for (const FileSystemKind& row : fileSystemKinds())
    for (const std::string_view text : row.kindTexts)
      if (asciiLowerCase(std::string(text)) == wanted) return &row;
  return nullptr;
}

std::optional<FileSystemId> fileSystemNamed(std::string_view kindText) {
  if (const FileSystemKind* row = findFileSystemKind(kindText)) return row->id;
  return std::nullopt;
}

std::optional<Sniffed> sniffSector(Bytes sector, std::uint32_t offset, SniffContext context) {
  for (const FileSystemKind& row : fileSystemKinds()) {
    if (row.sniffOffset != offset || !row.sniff) continue;
    if (std::optional<Recognition> found = row.sniff(sector, context)) return Sniffed{&row, std::move(*found)};
  }
  return std::nullopt;
}

std::optional<Sniffed> sniffBootSector(Bytes sector, SniffContext context) {
  if (std::optional<Sniffed> found = sniffSector(sector, 0, context)) return found;
  if (!fatfmt::looksLikeDamagedBootSector(sector)) return std::nullopt;
  return Sniffed{nullptr, Recognition{"UNKNOWN", 0, "found unknown..."}};
}

std::unique_ptr<FileSystemParser> parserFor(std::optional<FileSystemId> kind, RecoveryMode mode) {
  if (!kind) return nullptr;
  const FileSystemKind& row = fileSystemKind(*kind);
  if (!row.create || !row.offers(mode)) return nullptr;
  return row.create();
}

}  // namespace quorvel
