#pragma once
// An in-memory catalogue behind the parser interface, for testing what is
// written once for every file system: walks, saving, search, recycle bin.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/TextFormats.h"

namespace quorvel::test {

class FakeParser : public FileSystemParser {
 public:
  struct Entry {
    std::string name;
    EntryId parent = kNoEntry;  // kNoEntry: a top entry
    bool folder = false;
    bool deleted = false;
    std::vector<std::uint8_t> content = {};
    std::uint64_t sparseTail = 0;  // zero bytes after the content, as a hole
    bool unreadable = false;
    bool neverSaved = false;
    EntryTimes times = {};
    std::vector<EntryId> extraChildren = {};  // links a damaged volume may hold
    std::optional<std::uint64_t> claimedSize = {};  // a size the content does not have
  };

  EntryId add(Entry entry) {
    entries.push_back(std::move(entry));
    return static_cast<EntryId>(entries.size() - 1);
  }
  EntryId folder(const std::string& name, EntryId parent = kNoEntry) {
    return add({.name = name, .parent = parent, .folder = true});
  }
  EntryId file(const std::string& name, EntryId parent = kNoEntry, std::string text = "") {
    return add({.name = name, .parent = parent, .content = std::vector<std::uint8_t>(text.begin(), text.end())});
  }

  bool scan(const FileReadSeek&, const ScanRequest&, JobContext& job) override {
    job.setStatus("fake scan");
    return scanSucceeds;
  }
  RecycleBinLayout recycleBinLayout() const override { return recycleBin; }

  std::vector<EntryId> topEntries() const override { return childrenOf(kNoEntry); }
  std::vector<EntryId> children(EntryId folder) const override {
    std::vector<EntryId> out = childrenOf(folder);
    const auto& extra = entries.at(folder).extraChildren;
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
  }
  std::string name(EntryId id) const override { return entries.at(id).name; }
  bool isFolder(EntryId id) const override { return entries.at(id).folder; }
  bool isDeleted(EntryId id) const override { return entries.at(id).deleted; }
  std::uint64_t size(EntryId id) const override {
    const Entry& e = entries.at(id);
    return e.claimedSize.value_or(e.content.size() + e.sparseTail);
  }
  EntryTimes times(EntryId id) const override { return entries.at(id).times; }
  RowTexts formatRow(EntryId id) const override {
    const EntryTimes& t = entries.at(id).times;
    return {t.created ? timeText(*t.created) : "", t.accessed ? timeText(*t.accessed) : "",
            t.modified ? timeText(*t.modified) : "", ""};
  }
  bool readContent(EntryId id, ContentSink& sink) const override {
    const Entry& e = entries.at(id);
    if (e.unreadable) return false;
    return sink.write(e.content) && (e.sparseTail == 0 || sink.zeros(e.sparseTail));
  }
  bool neverSaved(EntryId id) const override { return entries.at(id).neverSaved; }
  void rename(EntryId id, const std::string& newName) override { entries.at(id).name = newName; }

  std::vector<Entry> entries;
  bool scanSucceeds = true;
  RecycleBinLayout recycleBin = RecycleBinLayout::UserFolders;

 private:
  std::vector<EntryId> childrenOf(EntryId parent) const {
    std::vector<EntryId> out;
    for (EntryId i = 0; i < entries.size(); ++i)
      if (entries[i].parent == parent) out.push_back(i);
    return out;
  }
};

}  // namespace quorvel::test
