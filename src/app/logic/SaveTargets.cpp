#include "logic/SaveTargets.h"

#include "logic/ProgressSpan.h"

namespace wizard {

namespace {

bool isFile(const quorvel::FileSystemParser& parser, const SaveTarget& target) {
  return target.entry && !parser.isFolder(*target.entry);
}

std::uint64_t filesOf(const quorvel::FileSystemParser& parser, const SaveTarget& target, quorvel::JobContext& job) {
  return isFile(parser, target) ? 1 : quorvel::countFiles(parser, target.entry, &job);
}

// The folder a target goes into, made level by level inside the output
// folder; none when a level cannot be made there.
std::optional<std::filesystem::path> targetFolder(const std::filesystem::path& outputFolder,
                                                  const std::vector<std::string>& into) {
  std::optional<std::filesystem::path> folder = outputFolder;
  for (const std::string& name : into) {
    folder = quorvel::makeFolder(name, *folder);
    if (!folder) return std::nullopt;
  }
  return folder;
}

}  // namespace

SaveTarget checkedTarget(const quorvel::FileSystemParser& parser, const std::vector<quorvel::EntryId>& ancestors,
                         std::optional<quorvel::EntryId> item) {
  SaveTarget target{item, {}};
  if (!item) return target;
  std::vector<quorvel::EntryId> levels = ancestors;
  if (parser.isFolder(*item)) levels.push_back(*item);
  for (const quorvel::EntryId folder : levels) {
    std::string name = parser.name(folder);
    if (!name.empty()) target.into.push_back(std::move(name));
  }
  return target;
}

std::uint64_t countTargetFiles(const quorvel::FileSystemParser& parser, const std::vector<SaveTarget>& targets,
                               quorvel::JobContext& job) {
  std::uint64_t count = 0;
  for (const SaveTarget& target : targets) {
    if (!job.checkpoint()) break;
    count += filesOf(parser, target, job);
  }
  return count;
}

quorvel::SaveSummary saveTargets(const quorvel::FileSystemParser& parser, const std::vector<SaveTarget>& targets,
                                 const std::filesystem::path& outputFolder, quorvel::JobContext& job,
                                 ProgressSpan* progress) {
  quorvel::SaveSummary summary;
  std::error_code ignored;
  std::filesystem::create_directories(outputFolder, ignored);
  const std::uint64_t total = countTargetFiles(parser, targets, job);
  if (progress) progress->beginWhole(static_cast<std::int64_t>(total));
  std::uint64_t done = 0;
  for (const SaveTarget& target : targets) {
    if (!job.checkpoint()) {
      summary.stopped = true;
      break;
    }
    const std::uint64_t files = filesOf(parser, target, job);
    if (progress) progress->setBase(static_cast<std::int64_t>(done));
    const std::optional<std::filesystem::path> folder = targetFolder(outputFolder, target.into);
    if (!folder) {
      summary.filesFailed += files;
    } else if (isFile(parser, target)) {
      job.setProgressRange(0, 1);
      job.setStatus("saving File  " + (*folder / quorvel::safeOutputName(parser.name(*target.entry))).string());
      job.setDetail("File size: " + std::to_string(parser.size(*target.entry) / 1024) + " kb");
      if (quorvel::saveSingleFile(parser, *target.entry, *folder))
        ++summary.filesSaved;
      else
        ++summary.filesFailed;
      job.setDetail("");
      job.setProgress(1);
    } else {
      const quorvel::SaveSummary part = quorvel::saveFolderContents(parser, target.entry, *folder, job);
      summary.filesSaved += part.filesSaved;
      summary.filesFailed += part.filesFailed;
      if (part.stopped) {
        summary.stopped = true;
        break;
      }
    }
    done += files;
  }
  if (progress) progress->endWhole();
  job.setProgressRange(0, static_cast<std::int64_t>(total));
  job.setProgress(static_cast<std::int64_t>(total));
  return summary;
}

}  // namespace wizard
