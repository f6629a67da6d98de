#include "session/Search.h"

#include <locale>
#include <regex>

#include "fs/CatalogueWalk.h"
#include "fs/Utf8.h"
#include "session/Saving.h"

namespace quorvel {

struct NamePattern::Compiled {
  std::wregex expression;
};

namespace {
// Case folding beyond ASCII needs a Unicode locale; C.UTF-8 ships with glibc.
std::locale unicodeLocale() {
  try {
    return std::locale("C.UTF-8");
  } catch (const std::runtime_error&) {
    return std::locale::classic();
  }
}
}  // namespace

std::optional<NamePattern> NamePattern::compile(const std::string& utf8Text) {
  auto compiled = std::make_shared<Compiled>();
  try {
    compiled->expression.imbue(unicodeLocale());
    compiled->expression.assign(utf8ToWide(utf8Text), std::regex_constants::ECMAScript | std::regex_constants::icase);
  } catch (const std::regex_error&) {
    return std::nullopt;
  }
  NamePattern pattern;
  pattern.compiled_ = std::move(compiled);
  return pattern;
}

bool NamePattern::matchesPattern(const std::string& utf8Name) const {
  try {
    return std::regex_search(utf8ToWide(utf8Name), compiled_->expression);
  } catch (const std::regex_error&) {
    return false;  // too complex for this name: no match rather than no search
  }
}

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
