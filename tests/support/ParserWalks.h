#pragma once
// Walks over a parser's catalogue that tests share.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
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

// How often each name is listed anywhere below the top.
inline std::map<std::string, int> listingsByName(const FileSystemParser& parser) {
  std::map<std::string, int> counts;
  std::set<EntryId> entered;
  std::vector<EntryId> stack = parser.topEntries();
  while (!stack.empty()) {
    const EntryId id = stack.back();
    stack.pop_back();
    ++counts[parser.name(id)];
    if (entered.insert(id).second)
      for (EntryId c : parser.children(id)) stack.push_back(c);
  }
  return counts;
}

}  // namespace quorvel::test
