#pragma once
// What the journal's older copies give back of deleted files: an inode as it
// was while its file lived, the blocks of its map as they were then, and
// older versions of folder blocks with the names they held. The kernel wipes
// all three when it deletes a file; the journal keeps them until its ring
// comes round.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "fs/ext/ExtFileMap.h"
#include "fs/ext/ExtInode.h"
#include "fs/ext/ExtSuperblock.h"
#include "fs/ext/JournalIndex.h"

namespace quorvel::extfmt {

struct LiveInodeCopy {
  std::vector<std::uint8_t> raw;  // the inode-table slot
  std::uint32_t sequence = 0;     // of the transaction that logged it
};

class JournalRecovery {
 public:
  JournalRecovery(const BlockDevice& device, const Superblock& super, journal::JournalIndex index);

  const journal::JournalIndex& index() const { return index_; }

  // The newest copy of an inode's slot (`offset` bytes into table block
  // `tableBlock`) in which the inode was live and mapped something.
  std::optional<LiveInodeCopy> liveInode(std::uint64_t tableBlock, std::size_t offset) const;

  // Reads the blocks of a map as they were at `sequence`: the newest copy
  // not newer than it that is a node of this very file (its header holds,
  // and with metadata checksums its checksum too), else the volume's block.
  MapNodeReader mapNodesAt(const Inode& inode, std::uint32_t number, std::uint32_t sequence) const;

  // Every older version of a folder's block that belongs to that folder
  // (by its checksum, where the volume keeps them), newest first.
  void forEachFolderCopy(std::uint64_t block, std::uint32_t number, std::uint32_t generation,
                         const std::function<void(Bytes)>& visit) const;

 private:
  std::uint32_t inodeSeed(std::uint32_t number, std::uint32_t generation) const;
  bool extentNodeBelongs(Bytes node, std::uint32_t seed) const;

  const BlockDevice& device_;
  Superblock super_;
  journal::JournalIndex index_;
  bool hugeFiles_ = false;
};

}  // namespace quorvel::extfmt
