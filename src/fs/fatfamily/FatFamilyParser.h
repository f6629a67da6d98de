#pragma once
// What the FAT12/16/32 and exFAT parsers share: filling the catalogue in
// step with their own record lists, the walk over every folder, and
// reading data through the FAT or as contiguous runs.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/fatfamily/ClusterArea.h"
#include "fs/fatfamily/FatFamilyRecord.h"
#include "fs/fatfamily/FatTable.h"

namespace quorvel {

inline constexpr const char* kOrphanEntryName = "ORPHAN ENTRY";

class FatFamilyParser : public FileSystemParser {
 public:
  RecycleBinLayout recycleBinLayout() const override { return RecycleBinLayout::FlatAndUserFolders; }

  bool readContent(EntryId id, ContentSink& sink) const override;

  // Links the catalogue under the root placeholder. Runs once, after the
  // last record was appended.
  void linkParentChild();

  // "Is Drive Formated..?": the FAT is not trusted; folders are read as
  // their first cluster and files as contiguous runs.
  bool driveFormatted() const { return driveFormatted_; }
  void setDriveFormatted(bool formatted) { driveFormatted_ = formatted; }
  // Advanced mode: the FAT is a copy the user picked and may be stale, so a
  // live file whose chain there does not cover its size is read as a run.
  // Folders are then proven before they are read: a found "folder" entry
  // may be any 32 bytes that pass for one.
  void setChainsDoubted(bool doubted) { chainsDoubted_ = doubted; }
  bool chainsDoubted() const { return chainsDoubted_; }

  std::size_t recordCount() const { return catalogue_.count(); }
  const fatfmt::FatFamilyRecord& common(EntryId id) const { return commonRecord(id); }

 protected:
  // The record list is the derived class's, with its own record type, one
  // record per catalogue entry, in the same order.
  virtual const fatfmt::FatFamilyRecord& commonRecord(EntryId id) const = 0;
  // A catalogue entry for the record the caller appends next.
  EntryId addToCatalogue(std::string_view name, EntryId parent, bool folder, bool deleted, std::uint64_t size,
                         const EntryTimes& times);
  // Decodes the bytes of a folder's clusters and appends a record per entry,
  // with `folder` as parent. Inside a deleted folder the entries may be
  // stale, and the parser may ask more of them.
  virtual void parseDirectoryCluster(Bytes directory, EntryId folder, bool insideDeletedFolder) = 0;
  // Where a record's data lies; folders are read with the same rules.
  fatfmt::Placement placementOf(EntryId id) const;
  // A folder whose chain is gone (deleted, or the FAT not trusted): only its
  // first cluster is sure.
  bool chainGone(EntryId id) const {
    return catalogue_.isFolder(id) && (driveFormatted_ || (catalogue_.isDeleted(id) && !common(id).noFatChain));
  }
  // Whether a cluster that follows a chainless folder's last one carries on
  // its entries: only directory slots, and no other folder's start.
  virtual bool continuesFolder(Bytes cluster) const { (void)cluster; return false; }
  // Whether the FAT still holds a chain from `first` long enough for `length` bytes.
  bool chainCovers(std::uint32_t first, std::uint64_t length) const;
  // Reads on behind a chainless folder's clusters while the clusters that
  // follow are free and carry on its entries, up to the longest folder.
  void readOnFreedFolder(std::uint32_t firstCluster, std::vector<std::uint8_t>& bytes);

  // Reads the volume through a view of the source from now on.
  void attachSource(const FileReadSeek& source, const VolumeExtent& volume);
  // Binds the FAT and the cluster area to the source.
  void setLayout(std::uint64_t fatOffset, std::uint64_t fatBytes, fatfmt::FatEntryKind kind, std::uint32_t clusterCount,
                 std::uint64_t firstClusterOffset, std::uint32_t clusterSize);
  // Reads every folder below the root, whose bytes the caller has read
  // (claiming its clusters). Live folders go first, so that a deleted
  // folder never takes clusters that a live one uses now.
  //
  // A live folder that starts at a cluster an earlier folder has read (its
  // entry points back at an ancestor, or two folders share one cluster) is
  // a live folder all the same: it lists the entries found there, read a
  // second time, and its sub-folders are walked by the same rules. Each
  // cluster is read at most twice, so the walk ends however the folders
  // loop and every entry is listed at most twice: a loop shows one more
  // turn and then an empty folder, and a third folder on a cluster already
  // read twice lists nothing. A deleted folder never lists a cluster that
  // another folder has read: its own may have been given to that one.
  // False when the job was stopped.
  bool walkFolders(Bytes rootDirectory, JobContext& job);
  // Walks the folders among the records from `firstRecord` on, and every
  // folder found below them, by the same rules.
  bool walkFoldersFrom(std::size_t firstRecord, JobContext& job);

  // ---- advanced mode: the tree rebuilt from the sector scan's finds ----
  // Appends the record of the entry whose slot lies at `offset` (a find of
  // the sector scan) under `parent`; false when no entry is there.
  virtual bool appendCandidate(std::uint64_t offset, EntryId parent) = 0;
  virtual void dropRecordsFrom(std::size_t count) = 0;
  // The root placeholder (record 0), or the orphan folder.
  virtual void appendFolderPlaceholder(const char* name, bool orphanFolder) = 0;
  // Record 0 the root placeholder, record 1 "ORPHAN ENTRY"; the root's tree
  // is walked, then every find that no walk reached goes under "ORPHAN
  // ENTRY" with everything its folders hold. Folders follow their whole
  // chains, so each is listed with all its entries.
  // Finds in [rootAreaBegin, rootAreaEnd) (a fixed root whose place was
  // guessed, so not read as a whole) go under the root.
  bool buildFromCandidates(Bytes rootDirectory, const std::vector<std::uint64_t>& candidates, JobContext& job,
                           std::uint64_t rootAreaBegin = 0, std::uint64_t rootAreaEnd = 0);

  fatfmt::ClusterClaims& folderClaims() { return claims_; }
  const fatfmt::FatTable& fat() const { return fat_; }
  const fatfmt::ClusterArea& area() const { return area_; }
  const VolumeView& volume() const { return volume_; }

  // Longest folder the walk reads: the formats' own limits.
  std::uint64_t maxFolderBytes_ = 2 * 1024 * 1024;

 private:
  VolumeView volume_;
  fatfmt::FatTable fat_;
  fatfmt::ClusterArea area_;
  fatfmt::ClusterClaims claims_;
  bool driveFormatted_ = false;
  bool chainsDoubted_ = false;
};

}  // namespace quorvel
