#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"

namespace quorvel {

struct CatalogueItem {
  EntryId id = kNoEntry;
  std::string name;
  // Folder names from the walk's start down to the item's folder, joined by
  // '/'; empty for the start's own children. Nameless folders add nothing.
  std::string folderPath;
  bool folder = false;
  int depth = 0;
};

// Visits every entry below `start` (the top entries when empty): depth
// first, a folder before its contents, children in catalogue order. Each
// folder is entered at most once, so damaged volumes whose folders contain
// their own ancestors cannot loop; folders named "." are shown, not entered.
// `visit` returns false to end the walk; so does a stopped job. Returns
// whether the walk ran to its end. `entering`, when given, sees each list
// of children (the start's first) before any of them is visited, with the
// depth they are visited at.
using EnteringFolder = std::function<void(int depth, const std::vector<EntryId>& children)>;
bool walkCatalogue(const FileSystemParser& parser, std::optional<EntryId> start,
                   const std::function<bool(const CatalogueItem&)>& visit, JobContext* job = nullptr,
                   const EnteringFolder& entering = nullptr);

// The entry's full path as the list shows it: folderPath and name.
std::string itemPath(const CatalogueItem& item);

}  // namespace quorvel
