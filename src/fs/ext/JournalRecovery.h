#pragma once
// What the journal's older copies give back of deleted files: an inode as it
// was while its file lived, the blocks of its map as they were then, and
// older versions of folder blocks with the names they held. The kernel wipes
// all three when it deletes a file; the journal keeps them until its ring
// comes round. A file made and deleted between two full commits is in no
// block copy: its fast commits may still hold its inode and its name.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "fs/ext/ExtFileMap.h"
#include "fs/ext/ExtInode.h"
#include "fs/ext/ExtSuperblock.h"
#include "fs/ext/FastCommitLog.h"
#include "fs/ext/JournalIndex.h"

namespace quorvel::extfmt {

struct LiveInodeCopy {
  std::vector<std::uint8_t> raw;  // the inode-table slot
  std::uint32_t sequence = 0;     // of the transaction that logged it
  bool fastCommit = false;        // from the fast-commit area, not a block copy
};

class JournalRecovery {
 public:
  JournalRecovery(const BlockDevice& device, const Superblock& super, journal::JournalIndex index,
                  journal::FastCommitLog fastCommits = {});

  const journal::JournalIndex& index() const { return index_; }
  const journal::FastCommitLog& fastCommits() const { return fastCommits_; }

  // The newest state of inode `number` in which it was live and mapped
  // something: a copy of its slot (`offset` bytes into table block
  // `tableBlock`), or its newest such fast-commit record where that is
  // later. A record holds only the slot's first bytes; the rest is taken
  // from `now`, the slot as the volume holds it.
  std::optional<LiveInodeCopy> liveInode(std::uint32_t number, std::uint64_t tableBlock, std::size_t offset,
                                         Bytes now) const;

  // The names fast commits made (CREAT, LINK) in folder `parent`, oldest first.
  void forEachFastCommitName(std::uint32_t parent, const std::function<void(const journal::FastCommitName&)>& visit) const;
  bool hasFastCommitNames(std::uint32_t parent) const;

  // Reads the blocks of a map as they were at `sequence`: the newest copy
  // not newer than it that is a node of this very file (its header holds,
  // and with metadata checksums its checksum too), else the volume's block.
  MapNodeReader mapNodesAt(const Inode& inode, std::uint32_t number, std::uint32_t sequence) const;

  // Every older version of a folder's block that belongs to that folder
  // (by its checksum, where the volume keeps them), newest first.
  void forEachFolderCopy(std::uint64_t block, std::uint32_t number, std::uint32_t generation,
                         const std::function<void(Bytes)>& visit) const;

 private:
  std::optional<LiveInodeCopy> liveBlockCopy(std::uint64_t tableBlock, std::size_t offset) const;
  std::optional<LiveInodeCopy> liveFastCommit(std::uint32_t number, Bytes now) const;
  std::uint32_t inodeSeed(std::uint32_t number, std::uint32_t generation) const;
  bool extentNodeBelongs(Bytes node, std::uint32_t seed) const;

  const BlockDevice& device_;
  Superblock super_;
  journal::JournalIndex index_;
  journal::FastCommitLog fastCommits_;
  // Positions in fastCommits_: inode records by number, the newest first;
  // CREAT and LINK names by folder, the oldest first.
  std::vector<std::size_t> inodeRecords_;
  std::vector<std::size_t> folderNames_;
  bool hugeFiles_ = false;
};

}  // namespace quorvel::extfmt
