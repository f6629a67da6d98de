#include "contract/CatalogueContract.h"

#include <functional>
#include <set>
#include <string_view>
#include <utility>

#include "contract/GuardedVolume.h"

namespace quorvel::test {

namespace {

// Far beyond any test volume's catalogue; a walk that gets here is not
// meeting an end.
constexpr std::size_t kMostEntries = 1u << 20;

// Takes content up to a limit: counts it, digests it and looks for the
// guard marker. What would pass the limit is refused and only counted.
class BoundedSink : public ContentSink {
 public:
  explicit BoundedSink(std::uint64_t limit) : limit_(limit) {}

  // Pieces and holes are digested as they come: a parser hands the same
  // content over in the same pieces each time, so equal contents digest
  // equally. (The library's hash is fast even in a sanitizer build.)
  bool write(Bytes data) override {
    if (!take(data.size())) return false;
    mix(std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(data.data()), data.size())));
    marker_.add(data);
    return true;
  }
  bool zeros(std::uint64_t count) override {
    if (!take(count)) return false;
    mix(count ^ 0x5A5A5A5A5A5A5A5Aull);
    return true;
  }

  std::uint64_t streamed() const { return streamed_; }
  std::uint64_t digest() const { return digest_; }
  bool sawMarker() const { return marker_.found(); }

 private:
  void mix(std::uint64_t value) { digest_ = (digest_ ^ value) * 0x100000001B3ull; }

  bool take(std::uint64_t count) {
    streamed_ += count;
    return streamed_ <= limit_;
  }

  std::uint64_t limit_;
  std::uint64_t streamed_ = 0;
  std::uint64_t digest_ = 0xCBF29CE484222325ull;
  GuardMarkerSearch marker_;
};

}  // namespace

std::string describe(const ListedEntry& entry) {
  return (entry.path.empty() ? "(nameless)" : entry.path) + " (id " + std::to_string(entry.id) + ")";
}

CatalogueReport checkCatalogue(const FileSystemParser& parser, const CatalogueRules& rules) {
  CatalogueReport report;
  std::set<EntryId> met;
  // Pairs of (id, its folder's path); the top entries are pushed reversed
  // so that the walk takes them, and every folder's children, in order.
  std::vector<std::pair<EntryId, std::string>> stack;
  const auto push = [&](const std::vector<EntryId>& ids, const std::string& folder) {
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) stack.emplace_back(*it, folder);
  };
  push(parser.topEntries(), "");
  while (!stack.empty()) {
    auto [id, folder] = std::move(stack.back());
    stack.pop_back();
    if (id == kNoEntry) {
      report.problems.push_back("kNoEntry listed in " + (folder.empty() ? "the top entries" : folder));
      continue;
    }
    if (met.size() >= kMostEntries) {
      report.problems.push_back("more than " + std::to_string(kMostEntries) + " entries: the walk was cut");
      break;
    }

    ListedEntry e;
    e.id = id;
    const std::string name = parser.name(id);
    e.path = folder.empty() ? name : folder + "/" + name;
    e.folder = parser.isFolder(id);
    e.deleted = parser.isDeleted(id);
    e.listRow = parser.getsListRow(id);
    e.size = parser.size(id);
    parser.times(id);
    const RowTexts row = parser.formatRow(id);
    e.texts =
        row.created + "|" + row.accessed + "|" + row.modified + "|" + row.attributes + "|" + parser.formatSize(id);
    if (!met.insert(id).second) {
      report.problems.push_back(describe(e) + " met twice");
      continue;
    }
    if (rules.namesRequired && name.empty()) report.problems.push_back(describe(e) + " has no name");

    if (rules.readContent) {
      BoundedSink sink(e.size);
      e.readWhole = parser.readContent(id, sink);
      e.streamed = sink.streamed();
      e.digest = sink.digest();
      const std::string counts = std::to_string(e.streamed) + " bytes of " + std::to_string(e.size);
      if (e.streamed > e.size)
        report.problems.push_back(describe(e) + " streamed past its size: " + counts);
      else if (e.readWhole && e.streamed != e.size)
        report.problems.push_back(describe(e) + " reports a whole read of " + counts);
      else if (rules.wholeSizeAlways && !e.folder && !parser.neverSaved(id) && e.streamed != e.size)
        report.problems.push_back(describe(e) + " read in part, not kept to its size: " + counts);
      if (rules.liveFilesWhole && !e.folder && !e.deleted && !e.readWhole)
        report.problems.push_back(describe(e) + " is live but does not read whole: " + counts);
      if (sink.sawMarker()) report.problems.push_back(describe(e) + " holds guard bytes: read outside its volume");
    }

    const std::vector<EntryId> children = parser.children(id);
    if (parser.children(id) != children)
      report.problems.push_back(describe(e) + " lists its children in another order");
    report.entries.push_back(std::move(e));
    push(children, report.entries.back().path);
  }
  return report;
}

}  // namespace quorvel::test
