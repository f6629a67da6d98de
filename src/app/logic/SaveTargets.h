#pragma once
// What the Save button writes: the checked files and folders, each below the
// folders that lead to it, or the selected folder's contents when nothing is
// checked. Runs on the save job's worker; Stop and Pause go through the job.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"
#include "session/Saving.h"

namespace wizard {

class ProgressSpan;

struct SaveTarget {
  // A file, or a folder whose contents are written; none: everything below
  // the tree's top item.
  std::optional<quorvel::EntryId> entry;
  // The folders below the output folder it is written into.
  std::vector<std::string> into;
};

// A checked item: `ancestors` are the folders from below the top item down to
// the item's folder. A checked folder goes into a folder of its own name, a
// file beside it; nameless folders add no level, as in a folder's save.
SaveTarget checkedTarget(const quorvel::FileSystemParser& parser, const std::vector<quorvel::EntryId>& ancestors,
                         std::optional<quorvel::EntryId> item);

// The files the targets hold; a file counts one.
std::uint64_t countTargetFiles(const quorvel::FileSystemParser& parser, const std::vector<SaveTarget>& targets,
                               quorvel::JobContext& job);

// Writes every target into `outputFolder`. The job reports one progress from
// 0 to the count of files when `progress` is the job's observer.
quorvel::SaveSummary saveTargets(const quorvel::FileSystemParser& parser, const std::vector<SaveTarget>& targets,
                                 const std::filesystem::path& outputFolder, quorvel::JobContext& job,
                                 ProgressSpan* progress);

}  // namespace wizard
