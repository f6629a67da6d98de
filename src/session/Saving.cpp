#include "session/Saving.h"

#include <sys/stat.h>

#include <cstdio>
#include <unordered_map>

#include "fs/CatalogueWalk.h"

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
  for (char& c : safe)
    if (c == '/' || c == '\0') c = '_';
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
  const std::filesystem::path path = parent / safeOutputName(name);
  ::mkdir(path.c_str(), 0755);
  struct stat info {};
  // lstat: a link planted in the output folder must not lead the save out of it.
  if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  return path;
}

SaveSummary saveFolderContents(const FileSystemParser& parser, std::optional<EntryId> folder,
                               const std::filesystem::path& outputFolder, JobContext& job) {
  SaveSummary summary;
  const std::uint64_t total = countFiles(parser, folder, &job);
  job.setProgressRange(0, static_cast<std::int64_t>(total));
  std::error_code ignored;
  std::filesystem::create_directories(outputFolder, ignored);

  // Output folders by catalogue folder path; a folder that could not be made
  // leaves its contents unsaved (counted as failed), never written elsewhere.
  std::unordered_map<std::string, std::optional<std::filesystem::path>> folders{{"", outputFolder}};
  std::uint64_t handled = 0;
  const bool complete = walkCatalogue(
      parser, folder,
      [&](const CatalogueItem& item) {
        job.setProgress(static_cast<std::int64_t>(handled));
        const std::optional<std::filesystem::path>& target = folders[item.folderPath];
        if (item.folder) {
          if (item.name.empty() || item.name == ".") return true;
          folders[itemPath(item)] = target ? makeFolder(item.name, *target) : std::nullopt;
          return true;
        }
        ++handled;
        if (isNeverWritten(item.name)) return true;
        if (!target) {
          ++summary.filesFailed;
          return true;
        }
        const std::filesystem::path path = *target / safeOutputName(item.name);
        job.setStatus("saving File  " + path.string());
        job.setDetail("File size: " + std::to_string(parser.size(item.id) / 1024) + " kb");
        if (parser.saveFile(item.id, path))
          ++summary.filesSaved;
        else
          ++summary.filesFailed;
        job.setDetail("");
        return true;
      },
      &job);
  summary.stopped = !complete;
  job.setProgress(static_cast<std::int64_t>(total));
  return summary;
}

std::optional<std::filesystem::path> saveSingleFile(const FileSystemParser& parser, EntryId id,
                                                    const std::filesystem::path& outputFolder) {
  std::error_code ignored;
  std::filesystem::create_directories(outputFolder, ignored);
  const std::filesystem::path path = outputFolder / safeOutputName(parser.name(id));
  if (!parser.saveFile(id, path)) return std::nullopt;
  return path;
}

}  // namespace quorvel
