#include "session/SavePlan.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>

#include "fs/CatalogueWalk.h"
#include "fs/OutputFile.h"
#include "session/HeldContent.h"
#include "session/OutputNames.h"
#include "session/SaveWriters.h"

namespace quorvel {

namespace {

// How many other names a save tries when links or folders hold the first.
constexpr int kNameAttempts = 16;

// The largest file a save reads into memory for a writer thread; larger
// ones are streamed from the source on the save's own thread.
constexpr std::size_t kHeldFileBytes = 1u << 20;

// Something other than a regular file sits at `path` (a link, a folder):
// the save must take another name rather than write there.
bool isHeldByOther(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

// Makes the folder unless it exists; `made` tells whether this call made it.
std::optional<std::filesystem::path> makeFolderAt(const std::filesystem::path& path, bool& made) {
  made = ::mkdir(path.c_str(), 0755) == 0;
  struct stat info {};
  // lstat: a link planted in the output folder must not lead the save out of it.
  if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  return path;
}

// One folder of the save's output and the names given out inside it.
struct OutputFolder {
  std::optional<std::filesystem::path> path;  // none: it could not be made
  bool made = false;                          // by this save, so it held nothing before
  OutputNames names;
};

bool isFileTarget(const FileSystemParser& parser, const SaveTarget& target) {
  return target.entry && !parser.isFolder(*target.entry);
}


class SaveRun {
 public:
  SaveRun(const FileSystemParser& parser, const std::filesystem::path& outputFolder, std::uint64_t total,
          JobContext& job)
      : parser_(parser), job_(job), writers_(job, saveWriterThreads()), total_(total) {
    root_ = folderAt(outputFolder, makeOutputFolder(outputFolder).made);
  }

  // Names the file targets of each output folder ahead, live ones first.
  void nameFileTargets(const std::vector<SaveTarget>& targets) {
    for (const bool deleted : {false, true})
      for (const SaveTarget& target : targets) {
        if (!isFileTarget(parser_, target) || parser_.isDeleted(*target.entry) != deleted) continue;
        if (OutputFolder* folder = intoFolder(target.into)) nameOf(*target.entry, *folder);
      }
  }

  // False when the job was stopped.
  bool saveTarget(const SaveTarget& target) {
    if (!job_.checkpoint()) return false;
    OutputFolder* folder = intoFolder(target.into);
    if (isFileTarget(parser_, target)) {
      const std::optional<std::filesystem::path> path = saveFile(*target.entry, folder);
      if (path && !summary_.firstFile) summary_.firstFile = path;
      return true;
    }
    if (!folder) {
      summary_.filesFailed += countFiles(parser_, target.entry, &job_);
      return true;
    }
    return saveContents(target.entry, *folder);
  }

  SaveSummary finish(bool stopped) {
    const SaveWriters::Counts written = writers_.counts();
    summary_.filesSaved += written.saved;
    summary_.filesFailed += written.failed;
    summary_.stopped = stopped;
    job_.setProgress(static_cast<std::int64_t>(total_));
    return summary_;
  }

 private:
  OutputFolder* folderAt(const std::filesystem::path& path, bool made) {
    auto& slot = folders_[path.native()];
    if (!slot) slot = std::make_unique<OutputFolder>(OutputFolder{path, made, {}});
    return slot.get();
  }

  // The folder a target goes into, made level by level below the output
  // folder; null when a level cannot be made there.
  OutputFolder* intoFolder(const std::vector<std::string>& into) {
    OutputFolder* folder = root_;
    for (const std::string& name : into) {
      if (!folder || !folder->path) return nullptr;
      bool made = false;
      const auto path = makeFolderAt(*folder->path / safeOutputName(name), made);
      if (!path) return nullptr;
      folder = folderAt(*path, made);
    }
    return folder && folder->path ? folder : nullptr;
  }

  std::string nameOf(EntryId id, OutputFolder& folder) { return folder.names.claim(parser_.name(id), id); }

  // The output folder of a catalogue folder; its name taken in `parent`.
  OutputFolder* subFolder(EntryId id, OutputFolder& parent) {
    if (!parent.path) return nullptr;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      const std::string name = nameOf(id, parent);
      bool made = false;
      if (const auto path = makeFolderAt(*parent.path / name, made)) return folderAt(*path, made);
      parent.names.block(name);
    }
    return nullptr;
  }

  // The path a file is written to, passing over names a link or a folder
  // holds. Only a folder this save did not make can hold any.
  std::optional<std::filesystem::path> filePath(EntryId id, OutputFolder& folder) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      const std::string name = nameOf(id, folder);
      std::filesystem::path path = *folder.path / name;
      if (folder.made || !isHeldByOther(path)) return path;
      folder.names.block(name);
    }
    return std::nullopt;
  }

  std::optional<std::filesystem::path> saveFile(EntryId id, OutputFolder* folder) {
    job_.setProgress(static_cast<std::int64_t>(handled_++));
    if (parser_.neverSaved(id)) return std::nullopt;
    const std::optional<std::filesystem::path> path = folder ? filePath(id, *folder) : std::nullopt;
    if (!path) {
      ++summary_.filesFailed;
      return std::nullopt;
    }
    const std::uint64_t size = parser_.size(id);
    job_.setStatus("saving File  " + path->string());
    job_.setDetail("File size: " + std::to_string(size / 1024) + " kb");
    HeldContent content(kHeldFileBytes);
    const bool read = size <= kHeldFileBytes && parser_.readContent(id, content);
    if (size > kHeldFileBytes || content.overflowed()) {
      // Streamed here: a large file. Names within a save are distinct, so
      // no queued file can land on this path after it.
      ++(writeEntryFile(parser_, id, *path) ? summary_.filesSaved : summary_.filesFailed);
    } else {
      writers_.write(*path, std::move(content), parser_.times(id), read);
    }
    job_.setDetail("");
    return path;
  }

  // The contents of `start` (the top entries when none), by the catalogue
  // walk: a folder's output folder holds its children's; a nameless
  // folder's contents go where the folder is; folders named "." are not
  // entered.
  bool saveContents(std::optional<EntryId> start, OutputFolder& output) {
    std::vector<OutputFolder*> byDepth{&output};  // none: that folder could not be made
    const auto visit = [&](const CatalogueItem& item) {
      const auto depth = static_cast<std::size_t>(item.depth);
      OutputFolder* folder = byDepth[depth];
      if (!item.folder) {
        saveFile(item.id, folder);
        return true;
      }
      if (item.name == ".") return true;
      byDepth.resize(depth + 2);
      byDepth[depth + 1] = !folder ? nullptr : item.name.empty() ? folder : subFolder(item.id, *folder);
      return true;
    };
    // Names are given out before anything is written, live entries first,
    // so that a live entry keeps its name wherever the catalogue lists its
    // deleted namesakes.
    const auto entering = [&](int depth, const std::vector<EntryId>& children) {
      OutputFolder* folder = byDepth[static_cast<std::size_t>(depth)];
      if (!folder) return;
      for (const bool deleted : {false, true})
        for (const EntryId id : children)
          if (parser_.isDeleted(id) == deleted) nameOf(id, *folder);
    };
    return walkCatalogue(parser_, start, visit, &job_, entering);
  }

  const FileSystemParser& parser_;
  JobContext& job_;
  SaveWriters writers_;
  std::uint64_t total_ = 0;
  std::uint64_t handled_ = 0;
  std::map<std::string, std::unique_ptr<OutputFolder>> folders_;
  OutputFolder* root_ = nullptr;
  SaveSummary summary_;
};

}  // namespace

SaveTarget checkedTarget(const FileSystemParser& parser, const std::vector<EntryId>& ancestors,
                         std::optional<EntryId> item) {
  SaveTarget target{item, {}};
  if (!item) return target;
  std::vector<EntryId> levels = ancestors;
  if (parser.isFolder(*item)) levels.push_back(*item);
  for (const EntryId folder : levels) {
    std::string name = parser.name(folder);
    if (!name.empty()) target.into.push_back(std::move(name));
  }
  return target;
}

SavePlan::SavePlan(const FileSystemParser& parser, std::vector<SaveTarget> targets)
    : parser_(parser), targets_(std::move(targets)) {}

std::uint64_t SavePlan::fileCount(JobContext& job) {
  if (fileCount_) return *fileCount_;
  std::uint64_t count = 0;
  for (const SaveTarget& target : targets_) {
    if (!job.checkpoint()) return count;
    count += isFileTarget(parser_, target) ? 1 : countFiles(parser_, target.entry, &job);
  }
  if (!job.stopRequested()) fileCount_ = count;
  return count;
}

SaveSummary SavePlan::run(const std::filesystem::path& outputFolder, JobContext& job) {
  const std::uint64_t total = fileCount(job);
  job.setProgressRange(0, static_cast<std::int64_t>(total));
  SaveRun save(parser_, outputFolder, total, job);
  save.nameFileTargets(targets_);
  bool stopped = false;
  for (const SaveTarget& target : targets_)
    if (!save.saveTarget(target)) {
      stopped = true;
      break;
    }
  return save.finish(stopped || job.stopRequested());
}

}  // namespace quorvel
