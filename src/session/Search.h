#pragma once
// Finding recovered files by name, for every kind of file system.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "fs/FileSystemParser.h"

namespace quorvel {

inline constexpr const char* kSearchHint = "* Use \"|\" to find multiple file type ";
inline constexpr const char* kSearchNotAllowed =
    "such characters are not allowed for search.Try again with different pattern.";
inline constexpr const char* kSearchingFinished = "Searching Finished";

// A search pattern: an ECMAScript regular expression found anywhere in a
// name, ignoring case, over Unicode characters ("jpg|png" finds either).
class NamePattern {
 public:
  // None when the text is not a valid expression.
  static std::optional<NamePattern> compile(const std::string& utf8Text);
  bool matchesPattern(const std::string& utf8Name) const;

 private:
  struct Compiled;
  std::shared_ptr<const Compiled> compiled_;
};

struct SearchHit {
  EntryId id = kNoEntry;
  std::string path;  // "ROOT/folder/name"
};

// Tests every file below the top entries; folders are never matched. Stop
// ends the whole search. Returns false when it was stopped.
bool searchEntries(const FileSystemParser& parser, const NamePattern& pattern, JobContext& job,
                   const std::function<void(const SearchHit&)>& onHit);

enum class SearchOutcome { Finished, Stopped, EmptyPattern, InvalidPattern };

// The search button's work: compiles the text, says what the user must know
// ("such characters are not allowed...", "Searching Finished") and searches.
SearchOutcome runSearch(const FileSystemParser& parser, const std::string& patternText, JobContext& job,
                        const std::function<void(const SearchHit&)>& onHit);

}  // namespace quorvel
