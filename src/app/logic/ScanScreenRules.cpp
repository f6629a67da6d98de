#include "logic/ScanScreenRules.h"

#include <string_view>

namespace wizard {

using quorvel::FileSystemId;

ScreenMessage missingSourceMessage(std::optional<FileSystemId> kind) {
  if (kind == FileSystemId::Ntfs || kind == FileSystemId::Fat32)
    return {"Please Restart the program to re begin necessary initialization...", true};
  // Every kind says something: a screen that silently does nothing leaves the user stuck.
  return {"Please Restart the program to rebegin necessary initialisation...", false};
}

std::string choosingStatus(std::optional<FileSystemId> kind) {
  if (kind == FileSystemId::Ntfs) return "ntfs partition selected....";
  if (kind == FileSystemId::HfsPlus) return "HFS+ partition selected....";
  return {};
}

std::string volumeDataText(const quorvel::VolumeRecord& volume) {
  return volume.volumeName.empty() ? volume.label : volume.volumeName;
}

std::vector<std::string> listRowTexts(const quorvel::FileSystemParser& parser, quorvel::EntryId id,
                                      const std::string& firstColumn) {
  const quorvel::RowTexts row = parser.formatRow(id);
  return {firstColumn, row.created, row.accessed, row.modified, parser.formatSize(id), row.attributes};
}

std::string listRowToolTip(const quorvel::FileSystemParser& parser, quorvel::EntryId id) {
  const char* from = parser.recoveredFrom(id);
  if (from && std::string_view(from) == "journal")
    return "Deleted file recovered from the journal: its size and content come from an older copy the journal kept.";
  return {};
}

std::string fileDumpedMessage(const std::string& path) { return "file is dumped in path  :  " + path + "   "; }

std::string fileNotDumpedMessage(const std::string& path) { return "file could not be dumped in path  :  " + path; }

std::vector<std::string> hitFolders(const std::string& path, const std::string& name) {
  // The top item's name and the entry's own name are no folders of it; the
  // name is cut by its length, since a name may hold a slash itself.
  const std::size_t top = path.find('/');
  if (top == std::string::npos || path.size() < name.size()) return {};
  const std::size_t end = path.size() - name.size();
  std::vector<std::string> folders;
  std::string folder;
  for (std::size_t i = top + 1; i < end; ++i) {
    if (path[i] != '/') {
      folder += path[i];
      continue;
    }
    if (!folder.empty()) folders.push_back(std::move(folder));
    folder.clear();
  }
  if (!folder.empty()) folders.push_back(std::move(folder));
  return folders;
}

}  // namespace wizard
