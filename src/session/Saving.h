#pragma once
// Writing recovered entries into the output folder: a folder's contents
// recursively, or one file. Written once for every kind of file system.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "fs/FileSystemParser.h"

namespace quorvel {

inline constexpr const char* kSelectOutputFolder = "select output folder";
inline constexpr const char* kWorkDone = "work done";
inline constexpr const char* kWaitForOtherProcess = "Please wait for other process to complete";

// "number of files found inside this folder = %lld .do u want to continue dumping these files..?"
std::string saveQuestion(std::uint64_t fileCount);

// The output folder named by the user's text, trimmed; none when it is blank.
std::optional<std::filesystem::path> outputFolderFromText(const std::string& text);

struct OutputFolderMade {
  bool ready = false;   // a folder is there now
  bool made = false;    // this call made it, so it holds nothing yet
  std::string failure;  // when not ready: which folder and the system's reason
};

// Makes the output folder, and the folders above it that are missing, the
// same for every save.
OutputFolderMade makeOutputFolder(const std::filesystem::path& folder);

// A name the output folder can hold: trimmed at both ends, '/', NUL and
// control bytes replaced, never "." or "..", never empty, at most 255 bytes of UTF-8.
std::string safeOutputName(const std::string& name);

// Files below a folder (the top entries when empty), sub-folders included.
std::uint64_t countFiles(const FileSystemParser& parser, std::optional<EntryId> folder, JobContext* job = nullptr);

struct SaveSummary {
  std::uint64_t filesSaved = 0;
  std::uint64_t filesFailed = 0;  // could not be created or read whole
  bool stopped = false;
  // Where the first file target went (a single file's save).
  std::optional<std::filesystem::path> firstFile;
};

// Writes one entry's content to `path` (created or replaced, never through
// a link) with its times; false when it could not be written whole.
bool writeEntryFile(const FileSystemParser& parser, EntryId id, const std::filesystem::path& path);

// A save of one target through SavePlan: the contents of `folder` (the top
// entries when empty) into `outputFolder`, one sub-folder per catalogue
// folder; the folder itself gets no folder of its own.
SaveSummary saveFolderContents(const FileSystemParser& parser, std::optional<EntryId> folder,
                               const std::filesystem::path& outputFolder, JobContext& job);

// Writes one file into `outputFolder`: firstFile is the path written, or
// none; filesFailed says whether it could not be written whole.
SaveSummary saveSingleFile(const FileSystemParser& parser, EntryId id, const std::filesystem::path& outputFolder);

}  // namespace quorvel
