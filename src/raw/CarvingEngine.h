#pragma once
// The raw-recovery engine: finds files by content in one pass over a volume,
// from the signature settings loaded into it.
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "io/JobContext.h"
#include "io/SectorScan.h"
#include "io/VolumeView.h"
#include "raw/FileEnds.h"
#include "raw/SettingsFile.h"

namespace quorvel::raw {

inline constexpr const char* kCarveDone = "done..";
inline constexpr const char* kRawRootText = "RAW RECOVERY ";
inline constexpr const char* kUnreadableStatus = "Some sectors could not be read; they were taken as zeros.";

// The matching view of one loaded record.
struct SignatureItem {
  std::array<char16_t, kExtensionUnits> extension{};
  std::uint8_t extensionLength = 0;
  std::array<std::uint8_t, kSignatureBytes> startSignature{};
  std::array<std::uint8_t, kSignatureBytes> endSignature{};
  std::uint8_t startLength = 0;
  std::uint8_t endLength = 0;
  std::size_t settingNumber = 0;  // position of its SignatureSetting
};

// The carving view of one loaded record.
struct SignatureSetting {
  std::uint8_t startLength = 0;
  std::uint8_t endLength = 0;
  std::string extension;
  std::int32_t sizeFieldOffset = -1;
  std::int32_t sizeFieldBytes = 0;
  std::int32_t headerSize = 0;
  std::uint8_t sizeIncludesHeader = 0;
  std::uint32_t reserved = 0;
  std::int64_t approximateSize = 0;
  std::int64_t skipSize = 0;
  std::string category;
  // Default types whose end is found by walking them; None keeps the generic rules.
  FileStructure structure = FileStructure::None;
};

struct CarvedFile {
  std::uint64_t start = 0;
  std::uint64_t length = 0;
  std::string name;  // the start as "%lld .", then the extension, made safe for a file name
  std::size_t run = 0;
  std::size_t category = 0;  // in its run's category list
};

struct CarveCategory {
  std::string name;
  std::int64_t count = 0;
  std::vector<std::size_t> files;  // positions in the carved-file list
  // "%s (%lld)" once files are found, the bare name before.
  std::string text() const;
};

struct CarveRun {
  std::vector<CarveCategory> categories;  // one per distinct category text, in settings order
  std::vector<std::size_t> categoryOfSetting;
  ScanEnd end = ScanEnd::Finished;
  bool unreadable = false;
};

class CarvingEngine {
 public:
  // Appends one item and one setting per record. Structure-aware records
  // (the program's own table) find ends by walking where their type allows.
  void load(const std::vector<SignatureRecord>& records, bool structureAware);
  // Reads and loads a settings file (only the records `keep` accepts, when
  // given); false, with the message to show, when refused.
  bool loadFile(const std::filesystem::path& path, SettingsOrigin origin, std::string& message,
                const std::function<bool(const SignatureRecord&)>& keep = {});

  const std::vector<SignatureItem>& items() const { return items_; }
  const std::vector<SignatureSetting>& settings() const { return settings_; }
  // The category texts a run groups files under: each distinct one once, in
  // the order of the settings, and for each setting its category's position.
  std::pair<std::vector<std::string>, std::vector<std::size_t>> categories() const;

  // One run over the whole view; false when it could not start.
  bool carve(const VolumeView& view, JobContext& job);

  const std::vector<CarvedFile>& carvedFiles() const { return carved_; }
  const std::vector<CarveRun>& runs() const { return runs_; }

  // Called on the worker after each carved file, with its position.
  std::function<void(std::size_t)> onCarved;

 private:
  struct Row;
  class Run;

  std::vector<SignatureItem> items_;
  std::vector<SignatureSetting> settings_;
  std::vector<CarvedFile> carved_;
  std::vector<CarveRun> runs_;
};

// A carved file's name: "%lld ." with its start offset, then the extension with
// anything that could leave the output folder replaced.
std::string carvedFileName(std::uint64_t offset, const std::string& extension);

// Where the program's own settings file lies: beside the running program.
std::filesystem::path defaultSettingsPath();

}  // namespace quorvel::raw
