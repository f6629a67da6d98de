#pragma once
// The one road every save takes, from the wizard and the command line: the
// user's targets (a folder's contents, a file, the checked rows) become
// output files and folders, counted once, named once per output folder and
// written through SaveWriters. Runs on the save job's worker thread.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"
#include "session/Saving.h"

namespace quorvel {

struct SaveTarget {
  // A file, or a folder whose contents are written; none: everything below
  // the tree's top item.
  std::optional<EntryId> entry;
  // The folders below the output folder it is written into.
  std::vector<std::string> into;
};

// A checked item: `ancestors` are the folders from below the top item down
// to the item's folder. A checked folder goes into a folder of its own name,
// a file beside it; nameless folders add no level, as in a folder's save.
SaveTarget checkedTarget(const FileSystemParser& parser, const std::vector<EntryId>& ancestors,
                         std::optional<EntryId> item);

class SavePlan {
 public:
  SavePlan(const FileSystemParser& parser, std::vector<SaveTarget> targets);

  // The files the targets hold (a file target counts one); walked once, on
  // the first call. Stop ends the count early.
  std::uint64_t fileCount(JobContext& job);

  // Writes every target into `outputFolder` (made when missing). Within the
  // save no entry's output replaces another's: in each output folder a live
  // entry keeps its name and a deleted or later one of the same name gets a
  // numbered one; files that were there before the save are replaced. The
  // job shows one progress from 0 to the file count.
  SaveSummary run(const std::filesystem::path& outputFolder, JobContext& job);

 private:
  const FileSystemParser& parser_;
  std::vector<SaveTarget> targets_;
  std::optional<std::uint64_t> fileCount_;
};

}  // namespace quorvel
