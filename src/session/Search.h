#pragma once
// Finding recovered files by name, for every kind of file system.
#include <functional>
#include <string>

#include "fs/FileSystemParser.h"
#include "session/NamePattern.h"

namespace quorvel {

inline constexpr const char* kSearchHint = "* Use \"|\" to find multiple file type ";
inline constexpr const char* kSearchNotAllowed =
    "such characters are not allowed for search.Try again with different pattern.";
inline constexpr const char* kSearchingFinished = "Searching Finished";

struct SearchHit {
  EntryId id = kNoEntry;
  std::string path;  // "ROOT/folder/name"
};

// Tests every file below the top entries; folders are never matched. Stop
// and Pause take effect between names, and no name takes long to test. Stop
// ends the whole search. Returns false when it was stopped.
bool searchEntries(const FileSystemParser& parser, const NamePattern& pattern, JobContext& job,
                   const std::function<void(const SearchHit&)>& onHit);

enum class SearchOutcome { Finished, Stopped, EmptyPattern, InvalidPattern };

// The search button's work: compiles the text, says what the user must know
// ("such characters are not allowed...", "Searching Finished") and searches.
SearchOutcome runSearch(const FileSystemParser& parser, const std::string& patternText, JobContext& job,
                        const std::function<void(const SearchHit&)>& onHit);

}  // namespace quorvel
