#pragma once
// The parser FAT12, FAT16 and FAT32 share: a boot sector with a BIOS
// parameter block, directories of 32-byte short entries with long names
// before them, one FAT of 12-, 16- or 32-bit entries. Fat16Parser and
// Fat32Parser say only where they differ (which widths they take, where the
// root directory lies, their texts).
#include <cstdint>
#include <optional>
#include <vector>

#include "fs/fatfamily/FatCopySearch.h"
#include "fs/fat/FatDirectoryEntry.h"
#include "fs/fatfamily/FatFamilyParser.h"
#include "fs/fat/FatLayout.h"
#include "fs/fat/FatSlotScan.h"

namespace quorvel {

// One record per directory entry: where its data lies and the fields its
// list row shows as the volume recorded them.
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
  CandidateLists findCandidates(const FileReadSeek& source, const ScanRequest& request, JobContext& job) override;
  bool scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) override;
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

  // ---- advanced mode, in the order the job runs it ----
  // The FAT copies found by findCandidates, volume offsets in volume order.
  const std::vector<std::uint64_t>& fatCopies() const { return fatCopies_; }
  // The layout the tree is rebuilt with: a valid boot sector's (or its
  // FAT32 backup's) when its cluster size is the chosen one; else cluster 2
  // where the "." entries the scan found put it; else a guess. False with a
  // message when the cluster size makes no sense for the volume.
  bool prepareFromFatCopy(std::optional<std::uint64_t> fatCopy, std::uint32_t sectorsPerCluster,
                          const fatfmt::SlotScanResult& found, JobContext& job);

  const std::vector<FatEntryRecord>& records() const { return records_; }
  const std::optional<fatfmt::FatGeometry>& geometry() const { return geometry_; }

 protected:
  virtual bool takesWidth(fatfmt::FatWidth width) const = 0;
  virtual const char* wrongFormatMessage() const = 0;  // "Selected Drive is not in Fat16 Format"
  virtual const char* walkStatus() const = 0;          // "Finding Fat16 File And Directory entries recursively...."
  virtual fatfmt::FatCopyKind copyKind() const = 0;
  virtual const char* copyItemPrefix() const = 0;      // "FAT_ENTRY:"
  virtual const char* advancedTreeStatus() const = 0;  // "Maintaining Tree Structure for Tree Control"

  bool appendCandidate(std::uint64_t offset, EntryId parent) override;
  void dropRecordsFrom(std::size_t count) override;
  void appendFolderPlaceholder(const char* name, bool orphanFolder) override;

  const fatfmt::FatFamilyRecord& commonRecord(EntryId id) const override { return records_[id]; }
  void parseDirectoryCluster(Bytes directory, EntryId folder, bool insideDeletedFolder) override;
  bool continuesFolder(Bytes cluster) const override;

 private:
  void appendEntry(const fatfmt::ShortEntry& entry, const std::string& name, EntryId parent, bool folder, bool afterEnd);
  void clearRecords();
  bool scanAdvanced(const ScanRequest& request, JobContext& job);
  fatfmt::FatWidth advancedWidth() const;
  void searchFatCopies(std::size_t limit, JobContext& job);

  std::vector<std::uint64_t> fatCopies_;
  VolumeExtent searched_;
  bool rootGuessed_ = false;

  std::optional<fatfmt::FatGeometry> geometry_;
  std::vector<FatEntryRecord> records_;
};

}  // namespace quorvel
