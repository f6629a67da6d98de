// ls, save, cat, search and candidates: scan one volume, then browse, save or
// search its catalogue through the parser interface.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/Commands.h"
#include "cli/EntryJson.h"
#include "cli/JsonLine.h"
#include "cli/TerminalProgress.h"
#include "cli/VolumeSelection.h"
#include "fs/CatalogueWalk.h"
#include "session/ContentWindow.h"
#include "session/OpenImage.h"
#include "session/Saving.h"
#include "session/ScanSession.h"
#include "session/Search.h"

namespace quorvel::cli {

namespace {

const char* modeName(RecoveryMode mode) {
  switch (mode) {
    case RecoveryMode::Advanced: return "advanced";
    case RecoveryMode::Deep: return "deep";
    case RecoveryMode::Standard: break;
  }
  return "standard";
}

// Opens the image, chooses the selected volume and begins its session.
bool openVolume(OpenImage& image, const VolumeSelection& selection) {
  if (!openImage(image, selection.image) || !chooseVolume(image, selection)) return false;
  const VolumeRecord& volume = *image.chosen();
  const RecoveryMode mode = recoveryMode(selection);
  std::unique_ptr<FileSystemParser> parser = parserFor(volume.fileSystem, mode);
  if (!parser) {
    reportError(std::string(kNotValidDrive) + " (Volumes of kind \"" + volume.kind + "\" cannot be read in " +
                modeName(mode) + " mode.)");
    return false;
  }
  image.beginSession(scanRequestFor(volume, mode, selection.advanced), std::move(parser));
  return true;
}

// Runs the advanced-input searches where the mode needs them, then the scan.
bool scanVolume(OpenImage& image, const VolumeSelection& selection) {
  ScanSession& session = *image.session();
  TerminalProgress progress;
  if (session.request().mode == RecoveryMode::Advanced) {
    JobContext search(&progress);
    const CandidateLists lists = session.findCandidates(*image.source(), search);
    const int tfs = selection.advanced.tfs;
    if (tfs < 0 || static_cast<std::size_t>(tfs) >= lists.tfs.size()) {
      reportError("Advanced mode needs --tfs K with K below " + std::to_string(lists.tfs.size()) +
                  ", the number of candidates found; see quorvel-cli candidates.");
      return false;
    }
  }
  JobContext job(&progress);
  if (session.run(*image.source(), job)) return true;
  reportError(progress.lastMessage().empty() ? "The volume could not be parsed." : progress.lastMessage());
  return false;
}

// The entry at a "ROOT/a/b" path; kNoEntry for ROOT itself; none if absent.
std::optional<EntryId> findPath(const FileSystemParser& parser, const std::string& path) {
  std::string rest = path;
  if (rest.rfind("ROOT", 0) != 0 || (rest.size() > 4 && rest[4] != '/')) return std::nullopt;
  rest = rest.size() > 5 ? rest.substr(5) : "";
  EntryId current = kNoEntry;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string part = rest.substr(0, slash);
    rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
    if (part.empty()) continue;
    const std::vector<EntryId> candidates = current == kNoEntry ? parser.topEntries() : parser.children(current);
    // Prefer a folder while more of the path follows, a live entry to a deleted one.
    std::optional<EntryId> best;
    int bestScore = -1;
    for (const EntryId id : candidates) {
      if (parser.name(id) != part) continue;
      const int score = (parser.isFolder(id) == !rest.empty() ? 2 : 0) + (parser.isDeleted(id) ? 0 : 1);
      if (score > bestScore) best = id, bestScore = score;
    }
    if (!best) return std::nullopt;
    current = *best;
  }
  return current;
}

// Opens and scans the selected volume and finds `path` on it: kNoEntry for
// ROOT; none (after telling the user why) when any step fails.
std::optional<EntryId> scannedEntry(OpenImage& image, const VolumeSelection& selection, const std::string& path) {
  if (!openVolume(image, selection) || !scanVolume(image, selection)) return std::nullopt;
  const std::optional<EntryId> target = findPath(image.session()->parser(), path);
  if (!target) reportError("The volume has no entry " + path + "; see quorvel-cli ls.");
  return target;
}

int runLs(OpenImage& image, const VolumeSelection& selection, bool json) {
  if (!openVolume(image, selection) || !scanVolume(image, selection)) return kInputFailed;
  const FileSystemParser& parser = image.session()->parser();
  std::string out;
  walkCatalogue(parser, std::nullopt, [&](const CatalogueItem& item) {
    const std::string path = "ROOT/" + itemPath(item);
    if (json) {
      out += entryJson(parser, item.id, path, item.folder);
    } else {
      out += path;
      if (item.folder) out += '/';
      if (parser.isDeleted(item.id)) out += "  (deleted)";
    }
    out += '\n';
    if (out.size() > (1 << 20)) {
      std::cout << out;
      out.clear();
    }
    return true;
  });
  std::cout << out << std::flush;
  return kSuccess;
}

int runSave(OpenImage& image, const VolumeSelection& selection, const std::string& path, const std::string& outText) {
  const std::optional<std::filesystem::path> outputFolder = outputFolderFromText(outText);
  if (!outputFolder) {
    reportError(std::string(kSelectOutputFolder) + ": --out names no folder.");
    return kBadArguments;
  }
  const std::optional<EntryId> target = scannedEntry(image, selection, path);
  if (!target) return kInputFailed;
  const FileSystemParser& parser = image.session()->parser();
  if (*target != kNoEntry && !parser.isFolder(*target)) {
    const SaveSummary saved = saveSingleFile(parser, *target, *outputFolder);
    if (!saved.firstFile) {
      reportError("Could not save " + path + " into " + outputFolder->string() + ".");
      return kInputFailed;
    }
    std::cout << saved.firstFile->string() << '\n';
    if (saved.filesFailed > 0) {
      // Written as far as it could be read: a deleted file whose blocks were
      // taken, an unreadable sector.
      reportError("The file could not be saved whole.");
      return kInputFailed;
    }
    return kSuccess;
  }
  TerminalProgress progress;
  JobContext job(&progress);
  const std::optional<EntryId> folder = *target == kNoEntry ? std::nullopt : std::optional<EntryId>(*target);
  const SaveSummary summary = saveFolderContents(parser, folder, *outputFolder, job);
  std::cout << "saved " << summary.filesSaved << " files into " << outputFolder->string() << '\n';
  if (summary.filesFailed > 0) {
    reportError(std::to_string(summary.filesFailed) + " files could not be saved whole.");
    return kInputFailed;
  }
  return kSuccess;
}

// A file's bytes on standard output, as the parser streams them: nothing is
// written anywhere else.
int runCat(OpenImage& image, const VolumeSelection& selection, const std::string& path, std::uint64_t offset,
           std::optional<std::uint64_t> length) {
  const std::optional<EntryId> target = scannedEntry(image, selection, path);
  if (!target) return kInputFailed;
  const FileSystemParser& parser = image.session()->parser();
  if (*target == kNoEntry || parser.isFolder(*target)) {
    reportError(path + " is a folder; cat reads one file (save writes a folder's contents).");
    return kBadArguments;
  }
  ContentWindow window(offset, length, [](Bytes data) {
    return std::fwrite(data.data(), 1, data.size(), stdout) == data.size();
  });
  const bool whole = parser.readContent(*target, window);
  const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
  if (!written) {
    reportError("Standard output could not be written.");
    return kInputFailed;
  }
  if (!whole && !window.full()) {
    // What could be read went out; the rest is gone or unreadable.
    reportError("The file could not be read whole.");
    return kInputFailed;
  }
  return kSuccess;
}

int runSearchCommand(OpenImage& image, const VolumeSelection& selection, const std::string& patternText, bool json) {
  if (!NamePattern::compile(patternText)) {
    reportError(kSearchNotAllowed);
    return kBadArguments;
  }
  if (!openVolume(image, selection) || !scanVolume(image, selection)) return kInputFailed;
  const FileSystemParser& parser = image.session()->parser();
  TerminalProgress progress;
  JobContext job(&progress);
  runSearch(parser, patternText, job, [&](const SearchHit& hit) {
    std::cout << (json ? entryJson(parser, hit.id, hit.path, false) : hit.path) << '\n';
  });
  std::cout << std::flush;
  return kSuccess;
}

int runCandidates(OpenImage& image, const VolumeSelection& selection, bool json) {
  if (!openVolume(image, selection)) return kInputFailed;
  TerminalProgress progress;
  JobContext job(&progress);
  const CandidateLists lists = image.session()->findCandidates(*image.source(), job);
  const std::pair<const char*, const std::vector<std::string>*> named[] = {
      {"tfs", &lists.tfs}, {"sectorsPerCluster", &lists.sectorsPerCluster}, {"heapOffset", &lists.heapOffsets}};
  for (const auto& [list, items] : named)
    for (std::size_t i = 0; i < items->size(); ++i) {
      // A heap offset says where it lies and why it is offered.
      const HeapOffsetFind* heap = items == &lists.heapOffsets && i < lists.heapFinds.size() ? &lists.heapFinds[i] : nullptr;
      if (json) {
        JsonLine line;
        line.field("list", list).field("index", static_cast<std::int64_t>(i)).field("text", (*items)[i]);
        if (heap) line.field("offset", heap->offset).field("evidence", heap->evidence);
        std::cout << line.str() << '\n';
        continue;
      }
      std::cout << list << ' ' << i << ' ' << (*items)[i];
      if (heap) {
        std::cout << " at byte " << heap->offset << " (";
        for (std::size_t k = 0; k < heap->evidence.size(); ++k) std::cout << (k ? ", " : "") << heap->evidence[k];
        std::cout << ')';
      }
      std::cout << '\n';
    }
  return kSuccess;
}

}  // namespace

void addScanCommands(CLI::App& app, CommandRunner& runner) {
  {
    auto selection = std::make_shared<VolumeSelection>();
    auto json = std::make_shared<bool>(false);
    CLI::App* ls = app.add_subcommand("ls", "List every entry of a volume below ROOT, depth first");
    addSelectionOptions(*ls, *selection, true);
    ls->add_flag("--json", *json, "Print JSON Lines");
    ls->callback([=, &runner] { runner = [=](OpenImage& image) { return runLs(image, *selection, *json); }; });
  }
  {
    auto selection = std::make_shared<VolumeSelection>();
    auto path = std::make_shared<std::string>("ROOT");
    auto out = std::make_shared<std::string>();
    CLI::App* save = app.add_subcommand("save", "Save a folder's contents, or one file, into a folder");
    addSelectionOptions(*save, *selection, true);
    save->add_option("--path", *path, "ROOT/folder/... to save (default: the whole volume)");
    save->add_option("--out", *out, "Output folder")->required();
    save->callback([=, &runner] { runner = [=](OpenImage& image) { return runSave(image, *selection, *path, *out); }; });
  }
  {
    auto selection = std::make_shared<VolumeSelection>();
    auto path = std::make_shared<std::string>();
    auto offset = std::make_shared<std::uint64_t>(0);
    auto length = std::make_shared<std::optional<std::uint64_t>>();
    CLI::App* cat = app.add_subcommand("cat", "Write one file's bytes to standard output");
    addSelectionOptions(*cat, *selection, true);
    cat->add_option("--path", *path, "ROOT/folder/.../file to read")->required();
    cat->add_option("--offset", *offset, "Bytes of the file to skip first")->check(CLI::NonNegativeNumber);
    cat->add_option("--length", *length, "Bytes to write at most (default: to the file's end)")
        ->check(CLI::NonNegativeNumber);
    cat->callback([=, &runner] {
      runner = [=](OpenImage& image) { return runCat(image, *selection, *path, *offset, *length); };
    });
  }
  {
    auto selection = std::make_shared<VolumeSelection>();
    auto pattern = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    CLI::App* search = app.add_subcommand("search", "List files whose names match a pattern");
    addSelectionOptions(*search, *selection, true);
    search->add_option("PATTERN", *pattern, "Regular expression, case ignored; a|b finds either")->required();
    search->add_flag("--json", *json, "Print JSON Lines");
    search->callback([=, &runner] { runner = [=](OpenImage& image) { return runSearchCommand(image, *selection, *pattern, *json); }; });
  }
  {
    auto selection = std::make_shared<VolumeSelection>();
    auto json = std::make_shared<bool>(false);
    CLI::App* candidates = app.add_subcommand("candidates", "The advanced-mode searches: MFT records, FAT copies, heaps");
    addSelectionOptions(*candidates, *selection, false);
    candidates->add_option("--max", selection->advanced.maxCandidates, "Candidates to collect")->check(CLI::PositiveNumber);
    candidates->add_flag("--json", *json,
                         "Print JSON Lines: list, index, text; a heapOffset also its offset (bytes from the volume's "
                         "start) and evidence (boot, upcase, bitmap, root or signature)");
    candidates->callback([=, &runner] {
      selection->mode = "advanced";
      runner = [=](OpenImage& image) { return runCandidates(image, *selection, *json); };
    });
  }
}

}  // namespace quorvel::cli
