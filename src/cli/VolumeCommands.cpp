// `volumes` and `probe`: what the volume list and the volume information
// screens show, as text or JSON Lines.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "cli/Commands.h"
#include "cli/JsonLine.h"
#include "cli/TerminalProgress.h"
#include "cli/VolumeListing.h"
#include "io/CurrentSource.h"
#include "volumes/Partition.h"

namespace quorvel::cli {

void reportError(const std::string& sentence) { std::cerr << "quorvel-cli: " << sentence << '\n'; }

namespace {

void printVolumes(const std::vector<VolumeRecord>& volumes, bool json) {
  if (json) {
    for (const VolumeRecord& v : volumes) {
      const VolumeExtent extent = volumeExtent(v);
      std::cout << JsonLine()
                       .field("label", v.label)
                       .field("kind", v.kind)
                       .field("volumeName", v.volumeName)
                       .field("size", v.sizeText)
                       .field("startSector", v.startSector)
                       .field("sizeBytes", extent.sizeBytes)
                       .field("startByte", extent.startByte)
                       .str()
                << '\n';
    }
    return;
  }
  std::printf("%-8s %-24s %-14s %s\n", "VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR");
  for (const VolumeRecord& v : volumes)
    std::printf("%-8s %-24s %-14s %lld\n", v.label.c_str(), v.kind.c_str(), v.sizeText.c_str(),
                static_cast<long long>(v.startSector));
  std::fflush(stdout);
}

// Opens the image as the process's current source, or says why not.
FileReadSeek* openImage(const std::string& path) {
  auto source = std::make_unique<FileReadSeek>();
  if (!source->open(path)) {
    reportError(source->lastErrorText());
    return nullptr;
  }
  replaceCurrentSource(std::move(source));
  return currentSource();
}

struct VolumesOptions {
  std::string image;
  bool gpt = false;
  bool advanced = false;
  std::int64_t startSector = 0;
  std::int64_t endSector = 0;
  bool noSkip = false;
  bool json = false;
};

int runVolumes(const VolumesOptions& options) {
  FileReadSeek* source = openImage(options.image);
  if (!source) return kInputFailed;

  TerminalProgress progress;
  JobContext job(options.advanced ? &progress : nullptr);
  ListingRequest request;
  request.gpt = options.gpt;
  request.advanced = options.advanced;
  request.lookInsideVolumes = options.noSkip;
  request.scanStartSector = options.startSector;
  request.scanEndSector = options.endSector;
  const VolumeList list = listImageVolumes(*source, request, job);
  int status = kSuccess;
  if (list.tableError != 0) {
    if (source->sourceLength() < 2 * kSectorSize)
      reportError(options.image + " is too short to hold a partition table.");
    else
      reportError("Cannot read the partition tables of " + options.image + ": " + std::strerror(list.tableError) +
                  ".");
    status = kInputFailed;
  }
  // A failed listing still shows what it found before the failure.
  if (status == kSuccess || !list.volumes.empty()) printVolumes(list.volumes, options.json);
  return status;
}

int runProbe(const std::string& image, bool json) {
  FileReadSeek* source = openImage(image);
  if (!source) return kInputFailed;
  VolumeRecord volume;
  if (!probeVolumeImage(*source, volume)) {
    reportError(image + " does not start with a volume of a known kind.");
    return kInputFailed;
  }
  volume.volumeName = "Unknown";
  printVolumes({volume}, json);
  return kSuccess;
}

}  // namespace

void addVolumesCommand(CLI::App& app, CommandRunner& runner) {
  auto options = std::make_shared<VolumesOptions>();
  CLI::App* command = app.add_subcommand("volumes", "List the volumes of a disk image");
  command->add_option("IMAGE", options->image, "Disk image or block device")->required();
  command->add_flag("--gpt", options->gpt, "Walk the GPT even without a protective MBR");
  CLI::Option* advanced =
      command->add_flag("--advanced", options->advanced, "Scan every sector for volumes instead of reading tables");
  command->add_option("--start-sector", options->startSector, "First sector of the advanced scan")
      ->check(CLI::NonNegativeNumber)
      ->needs(advanced);
  command->add_option("--end-sector", options->endSector, "Last sector of the advanced scan")
      ->check(CLI::NonNegativeNumber)
      ->needs(advanced);
  command->add_flag("--no-skip", options->noSkip, "Look inside found volumes too")->needs(advanced);
  command->add_flag("--json", options->json, "Print JSON Lines");
  command->callback([options, &runner] { runner = [options] { return runVolumes(*options); }; });
}

void addProbeCommand(CLI::App& app, CommandRunner& runner) {
  auto image = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  CLI::App* command = app.add_subcommand("probe", "Classify the first sector of a volume image");
  command->add_option("IMAGE", *image, "Volume image")->required();
  command->add_flag("--json", *json, "Print JSON Lines");
  command->callback([image, json, &runner] { runner = [image, json] { return runProbe(*image, *json); }; });
}

}  // namespace quorvel::cli
