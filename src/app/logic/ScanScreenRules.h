#pragma once
// The scan screen's rules that need no display: what it says when it cannot
// start, what it shows about the volume, and the texts of a file-list row.
#include <optional>
#include <string>
#include <vector>

#include "fs/FileSystemId.h"
#include "fs/FileSystemParser.h"
#include "volumes/VolumeRecord.h"

namespace wizard {

struct ScreenMessage {
  std::string text;
  bool captioned = true;  // an information box; else a plain box
};

// What the user is told when the program has no sector source to scan.
ScreenMessage missingSourceMessage(std::optional<quorvel::FileSystemId> kind);

// The status shown once the parser for the kind has been chosen; empty for
// kinds that say nothing then.
std::string choosingStatus(std::optional<quorvel::FileSystemId> kind);

// "Volume Data:": the volume's name, else its label.
std::string volumeDataText(const quorvel::VolumeRecord& volume);

// The file list's columns after the first.
inline constexpr const char* kListColumns[] = {"File(s) List", "Creation Time", "Access Time",
                                                "Modification Time", "Size", "Attribute"};

// A row of the file list, in column order: `firstColumn` (the entry's name,
// or its full path for a search result), the three times, size, attributes.
std::vector<std::string> listRowTexts(const quorvel::FileSystemParser& parser, quorvel::EntryId id,
                                      const std::string& firstColumn);

// What the list says over a row beyond its columns: where a deleted file's
// content came from when it was not where the file system points now; empty
// otherwise.
std::string listRowToolTip(const quorvel::FileSystemParser& parser, quorvel::EntryId id);

// "file is dumped in path  :  %s   ", or what a file that could not be
// written says instead.
std::string fileDumpedMessage(const std::string& path);
std::string fileNotDumpedMessage(const std::string& path);

// The folders a search hit lies in, from its "ROOT/a/b/name" path.
std::vector<std::string> hitFolders(const std::string& path, const std::string& name);

}  // namespace wizard
