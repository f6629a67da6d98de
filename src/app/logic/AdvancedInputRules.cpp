#include "logic/AdvancedInputRules.h"

#include <cstdio>

#include "fs/FileSystemKinds.h"
#include "fs/fatfamily/FatCopySearch.h"
#include "logic/DecimalText.h"

namespace wizard {

namespace {

using quorvel::FileSystemId;

// The kind, when it offers the Advanced mode.
std::optional<FileSystemId> advancedKind(std::optional<FileSystemId> kind) {
  if (kind && quorvel::fileSystemKind(*kind).offers(quorvel::RecoveryMode::Advanced)) return kind;
  return std::nullopt;
}

std::string formatted(const char* format, std::size_t first, std::size_t second = 0) {
  char text[256];
  std::snprintf(text, sizeof text, format, static_cast<int>(first), static_cast<int>(second));
  return text;
}

constexpr const char* kParsingDone = "Parsing done.Click Next to continue.";

}  // namespace

AdvancedInputLayout advancedInputLayout(std::optional<FileSystemId> kind) {
  AdvancedInputLayout layout;
  layout.firstCaption = "TFS :";
  kind = advancedKind(kind);
  if (!kind) return layout;
  // Which lists the screen shows is the kind's to say; their texts are the screen's.
  const quorvel::AdvancedInputs& inputs = quorvel::fileSystemKind(*kind).advanced;
  layout.searches = inputs.candidates;
  layout.clusterListShown = inputs.clusterSize;
  // A list without its caption would leave the user guessing what it is.
  layout.heapListShown = inputs.heapOffset;
  switch (*kind) {
    case FileSystemId::Ntfs:
      layout.openingStatus = "ntfs partition selected....";
      break;
    case FileSystemId::Fat16:
      layout.firstCaption = "Total fat16 Entries Found:";
      layout.searchStatus = "Finding Fat entries....";
      break;
    case FileSystemId::ExFat:
      layout.firstCaption = "Total fat64 Entries Found:";
      layout.searchStatus = "Finding Fat64 entries....";
      break;
    case FileSystemId::Fat32:
    case FileSystemId::Ext:
    case FileSystemId::HfsPlus:
      break;
  }
  return layout;
}

int maxCandidates(int typed) { return typed < 1 ? 3 : typed; }

std::vector<std::string> fixedClusterChoices(std::optional<FileSystemId> kind) {
  kind = advancedKind(kind);
  if (!kind) return {};
  switch (*kind) {
    case FileSystemId::Ntfs: return {"8", "4", "2", "16", "32", "64"};
    // The screen's fixed lists, then every size a FAT volume may also have.
    case FileSystemId::Fat16: return quorvel::fatfmt::clusterSizeChoices(quorvel::fatfmt::FatCopyKind::Fat16, std::nullopt);
    case FileSystemId::Fat32: return quorvel::fatfmt::clusterSizeChoices(quorvel::fatfmt::FatCopyKind::Fat32, std::nullopt);
    case FileSystemId::ExFat: return quorvel::fatfmt::clusterSizeChoices(quorvel::fatfmt::FatCopyKind::ExFat, std::nullopt);
    case FileSystemId::Ext:
    case FileSystemId::HfsPlus: break;
  }
  return {};
}

std::vector<std::string> clusterChoiceTexts(std::optional<FileSystemId> kind, const std::vector<std::string>& values) {
  if (advancedKind(kind) != FileSystemId::ExFat) return values;
  std::vector<std::string> texts;
  for (const std::string& value : values) {
    const std::int64_t shift = readDecimal(value);
    if (shift < 0 || shift > 16) {
      texts.push_back(value);
      continue;
    }
    const std::uint64_t bytes = std::uint64_t{512} << shift;
    const std::string size = bytes < 1024          ? std::to_string(bytes) + "-byte"
                             : bytes < 1024 * 1024 ? std::to_string(bytes / 1024) + " KiB"
                                                   : std::to_string(bytes / (1024 * 1024)) + " MiB";
    texts.push_back(value + " (" + size + " clusters)");
  }
  return texts;
}

bool nextOffered(std::optional<FileSystemId> kind, const quorvel::CandidateLists& lists, bool stopped) {
  if (!stopped) return true;
  kind = advancedKind(kind);
  if (!kind) return true;
  const quorvel::AdvancedInputs& inputs = quorvel::fileSystemKind(*kind).advanced;
  if (inputs.candidates && lists.tfs.empty()) return false;
  return !(inputs.heapOffset && lists.heapOffsets.empty());
}

SearchReport searchReport(std::optional<FileSystemId> kind, const quorvel::CandidateLists& lists) {
  const std::size_t found = lists.tfs.size();
  kind = advancedKind(kind);
  if (!kind) return {};
  switch (*kind) {
    case FileSystemId::Ntfs:
      return {formatted("Number of MFT-ENTRY found = %d . Please select the choice from combo box and click Next "
                        "button to proceed.",
                        found),
              "Parsing done.Click next to continue."};
    case FileSystemId::Fat16:
      return {formatted("Number of FAT-ENTRY found = %d . Please select the choice from combo box and click Next "
                        "button to proceed.",
                        found),
              kParsingDone};
    case FileSystemId::Fat32:
      if (found == 0) return {"NO FAT  FAT32-ENTRY found ..", ""};
      return {formatted("Number of FAT32-ENTRY found = %d . Please select the choice from combo box and click Next "
                        "button to proceed.",
                        found),
              kParsingDone};
    case FileSystemId::ExFat:
      return {formatted("Number of FAT64-ENTRY found = %d and Number of HeapOffset-ENTRY found =  %d  . Please "
                        "select the choice from ( Entry and Heap ) Combobox and click Next button to proceed.",
                        found, lists.heapOffsets.size()),
              kParsingDone};
    case FileSystemId::Ext:
    case FileSystemId::HfsPlus:
      break;
  }
  return {};
}

std::optional<quorvel::AdvancedChoices> advancedChoices(const quorvel::CandidateLists& lists, int candidate,
                                                        int clusterChoice, int heapOffset, bool formatted,
                                                        int maxCount) {
  const auto within = [](int index, const std::vector<std::string>& list) {
    return index >= 0 && static_cast<std::size_t>(index) < list.size();
  };
  if (!within(candidate, lists.tfs) || !within(clusterChoice, lists.sectorsPerCluster)) return std::nullopt;
  quorvel::AdvancedChoices choices;
  choices.tfs = candidate;
  const std::int64_t value = readDecimal(lists.sectorsPerCluster[static_cast<std::size_t>(clusterChoice)]);
  choices.sectorsPerCluster = value > 0 && value < (1 << 16) ? static_cast<int>(value) : 0;
  choices.heapOffset = within(heapOffset, lists.heapOffsets) ? heapOffset : -1;
  choices.formatted = formatted;
  choices.maxCandidates = maxCandidates(maxCount);
  return choices;
}

}  // namespace wizard
