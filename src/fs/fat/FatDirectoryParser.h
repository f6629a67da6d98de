#pragma once
// The parser FAT12, FAT16 and FAT32 share: a boot sector with a BIOS
// parameter block, directories of 32-byte short entries with long names
// before them, one FAT of 12-, 16- or 32-bit entries. Fat16Class and
// Fat32Class say only where they differ (which widths they take, where the
// root directory lies, their texts).
#include <cstdint>
#include <optional>
#include <vector>

#include "fs/fat/FatDirectoryEntry.h"
#include "fs/fat/FatFamilyParser.h"
#include "fs/fat/FatLayout.h"

namespace quorvel {

// One record per directory entry.
struct FatEntryRecord : fatfmt::FatFamilyRecord {
  std::uint8_t attributes = 0;
  std::uint8_t creationTenths = 0;
  std::uint16_t creationTime = 0;
  std::uint16_t creationDate = 0;
  std::uint16_t accessDate = 0;
  std::uint16_t firstClusterHigh = 0;
  std::uint16_t writeTime = 0;
  std::uint16_t writeDate = 0;
  std::uint16_t firstClusterLow = 0;
};

class FatDirectoryParser : public FatFamilyParser {
 public:
  bool scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) override;
  EntryTimes times(EntryId id) const override;
  RowTexts formatRow(EntryId id) const override;

  // ---- the scan steps, in the order the job runs them ----
  // Reads the boot sector; false when its parameter block describes no
  // volume of the widths this parser takes.
  bool checkBootSector();
  // Binds the FAT and the cluster area to the geometry.
  void readFat();
  // The root directory's bytes (its clusters are claimed).
  std::vector<std::uint8_t> readRootDirectory();
  // Builds the record list from the root down.
  bool parseRootDirectory(JobContext& job);

  const std::vector<FatEntryRecord>& records() const { return records_; }
  const std::optional<fatfmt::FatGeometry>& geometry() const { return geometry_; }

 protected:
  virtual bool takesWidth(fatfmt::FatWidth width) const = 0;
  virtual const char* wrongFormatMessage() const = 0;  // "Selected Drive is not in Fat16 Format"
  virtual const char* walkStatus() const = 0;          // "Finding Fat16 File And Directory entries recursively...."

  std::size_t recordCountImpl() const override { return records_.size(); }
  const fatfmt::FatFamilyRecord& commonRecord(EntryId id) const override { return records_[id]; }
  void parseDirectoryCluster(Bytes directory, EntryId folder, bool insideDeletedFolder) override;

 private:
  void appendEntry(const fatfmt::ShortEntry& entry, std::string name, EntryId parent, bool folder, bool afterEnd);

  std::optional<fatfmt::FatGeometry> geometry_;
  std::vector<FatEntryRecord> records_;
};

}  // namespace quorvel
