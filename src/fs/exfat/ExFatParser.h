#pragma once
// exFAT volumes: entry sets instead of short entries, data either in one
// contiguous run or along the FAT, the root directory a cluster chain.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "fs/exfat/ExFatHeapSearch.h"
#include "fs/exfat/ExFatLayout.h"
#include "fs/fatfamily/FatFamilyParser.h"

namespace quorvel {

// One record per entry set: where its data lies and the fields its list
// row shows as the volume recorded them.
struct ExFatEntryRecord : fatfmt::FatFamilyRecord {
  std::uint8_t entryType = 0;  // 0x85 live, 0x05 deleted
  std::uint16_t attributes = 0;
  std::uint32_t createTimestamp = 0;
  std::uint32_t modifiedTimestamp = 0;
  std::uint32_t accessedTimestamp = 0;
  std::uint8_t create10ms = 0;
  std::uint8_t modified10ms = 0;
  std::uint8_t createUtcOffset = 0;
  std::uint8_t modifiedUtcOffset = 0;
  std::uint8_t accessedUtcOffset = 0;
  std::uint8_t streamEntryType = 0;
  std::uint8_t generalSecondaryFlags = 0;
  std::uint8_t nameLength = 0;
  std::uint64_t validDataLength = 0;
  std::uint64_t dataLength = 0;
};

class ExFatParser : public FatFamilyParser {
 public:
  ExFatParser();
  CandidateLists findCandidates(const FileReadSeek& source, const ScanRequest& request, JobContext& job) override;
  bool scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) override;
  RowTexts formatRow(EntryId id) const override;

  // ---- the scan steps, in the order the job runs them ----
  // The volume's size as its size text says; true when above 0.
  bool setVolumeSize();
  // Reads the boot sector; false when it is no usable exFAT boot sector.
  bool checkBootSector(JobContext& job);
  // The root directory's bytes, along its chain; nothing when the boot
  // sector names no cluster for it.
  std::optional<std::vector<std::uint8_t>> readRootDirectory();
  // Builds the record list from the root down.
  bool parseRootDirectory(Bytes root, JobContext& job);

  // ---- advanced mode ----
  const std::vector<std::uint64_t>& fatCopies() const { return fatCopies_; }
  const std::vector<std::uint64_t>& heapOffsets() const { return heapOffsets_; }

  const std::vector<ExFatEntryRecord>& records() const { return records_; }
  const std::optional<exfatfmt::ExFatGeometry>& geometry() const { return geometry_; }
  std::uint64_t volumeSize() const { return volumeSize_; }

 protected:
  const fatfmt::FatFamilyRecord& commonRecord(EntryId id) const override { return records_[id]; }
  void parseDirectoryCluster(Bytes directory, EntryId folder, bool insideDeletedFolder) override;
  bool appendCandidate(std::uint64_t offset, EntryId parent) override;
  void dropRecordsFrom(std::size_t count) override;
  void appendFolderPlaceholder(const char* name, bool orphanFolder) override;

 private:
  // Decodes the entry set at `offset`; how many slots it takes, 0 when
  // there is no usable set there.
  std::size_t readEntrySet(Bytes directory, std::size_t offset, EntryId parent, bool insideDeletedFolder);

  void clearRecords();
  void searchVolume(std::size_t limit, JobContext& job);
  // The longest entry set at an offset, read on through the chain at a cluster's end.
  std::size_t readSetAt(std::uint64_t offset, std::span<std::uint8_t> out) const;
  bool scanAdvanced(const ScanRequest& request, JobContext& job);

  std::vector<std::uint64_t> fatCopies_;
  std::vector<std::uint64_t> heapOffsets_;
  std::vector<exfatfmt::HeapCandidate> heapFinds_;  // beside heapOffsets_, with their evidence
  VolumeExtent searched_;
  std::uint64_t volumeSize_ = 0;
  std::optional<exfatfmt::ExFatGeometry> geometry_;
  std::vector<ExFatEntryRecord> records_;
};

std::unique_ptr<FileSystemParser> makeExFatParser();

}  // namespace quorvel
