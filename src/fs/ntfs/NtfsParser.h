#pragma once
// The NTFS parser: finds the MFT, reads every record into a small catalogue
// entry, links entries into folders, and streams file contents.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/ntfs/DataStream.h"
#include "fs/ntfs/MftRecordTable.h"
#include "fs/ntfs/NtfsLayout.h"
#include "fs/ntfs/NtfsVolume.h"
#include "fs/ntfs/RecordAttributes.h"
#include "fs/ntfs/RunList.h"

namespace quorvel {

class NtfsParser : public FileSystemParser {
 public:
  // The cluster-size choices of the advanced-input screen, in sectors.
  static const std::vector<std::string>& sectorsPerClusterChoices();

  CandidateLists findCandidates(const FileReadSeek& source, const ScanRequest& request, JobContext& job) override;
  bool scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) override;
  RecycleBinLayout recycleBinLayout() const override { return RecycleBinLayout::UserFolders; }

  RowTexts formatRow(EntryId id) const override;
  bool readContent(EntryId id, ContentSink& sink) const override;
  std::optional<FileTime> deletionTime(EntryId id) const override;

  // ---- the scan steps, in the order the jobs run them ----
  // Reads the volume through a view of the source from now on.
  bool attachSource(const FileReadSeek& source, const VolumeExtent& volume);
  // Reads the boot sector and the volume size; false when the size is 0.
  bool readBootSector();
  // Standard mode: the MFT's runs from its own record, through the boot
  // sector (or its mirror), else by searching the volume for it.
  void locateMft(JobContext& job);
  // Advanced mode: the MFT's runs from candidate k of findMftEntries.
  bool useCandidate(int k);
  // Reads every record of the MFT in large sequential pieces and parses it
  // into the entry whose index is its record number.
  void readMftRun(JobContext& job);
  // Sizes held in extension records, names from the change journal and
  // from folder index slack, the orphan folder, the links.
  void buildCatalogue(JobContext& job);
  // Names, folders and deletion times the change journal keeps for records
  // the MFT no longer names (read by record number: not in deep mode).
  void addJournalNames(JobContext& job);
  // Deleted names left in the slack of every folder's index, listed as
  // deleted entries of that folder (read by record number: not in deep mode).
  void addIndexSlackNames(JobContext& job);
  // Advanced mode: the records of the MFT itself anywhere on the volume.
  std::int64_t findMftEntries(std::int64_t limit, JobContext& job);
  // Deep mode: every named record anywhere on the volume.
  void deepScan(JobContext& job);

  // Reads the record at a volume offset and applies its fix-ups.
  std::optional<ntfsfmt::RecordImage> readRecord(std::uint64_t position, std::vector<std::uint8_t>& buffer) const;

  // ---- what the steps found ----
  std::uint64_t volumeSize() const { return volumeSize_; }
  std::uint64_t clusterSize() const { return clusterSize_; }
  std::uint32_t recordSize() const { return recordSize_; }
  bool mftRunKnown() const { return mftRunKnown_; }
  const std::vector<ntfsfmt::DataRun>& mftRuns() const { return mftRuns_; }
  const std::vector<std::uint64_t>& candidates() const { return candidates_; }

 private:
  bool runJob(const FileReadSeek& source, const ScanRequest& request, JobContext& job);
  bool streamEntry(EntryId id, ContentSink& sink) const;
  void resetCatalogue();
  ntfsfmt::NtfsVolume volume() const;
  bool readEntryRecord(EntryId id, std::vector<std::uint8_t>& buffer) const;
  static std::uint64_t clusterSizeFromMftRecord(const ntfsfmt::RecordImage& image);
  bool mftRunsFromRecordAt(std::uint64_t position, bool deriveClusterSize);
  void searchForMft(JobContext& job);
  void resolveExtensionRecords(JobContext& job);
  void markMftRecord(std::uint32_t index, const ntfsfmt::RecordImage& image);
  std::uint32_t appendFoundRecord(std::uint64_t position, std::span<std::uint8_t> record);
  void reparseFoundRecords(std::uint32_t count);
  // childrenOf: (folder, record) pairs of every named record, sorted.
  void addSlackNamesOf(std::uint32_t folder, std::int64_t nowSeconds,
                       const std::vector<std::pair<std::uint32_t, std::uint32_t>>& childrenOf);
  // An entry's attributes with those in its extension records (by record
  // number: not in deep mode); invalid when its record cannot be read.
  ntfsfmt::RecordAttributes entryAttributes(EntryId id) const;
  ntfsfmt::DataStream unnamedData(EntryId id, const ntfsfmt::RecordImage& image, const ntfsfmt::NtfsVolume& v) const;

  VolumeView view_;
  ntfsfmt::BootSector boot_;
  std::uint64_t volumeSize_ = 0;
  std::uint64_t clusterSize_ = 0;
  bool clusterSizeDerived_ = false;
  std::uint32_t recordSize_ = 0;
  bool mftRunKnown_ = false;
  std::vector<ntfsfmt::DataRun> mftRuns_;
  std::uint64_t mftDataSize_ = 0;
  std::vector<std::uint64_t> candidates_;
  // Entries found by a sector scan are in disk order, not by record number;
  // their records are then read back from these positions.
  bool deepLayout_ = false;
  std::vector<std::uint64_t> positions_;
  ntfsfmt::MftRecordTable records_{catalogue_};
  std::vector<ntfsfmt::AttributeHeader> scratch_;
  // When the change journal says a deleted record was deleted.
  std::unordered_map<EntryId, FileTime> deletionTimes_;
};

std::unique_ptr<FileSystemParser> makeNtfsParser();

}  // namespace quorvel
