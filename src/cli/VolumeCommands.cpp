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
#include "session/OpenImage.h"
#include "volumes/VolumeList.h"

namespace quorvel::cli {

void reportError(const std::string& sentence) { std::cerr << "quorvel-cli: " << sentence << '\n'; }

bool openImage(OpenImage& image, const std::string& path) {
  if (image.open(path)) return true;
  reportError(image.errorText());
  return false;
}

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

struct VolumesOptions {
  std::string image;
  bool gpt = false;
  bool advanced = false;
  std::int64_t startSector = 0;
  std::int64_t endSector = 0;
  bool noSkip = false;
  bool json = false;
};

int runVolumes(OpenImage& image, const VolumesOptions& options) {
  if (!openImage(image, options.image)) return kInputFailed;
  const FileReadSeek& source = *image.source();

  TerminalProgress progress;
  JobContext job(options.advanced ? &progress : nullptr);
  ListingRequest request;
  request.gpt = options.gpt;
  request.advanced = options.advanced;
  request.lookInsideVolumes = options.noSkip;
  request.scanStartSector = options.startSector;
  request.scanEndSector = options.endSector;
  ListedVolumes list = listImageVolumes(source, request, job);
  image.setVolumes(std::move(list.volumes));
  int status = kSuccess;
  if (list.tableError != 0) {
    if (source.sourceLength() < 2 * kSectorSize)
      reportError(options.image + " is too short to hold a partition table.");
    else
      reportError("Cannot read the partition tables of " + options.image + ": " + std::strerror(list.tableError) +
                  ".");
    status = kInputFailed;
  }
  // A failed listing still shows what it found before the failure.
  if (status == kSuccess || !image.volumes().empty()) printVolumes(image.volumes(), options.json);
  return status;
}

int runProbe(OpenImage& image, const std::string& path, bool json) {
  if (!openImage(image, path)) return kInputFailed;
  VolumeRecord volume;
  if (!probeVolumeImage(*image.source(), volume)) {
    reportError(path + " does not start with a volume of a known kind.");
    return kInputFailed;
  }
  volume.volumeName = "Unknown";
  image.setVolumes({volume});
  printVolumes(image.volumes(), json);
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
  command->callback([options, &runner] { runner = [options](OpenImage& image) { return runVolumes(image, *options); }; });
}

void addProbeCommand(CLI::App& app, CommandRunner& runner) {
  auto image = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  CLI::App* command = app.add_subcommand("probe", "Classify the first sector of a volume image");
  command->add_option("IMAGE", *image, "Volume image")->required();
  command->add_flag("--json", *json, "Print JSON Lines");
  command->callback(
      [image, json, &runner] { runner = [image, json](OpenImage& open) { return runProbe(open, *image, *json); }; });
}

}  // namespace quorvel::cli
