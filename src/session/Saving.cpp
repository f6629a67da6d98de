#include "session/Saving.h"

#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "fs/CatalogueWalk.h"
#include "session/HeldContent.h"
#include "session/OutputNames.h"
#include "session/SaveWriters.h"

namespace quorvel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string trimmed(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// NTFS's bad-cluster file spans the whole volume and holds nothing.
bool isNeverWritten(const std::string& name) { return name == "$BadClus"; }

// Something other than a regular file sits at `path` (a link, a folder):
// the save must take another name rather than write there.
bool isHeldByOther(const std::filesystem::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

// How many other names a save tries when links or folders hold the first.
constexpr int kNameAttempts = 16;

// The largest file a folder save reads into memory for a writer thread;
// larger ones are streamed from the source on the save's own thread.
constexpr std::size_t kHeldFileBytes = 1u << 20;

using StartingFile = std::function<void(const std::filesystem::path&)>;

// The name a file is saved under in `folder`, passing over names a link or
// a folder holds. Only a folder this save did not make can hold any
// (`lookFirst`); in one it made, the names given out are all there is.
std::optional<std::filesystem::path> claimFreeName(const std::string& originalName, const std::filesystem::path& folder,
                                                   OutputNames& names, bool lookFirst, const StartingFile& starting) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = names.claim(originalName);
    const std::filesystem::path path = folder / name;
    if (starting) starting(path);
    if (!lookFirst || !isHeldByOther(path)) return path;
    names.block(name);
  }
  return std::nullopt;
}

// Makes the folder unless it exists; `made` tells whether this call made it.
std::optional<std::filesystem::path> makeFolderAt(const std::filesystem::path& path, bool& made) {
  made = ::mkdir(path.c_str(), 0755) == 0;
  struct stat info {};
  // lstat: a link planted in the output folder must not lead the save out of it.
  if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  return path;
}

// A sub-folder of a save's output, with the names given out inside it.
struct OutputFolder {
  std::optional<std::filesystem::path> path;  // none: it could not be made
  bool made = false;                          // by this save, so it held nothing before
  OutputNames names;
};

std::shared_ptr<OutputFolder> makeOutputFolder(const std::string& name, OutputFolder& parent) {
  auto folder = std::make_shared<OutputFolder>();
  if (!parent.path) return folder;
  for (int attempt = 0; attempt < kNameAttempts && !folder->path; ++attempt) {
    const std::string safe = parent.names.claim(name);
    folder->path = makeFolderAt(*parent.path / safe, folder->made);
    if (!folder->path) parent.names.block(safe);
  }
  return folder;
}

}  // namespace

std::string saveQuestion(std::uint64_t fileCount) {
  char text[160];
  std::snprintf(text, sizeof text,
                "number of files found inside this folder = %lld .do u want to continue dumping these files..?",
                static_cast<long long>(fileCount));
  return text;
}

std::optional<std::filesystem::path> outputFolderFromText(const std::string& text) {
  const std::string folder = trimmed(text);
  if (folder.empty()) return std::nullopt;
  return std::filesystem::path(folder);
}

std::string safeOutputName(const std::string& name) {
  std::string safe = trimmed(name);
  // Control bytes would reach terminals and scripts that list the folder.
  for (char& c : safe)
    if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  if (safe.empty() || safe == "." || safe == "..") safe = "_" + safe;
  if (safe.size() > 255) {
    std::size_t cut = 255;
    // Cut before a UTF-8 continuation byte's lead, not inside a character.
    while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80) --cut;
    safe.resize(cut);
  }
  return safe;
}

std::uint64_t countFiles(const FileSystemParser& parser, std::optional<EntryId> folder, JobContext* job) {
  std::uint64_t count = 0;
  walkCatalogue(
      parser, folder,
      [&](const CatalogueItem& item) {
        if (!item.folder) ++count;
        return true;
      },
      job);
  return count;
}

std::optional<std::filesystem::path> makeFolder(const std::string& name, const std::filesystem::path& parent) {
  bool made = false;
  return makeFolderAt(parent / safeOutputName(name), made);
}

SaveSummary saveFolderContents(const FileSystemParser& parser, std::optional<EntryId> folder,
                               const std::filesystem::path& outputFolder, JobContext& job) {
  SaveSummary summary;
  const std::uint64_t total = countFiles(parser, folder, &job);
  job.setProgressRange(0, static_cast<std::int64_t>(total));
  std::error_code ignored;
  const bool outputMade = std::filesystem::create_directories(outputFolder, ignored);

  // This thread walks, names and reads; the writers create and fill the
  // files. Status lines still come from here, in catalogue order.
  SaveWriters writers(job, saveWriterThreads());
  // Output folders by walk depth: a folder's children follow it directly. A
  // folder that could not be made leaves its contents unsaved (counted as
  // failed), never written elsewhere.
  std::vector<std::shared_ptr<OutputFolder>> folders{
      std::make_shared<OutputFolder>(OutputFolder{outputFolder, outputMade, {}})};
  std::uint64_t handled = 0;
  const bool complete = walkCatalogue(
      parser, folder,
      [&](const CatalogueItem& item) {
        job.setProgress(static_cast<std::int64_t>(handled));
        const std::size_t depth = static_cast<std::size_t>(item.depth);
        const std::shared_ptr<OutputFolder> target = folders[depth];
        if (item.folder) {
          if (item.name == ".") return true;
          folders.resize(depth + 2);
          // A nameless folder's contents go where the folder is.
          folders[depth + 1] = item.name.empty() ? target : makeOutputFolder(item.name, *target);
          return true;
        }
        ++handled;
        if (isNeverWritten(item.name)) return true;
        if (!target->path) {
          ++summary.filesFailed;
          return true;
        }
        const StartingFile starting = [&](const std::filesystem::path& path) {
          job.setStatus("saving File  " + path.string());
          job.setDetail("File size: " + std::to_string(parser.size(item.id) / 1024) + " kb");
        };
        const auto path =
            claimFreeName(parser.name(item.id), *target->path, target->names, !target->made, starting);
        // Streamed here: a large file. The writers finish first, so that a
        // file queued earlier under the same name cannot land after it.
        const auto saveHere = [&] {
          writers.drain();
          ++(parser.saveFile(item.id, *path) ? summary.filesSaved : summary.filesFailed);
        };
        if (!path) {
          ++summary.filesFailed;
        } else if (parser.size(item.id) > kHeldFileBytes) {
          saveHere();
        } else {
          HeldContent content(kHeldFileBytes);
          const bool read = parser.readContent(item.id, content);
          if (content.overflowed())
            saveHere();
          else
            writers.write(*path, std::move(content), parser.times(item.id), read);
        }
        job.setDetail("");
        return true;
      },
      &job);
  summary.stopped = !complete;
  const SaveWriters::Counts written = writers.counts();
  summary.filesSaved += written.saved;
  summary.filesFailed += written.failed;
  job.setProgress(static_cast<std::int64_t>(total));
  return summary;
}

std::optional<std::filesystem::path> saveSingleFile(const FileSystemParser& parser, EntryId id,
                                                    const std::filesystem::path& outputFolder) {
  std::error_code ignored;
  std::filesystem::create_directories(outputFolder, ignored);
  OutputNames names;
  const auto path = claimFreeName(parser.name(id), outputFolder, names, true, nullptr);
  if (!path || !parser.saveFile(id, *path)) return std::nullopt;
  return path;
}

}  // namespace quorvel
