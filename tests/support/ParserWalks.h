#pragma once
// Walks over a parser's catalogue that tests share.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "fs/FileSystemParser.h"

namespace quorvel::test {

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
