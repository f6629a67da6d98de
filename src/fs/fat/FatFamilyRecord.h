#pragma once
// What every FAT-family catalogue record holds, whatever the volume kind:
// its name, its place in the record list and its data's placement.
#include <cstdint>
#include <string>

#include "fs/FileSystemParser.h"

namespace quorvel::fatfmt {

inline constexpr const char* kDummyEntryName = "DUMMY ENTRY";

struct FatFamilyRecord {
  std::string name;                // UTF-8
  std::uint32_t parentIndex = 0;   // the parent folder's index in the record list
  std::uint32_t ownIndex = 0;      // this record's index
  EntryId firstChild = kNoEntry;   // set by linkParentChild
  EntryId nextSibling = kNoEntry;
  std::uint64_t size = 0;          // bytes of content
  std::uint64_t allocated = 0;     // bytes the volume reserved (exFAT folders have no size of their own)
  std::uint32_t firstCluster = 0;
  bool folder = false;
  bool deleted = false;
  bool noFatChain = false;         // exFAT: one contiguous run, the FAT not used
  bool listed = true;              // false for the root placeholder
};

}  // namespace quorvel::fatfmt
