#pragma once
// Walks over a parser's catalogue that tests share.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "fs/FileSystemParser.h"
#include "support/ContentSinks.h"

namespace quorvel::test {

// The names of the given entries, in order.
inline std::vector<std::string> namesOf(const FileSystemParser& parser, const std::vector<EntryId>& ids) {
  std::vector<std::string> names;
  for (const EntryId id : ids) names.push_back(parser.name(id));
  return names;
}

// An entry's whole content; `complete` says whether the read was whole.
inline std::vector<std::uint8_t> contentOf(const FileSystemParser& parser, EntryId id, bool* complete = nullptr) {
  CollectingSink sink;
  const bool ok = parser.readContent(id, sink);
  if (complete) *complete = ok;
  return sink.bytes;
}

// Every entry reachable from the top, each expected once: children lists
// must neither repeat an entry nor lead back to an ancestor.
inline std::size_t countReachable(const FileSystemParser& parser) {
  std::set<EntryId> seen;
  std::vector<EntryId> stack = parser.topEntries();
  while (!stack.empty()) {
    const EntryId id = stack.back();
    stack.pop_back();
    EXPECT_TRUE(seen.insert(id).second) << "entry " << id << " reached twice";
    for (EntryId c : parser.children(id)) stack.push_back(c);
  }
  return seen.size();
}

}  // namespace quorvel::test
