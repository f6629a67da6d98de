#pragma once
// What the contract asks of a scanned catalogue, checked in one walk that
// also records what a second scan must reproduce.
#include <cstdint>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"

namespace quorvel::test {

// One entry as the walk met it: what the browser and saving would show.
struct ListedEntry {
  EntryId id = kNoEntry;
  std::string path;  // names from the top down, '/'-separated
  bool folder = false;
  bool deleted = false;
  bool listRow = false;
  std::uint64_t size = 0;
  std::string texts;  // the row's times and attributes, and the size text
  // Filled when content is read.
  bool readWhole = false;
  std::uint64_t streamed = 0;
  std::uint64_t digest = 0;

  bool operator==(const ListedEntry&) const = default;
};

struct CatalogueRules {
  bool readContent = true;
  // Intact volumes: every entry has a name.
  bool namesRequired = false;
  // Intact volumes: every file that is not deleted reads whole.
  bool liveFilesWhole = false;
  // A file streams size(id) bytes even when its read reports failure.
  bool wholeSizeAlways = false;
};

struct CatalogueReport {
  std::vector<ListedEntry> entries;  // in walk order: depth first, children in catalogue order
  std::vector<std::string> problems;
};

// Walks the catalogue from the top entries: every id is called through
// every accessor, met at most once, and its children are the same on a
// second call. With readContent, every entry is read into a sink that
// refuses anything past size(id): a read delivers at most size(id) bytes,
// exactly that many when it reports success, and never guard bytes.
CatalogueReport checkCatalogue(const FileSystemParser& parser, const CatalogueRules& rules);

// "path (id 7)"
std::string describe(const ListedEntry& entry);

}  // namespace quorvel::test
