#pragma once
// The ext4 fast-commit area: the journal's last blocks, where fsync logs
// what changed (names made and removed, an inode's new extents, the inode
// itself) as little-endian tag-length-value records instead of whole
// blocks. Each fast commit ends in a TAIL record whose CRC covers the
// records since the previous TAIL. The area is written again from its start
// after every full commit, so older runs stay behind the newest until they
// are overwritten: a file made and deleted between two full commits may be
// known only here.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fs/ext/JournalIndex.h"

namespace quorvel::extfmt::journal {

enum class FastCommitTag : std::uint16_t {
  AddRange = 1,
  DeleteRange = 2,
  Create = 3,
  Link = 4,
  Unlink = 5,
  Inode = 6,
  Pad = 7,
  Tail = 8,
  Head = 9,
};

// Where a record stands: its fast commit's transaction, then its place in
// the area (later places of one transaction are newer).
struct FastCommitPlace {
  std::uint32_t tid = 0;
  std::uint32_t order = 0;
};

// CREAT, LINK and UNLINK: a name in a folder.
struct FastCommitName {
  FastCommitTag tag = FastCommitTag::Create;
  std::uint32_t parent = 0;
  std::uint32_t inode = 0;
  std::string name;
  FastCommitPlace place;
};

// INODE: the inode's first bytes as its table slot held them (at least the
// 128 of the original layout, its extra fields after them).
struct FastCommitInode {
  std::uint32_t number = 0;
  std::vector<std::uint8_t> raw;
  FastCommitPlace place;
};

// ADD_RANGE: one extent an inode gained.
struct FastCommitRange {
  std::uint32_t inode = 0;
  std::uint32_t logical = 0;
  std::uint32_t length = 0;
  std::uint64_t physical = 0;
  bool unwritten = false;
  FastCommitPlace place;
};

class FastCommitLog {
 public:
  static constexpr std::size_t kMaxNameBytes = 255;
  static constexpr std::size_t kMinInodeBytes = 128;
  // Records kept at most: a real area holds a few thousand; a damaged one
  // must not be able to claim gigabytes.
  static constexpr std::size_t kRecordLimit = std::size_t{1} << 20;

  FastCommitLog() = default;
  // Reads blocks [from, to) of the journal; inode records longer than
  // `inodeSize` are refused, as the kernel refuses them.
  FastCommitLog(const JournalBlockReader& read, std::uint32_t from, std::uint32_t to, std::uint32_t blockSize,
                std::size_t inodeSize);
  // The area a journal's superblock names (none without one).
  static FastCommitLog ofJournal(const JournalBlockReader& read, const Superblock& s, std::size_t inodeSize);

  // What fast commits whose TAIL held logged, in the area's order.
  std::span<const FastCommitName> names() const { return names_; }
  std::span<const FastCommitInode> inodes() const { return inodes_; }
  std::span<const FastCommitRange> ranges() const { return ranges_; }
  // Fast commits whose TAIL held, and runs left out: torn (their TAIL's CRC
  // or transaction did not match), cut by a record that does not parse, or
  // not ended by a TAIL before the area ends.
  std::size_t commits() const { return commits_; }
  std::size_t droppedRuns() const { return dropped_; }
  bool cut() const { return cut_; }

  // The newest of two places.
  static bool later(const FastCommitPlace& a, const FastCommitPlace& b);

 private:
  struct Pending;
  void decodeBlock(std::span<const std::uint8_t> block, Pending& run);
  void keep(Pending& run, std::uint32_t tid);

  std::size_t inodeSize_ = 0;
  std::vector<FastCommitName> names_;
  std::vector<FastCommitInode> inodes_;
  std::vector<FastCommitRange> ranges_;
  std::size_t commits_ = 0;
  std::size_t dropped_ = 0;
  bool cut_ = false;
};

}  // namespace quorvel::extfmt::journal
