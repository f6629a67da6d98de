// carve: raw recovery of one volume; signatures: add to and list settings files.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>
#include <memory>

#include "cli/Commands.h"
#include "cli/JsonLine.h"
#include "cli/TerminalProgress.h"
#include "cli/VolumeSelection.h"
#include "raw/CarvedFileSaving.h"
#include "raw/CarvingEngine.h"
#include "session/OpenImage.h"
#include "session/OutputNames.h"
#include "session/Saving.h"
#include "volumes/VolumeRecord.h"

namespace quorvel::cli {

namespace {

struct CarveOptions {
  VolumeSelection selection;
  std::vector<std::string> settings;
  bool noDefault = false;
  std::vector<std::string> types;
  std::string out;
  bool json = false;
};

int runCarve(OpenImage& image, CarveOptions options) {
  const std::optional<std::filesystem::path> outputFolder = outputFolderFromText(options.out);
  if (!outputFolder) {
    reportError(std::string(kSelectOutputFolder) + ": --out names no folder.");
    return kBadArguments;
  }
  // As save does: a folder the user names is made, not a reason to carve for nothing.
  const OutputFolderMade folder = makeOutputFolder(*outputFolder);
  if (!folder.ready) {
    reportError(folder.failure);
    return kInputFailed;
  }
  raw::CarvingEngine engine;
  std::string message;
  std::function<bool(const raw::SignatureRecord&)> keep;
  if (!options.types.empty())
    keep = [types = options.types](const raw::SignatureRecord& r) {
      return std::find(types.begin(), types.end(), raw::extensionText(r)) != types.end();
    };
  if (!options.noDefault) {
    const std::filesystem::path defaults = raw::defaultSettingsPath();
    if (!engine.loadFile(defaults, raw::SettingsOrigin::Default, message, keep) && !message.empty()) {
      reportError(defaults.string() + ": " + message);
      return kInputFailed;
    }
  }
  for (const std::string& path : options.settings) {
    if (!engine.loadFile(path, raw::SettingsOrigin::Chosen, message, keep)) {
      reportError(path + ": " + message);
      return kInputFailed;
    }
  }
  if (engine.settings().empty()) {
    reportError("No signature settings were loaded; name a settings file with --settings.");
    return kBadArguments;
  }

  if (!openImage(image, options.selection.image)) return kInputFailed;
  // Raw recovery reads any volume, whatever it holds.
  if (options.selection.volumeImage && options.selection.kind.empty()) options.selection.kind = "RAW";
  if (!chooseVolume(image, options.selection)) return kInputFailed;
  const VolumeView view(*image.source(), volumeExtent(*image.chosen()));

  // Carved files are written by a second thread while the scan looks further.
  // Each gets a name of its own in the folder, so none replaces another.
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::pair<raw::CarvedFile, std::string>> pending;
  bool scanOver = false;
  OutputNames names;
  std::vector<std::string> savedNames;  // by position in the carved-file list
  std::vector<std::string> failures;
  std::thread writer([&] {
    std::unique_lock lock(mutex);
    while (true) {
      wake.wait(lock, [&] { return !pending.empty() || scanOver; });
      if (pending.empty()) return;
      const auto [file, name] = std::move(pending.front());
      pending.pop_front();
      lock.unlock();
      const raw::CarvedFileWritten written = raw::saveCarvedFile(view, file, *outputFolder, name);
      lock.lock();
      if (!written.whole) failures.push_back(written.failure);
    }
  });
  engine.onCarved = [&](std::size_t index) {
    {
      std::lock_guard lock(mutex);
      const raw::CarvedFile& file = engine.carvedFiles()[index];
      savedNames.push_back(names.claim(file.name, index));
      pending.emplace_back(file, savedNames.back());
    }
    wake.notify_one();
  };
  TerminalProgress progress;
  JobContext job(&progress);
  engine.carve(view, job);
  {
    std::lock_guard lock(mutex);
    scanOver = true;
  }
  wake.notify_one();
  writer.join();

  int status = kSuccess;
  for (const std::string& failure : failures) {
    reportError("Could not save " + failure);
    status = kInputFailed;
  }
  const raw::CarveRun& run = engine.runs().back();
  for (std::size_t index = 0; index < engine.carvedFiles().size(); ++index) {
    const raw::CarvedFile& file = engine.carvedFiles()[index];
    const std::string& name = savedNames[index];
    const std::string& category = run.categories[file.category].name;
    if (options.json)
      std::cout << JsonLine()
                       .field("name", name)
                       .field("category", category)
                       .field("start", file.start)
                       .field("length", file.length)
                       .str()
                << '\n';
    else
      std::cout << name << '\t' << category << '\t' << file.start << '\t' << file.length << '\n';
  }
  std::cout << std::flush;
  if (run.unreadable) reportError(raw::kUnreadableStatus);
  return status;
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t b : bytes) {
    if (!text.empty()) text += ',';
    text += "0x";
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

int runSignaturesList(const std::string& path, bool json) {
  const raw::SettingsRead read = raw::readSettingsFile(path, raw::SettingsOrigin::Chosen);
  if (!read.ok) {
    reportError(path + ": " + read.message);
    return kInputFailed;
  }
  for (std::size_t i = 0; i < read.records.size(); ++i) {
    const raw::SignatureRecord& r = read.records[i];
    if (json) {
      std::cout << JsonLine()
                       .field("record", static_cast<std::uint64_t>(i))
                       .field("index", static_cast<std::int64_t>(r.index))
                       .field("extension", raw::extensionText(r))
                       .field("extensionLength", static_cast<std::int64_t>(r.extensionLength))
                       .field("start", hexBytes(raw::startSignatureBytes(r)))
                       .field("end", hexBytes(raw::endSignatureBytes(r)))
                       .field("sizeFieldOffset", static_cast<std::int64_t>(r.sizeFieldOffset))
                       .field("sizeFieldBytes", static_cast<std::int64_t>(r.sizeFieldBytes))
                       .field("headerSize", static_cast<std::int64_t>(r.headerSize))
                       .field("sizeIncludesHeader", r.sizeIncludesHeader != 0)
                       .field("approximateSize", static_cast<std::int64_t>(r.approximateSize))
                       .field("skipSize", static_cast<std::int64_t>(r.skipSize))
                       .field("category", raw::categoryText(r))
                       .str()
                << '\n';
    } else {
      std::cout << raw::extensionText(r) << '\t' << raw::categoryText(r) << '\t' << hexBytes(raw::startSignatureBytes(r))
                << '\t' << hexBytes(raw::endSignatureBytes(r)) << '\n';
    }
  }
  return kSuccess;
}

int runSignaturesAdd(const std::string& path, const raw::SignatureForm& form) {
  const std::string message = raw::appendToSettingsFile(path, form);
  if (message == raw::kRecordSaved) {
    std::cout << message << '\n';
    return kSuccess;
  }
  reportError(message);
  return message == raw::kCannotCreateFile ? kInputFailed : kBadArguments;
}

}  // namespace

void addCarveCommands(CLI::App& app, CommandRunner& runner) {
  {
    auto options = std::make_shared<CarveOptions>();
    CLI::App* carve = app.add_subcommand("carve", "Raw recovery: find files by their content and save them");
    addSelectionOptions(*carve, options->selection, false);
    carve->add_option("--settings", options->settings, "A settings file to load as well (repeatable)");
    carve->add_flag("--no-default", options->noDefault, "Do not load the program's own FileSetting.txt");
    carve->add_option("--types", options->types, "Only the settings of these extensions (jpg,png,...)")->delimiter(',');
    carve->add_option("--out", options->out, "Output folder")->required();
    carve->add_flag("--json", options->json, "Print JSON Lines");
    carve->callback([=, &runner] { runner = [=](OpenImage& image) { return runCarve(image, *options); }; });
  }
  CLI::App* signatures = app.add_subcommand("signatures", "Add to and list signature settings files");
  signatures->require_subcommand(1);
  {
    auto path = std::make_shared<std::string>();
    auto form = std::make_shared<raw::SignatureForm>();
    CLI::App* add = signatures->add_subcommand("add", "Append one signature setting to a settings file");
    add->add_option("FILE", *path, "Settings file (created when missing)")->required();
    add->add_option("--ext", form->extension, "File extension, without a dot")->required();
    add->add_option("--start", form->startSignature, "Start signature: hexadecimal bytes, comma-separated")->required();
    add->add_option("--end", form->endSignature, "End signature (optional)");
    add->add_option("--size-offset", form->sizeFieldOffset, "Offset of the size field");
    add->add_option("--size-bytes", form->sizeFieldBytes, "Bytes in the size field");
    add->add_flag("--size-includes-header", form->sizeIncludesHeader, "The size includes the header");
    add->add_option("--header-size", form->headerSize, "Header size in bytes");
    add->add_option("--skip", form->skipSize, "Bytes to skip after a find");
    add->add_option("--approx", form->approximateSize, "Approximate file size in bytes");
    add->add_option("--category", form->category, "Category to put the files under");
    add->callback([=, &runner] { runner = [=](OpenImage&) { return runSignaturesAdd(*path, *form); }; });
  }
  {
    auto path = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    CLI::App* list = signatures->add_subcommand("list", "List the records of a settings file");
    list->add_option("FILE", *path, "Settings file")->required();
    list->add_flag("--json", *json, "Print JSON Lines");
    list->callback([=, &runner] { runner = [=](OpenImage&) { return runSignaturesList(*path, *json); }; });
  }
}

}  // namespace quorvel::cli
