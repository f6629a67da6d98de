#include "cli/VolumeSelection.h"

#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/VolumeListing.h"
#include "fs/FileSystemKinds.h"
#include "session/OpenImage.h"
#include "volumes/VolumeList.h"
#include "volumes/VolumeKind.h"

namespace quorvel::cli {

namespace {

// Every kind text the registry answers to, for the help text.
std::string knownKindTexts() {
  std::string texts;
  for (const FileSystemKind& row : fileSystemKinds())
    for (const std::string_view text : row.kindTexts) {
      if (!texts.empty()) texts += ", ";
      texts += text;
    }
  return texts;
}

}  // namespace

void addSelectionOptions(CLI::App& command, VolumeSelection& s, bool withMode) {
  command.add_option("IMAGE", s.image, "Disk image, volume image or block device")->required();
  CLI::Option* label = command.add_option("--volume", s.label, "Volume label from the volume list");
  command.add_flag("--gpt", s.gpt, "List volumes from the GPT")->needs(label);
  command.add_flag("--advanced", s.advancedListing, "List volumes by scanning every sector")->needs(label);
  CLI::Option* start =
      command.add_option("--start-sector", s.startSector, "First sector of the volume")->check(CLI::NonNegativeNumber);
  CLI::Option* kind = command.add_option("--kind", s.kind, "File-system kind of the volume: " + knownKindTexts());
  command.add_option("--size-mib", s.sizeMiB, "Volume size in MiB")->check(CLI::NonNegativeNumber)->needs(start);
  start->needs(kind);
  CLI::Option* image = command.add_flag("--volume-image", s.volumeImage, "The whole image is one volume");
  label->excludes(start)->excludes(image);
  start->excludes(image);
  if (!withMode) return;
  command.add_option("--mode", s.mode, "Recovery mode")->check(CLI::IsMember({"standard", "advanced", "deep"}));
  command.add_option("--tfs", s.advanced.tfs, "Advanced mode: candidate number from `candidates`")
      ->check(CLI::NonNegativeNumber);
  // exFAT takes the power-of-two shift, where 0 (512-byte clusters) is a size.
  command.add_option("--spc", s.advanced.sectorsPerCluster,
                     "Advanced mode: sectors per cluster (exFAT: its power-of-two shift, 0 to 16)")
      ->check(CLI::NonNegativeNumber);
  command.add_option("--heap", s.advanced.heapOffset, "Advanced mode: heap-offset candidate number")
      ->check(CLI::NonNegativeNumber);
  command.add_flag("--formatted", s.advanced.formatted, "Advanced mode: the volume was formatted");
  command.add_option("--max", s.advanced.maxCandidates, "Advanced mode: candidates to collect")
      ->check(CLI::PositiveNumber);
}

RecoveryMode recoveryMode(const VolumeSelection& s) {
  if (s.mode == "advanced") return RecoveryMode::Advanced;
  if (s.mode == "deep") return RecoveryMode::Deep;
  return RecoveryMode::Standard;
}

bool chooseVolume(OpenImage& image, const VolumeSelection& s) {
  const FileReadSeek& source = *image.source();
  if (s.startSector) {
    VolumeRecord v;
    setKindNamed(v, s.kind);
    v.label = "0";
    v.sizeText = sizeTextWide(s.sizeMiB);
    v.startSector = *s.startSector;
    image.choose(v);
    return true;
  }
  if (s.volumeImage) {
    VolumeRecord v;
    if (!probeVolumeImage(source, v)) {
      if (s.kind.empty()) {
        reportError(s.image + " does not start with a volume of a known kind; name one with --kind.");
        return false;
      }
      v.label = "0";
      v.sizeText = sizeTextWide(static_cast<std::int64_t>(source.sourceLength() >> 20));
      v.sizeBytes = source.sourceLength();
    }
    if (!s.kind.empty()) setKindNamed(v, s.kind);
    v.volumeName = "Unknown";
    image.choose(v);
    return true;
  }
  if (!s.label) {
    reportError("Name the volume: --volume LABEL, --start-sector N --kind KIND, or --volume-image.");
    return false;
  }
  JobContext job;
  ListingRequest request;
  request.gpt = s.gpt;
  request.advanced = s.advancedListing;
  image.setVolumes(listImageVolumes(source, request, job).volumes);
  for (const VolumeRecord& v : image.volumes())
    if (v.label == *s.label) {
      image.choose(v);
      return true;
    }
  reportError("The volume list of " + s.image + " has no volume " + *s.label + "; see quorvel-cli volumes.");
  return false;
}

}  // namespace quorvel::cli
