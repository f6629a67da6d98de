#include "fs/CatalogueWalk.h"

#include <unordered_set>
#include <vector>

namespace quorvel {

std::string itemPath(const CatalogueItem& item) {
  return item.folderPath.empty() ? item.name : item.folderPath + "/" + item.name;
}

bool walkCatalogue(const FileSystemParser& parser, std::optional<EntryId> start,
                   const std::function<bool(const CatalogueItem&)>& visit, JobContext* job,
                   const EnteringFolder& entering) {
  struct Level {
    std::vector<EntryId> ids;
    std::size_t next = 0;
    std::string path;
  };
  std::unordered_set<EntryId> entered;
  std::vector<Level> stack;
  if (start) {
    entered.insert(*start);
    stack.push_back({parser.children(*start), 0, {}});
  } else {
    stack.push_back({parser.topEntries(), 0, {}});
  }
  if (entering) entering(0, stack.back().ids);

  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next >= level.ids.size()) {
      stack.pop_back();
      continue;
    }
    if (job && !job->checkpoint()) return false;
    const EntryId id = level.ids[level.next++];
    CatalogueItem item{id, parser.name(id), level.path, parser.isFolder(id), static_cast<int>(stack.size()) - 1};
    if (!visit(item)) return false;
    if (!item.folder || item.name == "." || !entered.insert(id).second) continue;
    std::string path = item.name.empty() ? item.folderPath : itemPath(item);
    stack.push_back({parser.children(id), 0, std::move(path)});
    if (entering) entering(static_cast<int>(stack.size()) - 1, stack.back().ids);
  }
  return true;
}

}  // namespace quorvel
