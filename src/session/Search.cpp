#include "session/Search.h"

#include "fs/CatalogueWalk.h"
#include "session/Saving.h"

namespace quorvel {

bool searchEntries(const FileSystemParser& parser, const NamePattern& pattern, JobContext& job,
                   const std::function<void(const SearchHit&)>& onHit) {
  const std::uint64_t total = countFiles(parser, std::nullopt, &job);
  job.setProgressRange(0, static_cast<std::int64_t>(total));
  std::uint64_t visited = 0;
  std::uint64_t rows = 0;
  const bool complete = walkCatalogue(
      parser, std::nullopt,
      [&](const CatalogueItem& item) {
        if (item.folder) return true;
        job.setProgress(static_cast<std::int64_t>(visited++));
        if (!pattern.matchesPattern(item.name)) return true;
        onHit({item.id, "ROOT/" + itemPath(item)});
        job.setStatus("searched file " + std::to_string(++rows));
        return true;
      },
      &job);
  job.setProgress(static_cast<std::int64_t>(total));
  return complete;
}

SearchOutcome runSearch(const FileSystemParser& parser, const std::string& patternText, JobContext& job,
                        const std::function<void(const SearchHit&)>& onHit) {
  SearchOutcome outcome = SearchOutcome::EmptyPattern;
  if (!patternText.empty()) {
    const std::optional<NamePattern> pattern = NamePattern::compile(patternText);
    if (!pattern) {
      job.showMessage(kSearchNotAllowed);
      return SearchOutcome::InvalidPattern;
    }
    outcome = searchEntries(parser, *pattern, job, onHit) ? SearchOutcome::Finished : SearchOutcome::Stopped;
  }
  job.setStatus("");
  job.showMessage(kSearchingFinished);
  return outcome;
}

}  // namespace quorvel
