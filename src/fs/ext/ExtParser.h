#pragma once
// The ext2/ext3/ext4 parser: finds a superblock, reads the group
// descriptors and every group's inode table, names inodes from the
// directory blocks (removed names in their slack too), and streams contents
// through extent trees, block maps and inline data.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/ext/ExtDirectory.h"
#include "fs/ext/ExtNameTable.h"
#include "fs/ext/ExtFileMap.h"
#include "fs/ext/ExtInode.h"
#include "fs/ext/ExtSuperblock.h"
#include "fs/ext/JournalRecovery.h"

namespace quorvel {

// A deleted inode as the journal kept it while its file lived.
struct RecoveredInode {
  std::uint32_t number = 0;
  std::uint32_t sequence = 0;
  std::vector<std::uint8_t> raw;
};

class ExtParser : public FileSystemParser {
 public:
  bool scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) override;

  RowTexts formatRow(EntryId id) const override;
  bool readContent(EntryId id, ContentSink& sink) const override;
  const char* recoveredFrom(EntryId id) const override;

  // ---- the scan steps, in the order the job runs them
  void attachSource(const FileReadSeek& source, const VolumeExtent& volume);
  // The primary superblock, else the first consistent copy met in 512-byte
  // steps; false (after telling the user why) when there is none.
  bool findSuperBlock(JobContext& job);
  // False (after telling the user) when the table lies outside the volume.
  bool readGroupDescriptors(JobContext& job);
  // The journal's index of older block copies, where the volume has one.
  void openJournal(JobContext& job);
  // Every group's inode bitmap and table: one InodeInfo per slot with a mode.
  void parseGroups(JobContext& job);
  // The names in every directory inode's blocks.
  void parseDirectories(JobContext& job);
  // Names in the journal's copies of freed (revoked) folder blocks whose
  // folder has no map left to reach them: its first block names it.
  void readRevokedFolders(JobContext& job);
  // Links names, folders and orphans into the catalogue.
  void buildCatalogue(JobContext& job);

  // ---- what the steps found
  const extfmt::Superblock& superblock() const { return super_; }
  std::uint64_t superblockOffset() const { return superblockOffset_; }
  const std::vector<extfmt::GroupDescriptor>& groups() const { return groups_; }
  const extfmt::ExtNameTable& names() const { return names_; }
  const extfmt::JournalRecovery* journal() const { return journal_ ? &*journal_ : nullptr; }

  // The permission letters of a mode, in the list's order.
  static std::string permissionText(std::uint16_t mode);

 private:
  bool runJob(const FileReadSeek& source, const ScanRequest& request, JobContext& job);
  std::uint64_t inodePosition(std::uint32_t number) const;
  // The inode as the volume holds it, or as the journal kept it alive.
  bool readInode(std::uint32_t number, std::vector<std::uint8_t>& raw) const;
  const RecoveredInode* recovered(std::uint32_t number) const;
  extfmt::MapNodeReader mapNodes(const extfmt::Inode& n, std::uint32_t number) const;
  // A folder block and whether its slack is searched (not a hash index's root).
  struct FolderBlock {
    std::uint64_t physical;
    bool searchSlack;
  };
  // The names of an older version of one of `folder`'s blocks that `known`
  // does not hold yet, listed as removed.
  void addOlderNames(std::uint32_t folder, Bytes block, const extfmt::DirectoryBlockWalk& how,
                     std::set<std::pair<std::uint32_t, std::string>>& known);
  // Names in the journal's older versions of a folder's blocks that the
  // folder does not hold now, listed as removed.
  void readFolderCopies(std::uint32_t number, std::uint32_t generation, const std::vector<FolderBlock>& logged,
                        extfmt::DirectoryBlockWalk how, std::set<std::pair<std::uint32_t, std::string>>& known);
  // Names fast commits made in the folder for files deleted since: the
  // kernel wipes a removed name in the folder's block.
  void readFastCommitNames(std::uint32_t number, std::set<std::pair<std::uint32_t, std::string>>& known);
  bool blockInUse(std::uint64_t block) const;
  // How many of the blocks from `first` on no file the journal gave back
  // from a later time than `sequence` held: a deleted file's block may
  // have gone to another file that was deleted after it.
  std::uint64_t untakenLater(std::uint64_t first, std::uint64_t count, std::uint32_t sequence) const;
  void readDirectory(std::uint32_t number, Bytes raw, bool removed, std::vector<std::uint8_t>& block);
  bool streamInode(std::uint32_t number, ContentSink& sink) const;
  std::uint64_t blockSize() const { return device_.blockSize; }

  extfmt::BlockDevice device_;
  extfmt::Superblock super_;
  std::uint64_t superblockOffset_ = 0;
  std::vector<extfmt::GroupDescriptor> groups_;
  extfmt::ExtNameTable names_{catalogue_};
  std::optional<extfmt::JournalRecovery> journal_;
  // Deleted inodes the journal gave back, by number.
  std::vector<RecoveredInode> recovered_;
  // The blocks those inodes held, by first block; made at the first save.
  struct BlockClaim {
    std::uint64_t first;
    std::uint64_t count;
    std::uint32_t age;  // of the copy the inode was taken from
  };
  mutable std::mutex claimsMutex_;
  mutable bool claimsMade_ = false;
  mutable std::vector<BlockClaim> claims_;
  mutable std::uint64_t longestClaim_ = 0;
  // Directory inodes to read, gathered by parseGroups: numbers and raw slots.
  std::vector<std::uint32_t> directories_;
  std::vector<std::uint8_t> directorySlots_;
};

// The parser of the "extX" row.
std::unique_ptr<FileSystemParser> makeExtParser();

}  // namespace quorvel
