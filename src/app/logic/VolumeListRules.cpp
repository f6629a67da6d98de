#include "logic/VolumeListRules.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "fs/FileSystemKinds.h"
#include "fs/TextFormats.h"
#include "logic/DecimalText.h"

namespace wizard {

namespace {

constexpr std::int64_t kSectorsPerMebibyte = 2048;

using quorvel::asciiLowerCase;

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return prefix.size() <= text.size() && asciiLowerCase(text.substr(0, prefix.size())) == asciiLowerCase(prefix);
}

// "300   MB" becomes "300": every "MB" removed, spaces trimmed at both ends.
std::string plainSizeText(std::string text) {
  for (std::size_t at = text.find("MB"); at != std::string::npos; at = text.find("MB", at)) text.erase(at, 2);
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// The entry that sends a volume to raw recovery instead of a parser.
constexpr const char* kRawEntry = "RAW";

bool isRawEntry(const std::string& entry) { return asciiLowerCase(entry) == asciiLowerCase(kRawEntry); }

// The kind text a "Treat file system as:" choice gives the record.
std::string treatedKindText(quorvel::FileSystemId kind) {
  switch (kind) {
    case quorvel::FileSystemId::Ntfs: return "ntfs";
    case quorvel::FileSystemId::Fat16: return "fat16";
    case quorvel::FileSystemId::Fat32: return "fat32";
    case quorvel::FileSystemId::ExFat: return "fat64";
    case quorvel::FileSystemId::Ext: return "extX";
    case quorvel::FileSystemId::HfsPlus: return "HFS+";
  }
  return {};
}

}  // namespace

const std::vector<std::string>& treatAsEntries() {
  static const std::vector<std::string> entries = [] {
    std::vector<std::string> texts;
    for (const quorvel::FileSystemKind& row : quorvel::fileSystemKinds())
      if (row.create) {
        std::string text(row.kindTexts.front());
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        texts.push_back(std::move(text));
      }
    std::sort(texts.begin(), texts.end());
    texts.push_back(kRawEntry);
    return texts;
  }();
  return entries;
}

int treatAsEntryFor(const std::string& kindText) {
  const std::vector<std::string>& entries = treatAsEntries();
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (startsWithIgnoringCase(entries[i], kindText)) return static_cast<int>(i);
  return -1;
}

SectorRange rangeOfRow(const std::string& sizeText, const std::string& startText) {
  SectorRange range;
  range.start = readDecimal(startText);
  const std::int64_t mebibytes = readDecimal(sizeText);
  std::int64_t sectors = 0;
  if (__builtin_mul_overflow(mebibytes, kSectorsPerMebibyte, &sectors)) sectors = std::numeric_limits<std::int64_t>::max();
  if (sectors > 0 && __builtin_add_overflow(range.start, sectors - 1, &range.end))
    range.end = std::numeric_limits<std::int64_t>::max();
  return range;
}

SectorRange rangeOfRow(const VolumeRow& row) {
  SectorRange range = rangeOfRow(row.texts[2], row.texts[3]);
  const std::uint64_t bytes = row.listed.sizeBytes;
  // Only while the row still shows the listed volume: same start, same MiB.
  const bool exact = bytes > 0 && row.listed.startSector == range.start &&
                     quorvel::bytesToMebibytes(bytes) == readDecimal(plainSizeText(row.texts[2]));
  if (!exact) return range;
  const std::uint64_t sectors = bytes / 512 + (bytes % 512 != 0);
  if (__builtin_add_overflow(range.start, static_cast<std::int64_t>(std::min<std::uint64_t>(sectors, INT64_MAX)) - 1,
                             &range.end))
    range.end = std::numeric_limits<std::int64_t>::max();
  return range;
}

std::string stepSector(const std::string& text, int stepsUp) {
  std::int64_t value = readDecimal(text);
  if (stepsUp > 0 && value < std::numeric_limits<std::int64_t>::max()) ++value;
  if (stepsUp < 0 && value > 0) --value;
  return decimalText(value);
}

VolumeRow VolumeListRows::rowFor(const quorvel::VolumeRecord& volume) {
  return {{volume.label, volume.kind, volume.sizeText, decimalText(volume.startSector)}, volume, volume};
}

void VolumeListRows::insertRow(const quorvel::VolumeRecord& volume, bool atTop) {
  if (atTop)
    rows_.insert(rows_.begin(), rowFor(volume));
  else
    rows_.push_back(rowFor(volume));
}

void VolumeListRows::clear() {
  rows_.clear();
  volumes_.clear();
}

void VolumeListRows::setListed(std::vector<quorvel::VolumeRecord> volumes) {
  clear();
  volumes_ = std::move(volumes);
  for (std::size_t i = 0; i < volumes_.size(); ++i) {
    volumes_[i].label = std::to_string(i);
    insertRow(volumes_[i], false);
  }
}

void VolumeListRows::addFound(const quorvel::VolumeRecord& volume) {
  volumes_.push_back(volume);
  insertRow(volume, true);
}

int VolumeListRows::addCustom() {
  quorvel::VolumeRecord custom;
  custom.kind = "CUSTOM ";
  custom.label = std::to_string(volumes_.size());
  custom.sizeText = "0";
  custom.startSector = 0;
  volumes_.push_back(custom);
  const bool atTop = mode_ == ListingMode::Advanced;
  insertRow(custom, atTop);
  return atTop ? 0 : static_cast<int>(rows_.size()) - 1;
}

void VolumeListRows::filter() {
  rows_.clear();
  for (std::size_t i = 1; i < volumes_.size(); ++i) {
    if (volumes_[i - 1].startSector == std::numeric_limits<std::int64_t>::max()) continue;
    if (volumes_[i].startSector != volumes_[i - 1].startSector + 1) continue;
    volumes_[i].label = std::to_string(i);
    insertRow(volumes_[i], true);
  }
}

NextStep VolumeListRows::next(int row, const CustomSetting& custom) {
  if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) return NextStep::NoSelection;
  VolumeRow& chosen = rows_[static_cast<std::size_t>(row)];
  quorvel::VolumeRecord& volume = chosen.record;

  if (!custom.ticked && customApplied_) {
    volume.label = chosen.texts[0];
    volume.kind = chosen.texts[1];
    volume.fileSystem = chosen.listed.fileSystem;
    volume.kindUnknown = chosen.listed.kindUnknown;
    volume.sizeText = plainSizeText(chosen.texts[2]);
    volume.startSector = readDecimal(chosen.texts[3]);
    // An exact size that no longer agrees with the row's text was the custom range's.
    if (quorvel::bytesToMebibytes(volume.sizeBytes) != readDecimal(volume.sizeText)) volume.sizeBytes = 0;
  }
  if (custom.ticked) {
    customApplied_ = true;
    const std::int64_t start = readDecimal(custom.startText);
    const std::int64_t end = readDecimal(custom.endText);
    volume.startSector = start;
    const auto first = static_cast<std::uint64_t>(start);
    const auto last = static_cast<std::uint64_t>(end);
    volume.sizeText =
        last > first ? decimalText(static_cast<std::int64_t>((last - first + 1) / kSectorsPerMebibyte)) : "0";
    // The range is exact; the size text only shows whole MiB.
    volume.sizeBytes = last > first && last - first < UINT64_MAX / 512 ? (last - first + 1) * 512 : 0;
    // The chosen entry is the user's word for a kind; the registry says which.
    if (const std::optional<quorvel::FileSystemId> kind = quorvel::fileSystemNamed(custom.treatAs)) {
      volume.kind = treatedKindText(*kind);
      volume.fileSystem = kind;
      volume.kindUnknown = false;
    }
    if (isRawEntry(custom.treatAs)) {
      volume.kind = kRawEntry;
      volume.fileSystem.reset();
      volume.kindUnknown = false;
      return NextStep::RawRecovery;
    }
  }
  if (volume.kindUnknown) return NextStep::UnknownVolume;
  return NextStep::RecoveryMode;
}

}  // namespace wizard
