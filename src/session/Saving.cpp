#include "session/Saving.h"

#include <cstdio>

#include "fs/CatalogueWalk.h"
#include "fs/OutputFile.h"
#include "session/SavePlan.h"

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

OutputFolderMade makeOutputFolder(const std::filesystem::path& folder) {
  OutputFolderMade result;
  std::error_code error;
  result.made = std::filesystem::create_directories(folder, error);
  std::error_code notFolder;
  result.ready = std::filesystem::is_directory(folder, notFolder);
  if (!result.ready) {
    if (!error) error = notFolder ? notFolder : std::make_error_code(std::errc::not_a_directory);
    result.failure = "Could not make the output folder " + folder.string() + ": " + error.message() + ".";
  }
  return result;
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

bool writeEntryFile(const FileSystemParser& parser, EntryId id, const std::filesystem::path& path) {
  OutputFile out(path);
  if (!out.isOpen()) return false;
  const bool complete = parser.readContent(id, out);
  return out.finish(parser.times(id)) && complete;
}

SaveSummary saveFolderContents(const FileSystemParser& parser, std::optional<EntryId> folder,
                               const std::filesystem::path& outputFolder, JobContext& job) {
  return SavePlan(parser, {SaveTarget{folder, {}}}).run(outputFolder, job);
}

SaveSummary saveSingleFile(const FileSystemParser& parser, EntryId id, const std::filesystem::path& outputFolder) {
  JobContext job;
  return SavePlan(parser, {SaveTarget{id, {}}}).run(outputFolder, job);
}

}  // namespace quorvel
