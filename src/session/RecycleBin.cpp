#include "session/RecycleBin.h"

#include <map>
#include <vector>

#include "fs/Utf16.h"

namespace quorvel {

namespace {

// An index file names one deleted file; real ones stay far below this even
// with the longest paths of the newer layout.
constexpr std::uint64_t kMaxIndexFileBytes = 28 + 2 * 32768;

class MemorySink : public ContentSink {
 public:
  bool write(Bytes data) override {
    if (bytes.size() + data.size() > kMaxIndexFileBytes) return false;
    bytes.insert(bytes.end(), data.begin(), data.end());
    return true;
  }
  std::vector<std::uint8_t> bytes;
};

std::string withoutTrailingBlanks(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return text;
}

// index-file name -> former name, for the index files among a folder's children
std::map<std::string, std::string> readIndexFiles(const FileSystemParser& parser, EntryId folder) {
  std::map<std::string, std::string> names;
  for (const EntryId child : parser.children(folder)) {
    const std::string name = parser.name(child);
    if (name.rfind("$I", 0) != 0 || parser.isFolder(child) || parser.size(child) > kMaxIndexFileBytes) continue;
    MemorySink sink;
    if (!parser.readContent(child, sink)) continue;
    if (const auto former = formerNameFromIndexFile(sink.bytes); former && !former->empty())
      names[withoutTrailingBlanks(name)] = *former;
  }
  return names;
}

int restoreDataFileNames(FileSystemParser& parser, EntryId folder) {
  int renamed = 0;
  const std::map<std::string, std::string> names = readIndexFiles(parser, folder);
  if (names.empty()) return 0;
  const std::vector<EntryId> children = parser.children(folder);
  for (const auto& [indexName, formerName] : names) {
    const std::string dataName = "$R" + indexName.substr(2);
    for (const EntryId child : children) {
      if (withoutTrailingBlanks(parser.name(child)) != dataName) continue;
      parser.rename(child, formerName);
      ++renamed;
    }
  }
  return renamed;
}

}  // namespace

std::optional<std::string> formerNameFromIndexFile(Bytes content) {
  std::string path;
  if (le64(content, 0) == 2) {
    if (content.size() < 28) return std::nullopt;
    path = utf16leToUtf8(content.subspan(28), le32(content, 24));
  } else {
    if (content.size() < 24) return std::nullopt;
    path = utf16leToUtf8(content.subspan(24), content.size());
  }
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int restoreRecycleBinNames(FileSystemParser& parser) {
  const RecycleBinLayout layout = parser.recycleBinLayout();
  if (layout == RecycleBinLayout::None) return 0;
  int renamed = 0;
  for (const EntryId top : parser.topEntries()) {
    const std::string name = parser.name(top);
    if (!parser.isFolder(top) || (name != "$RECYCLE.BIN" && name != "$RECYCLEBIN")) continue;
    if (layout == RecycleBinLayout::FlatAndUserFolders) renamed += restoreDataFileNames(parser, top);
    for (const EntryId userFolder : parser.children(top))
      if (parser.isFolder(userFolder) && userFolder != top) renamed += restoreDataFileNames(parser, userFolder);
  }
  return renamed;
}

}  // namespace quorvel
