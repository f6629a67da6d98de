#pragma once
// Every copy of a file-system block the journal still holds, found by
// reading each block of the journal once, not only the live part of the log:
// older transactions stay in the ring until newer ones overwrite them, and
// they are where a deleted file's inode, extent blocks and folder blocks
// survive. Nothing is replayed or written.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fs/ext/JournalFormat.h"

namespace quorvel {
class JobContext;
}

namespace quorvel::extfmt::journal {

// Reads block `index` of the journal (0 is its superblock); false when the
// block cannot be read.
using JournalBlockReader = std::function<bool(std::uint32_t index, std::span<std::uint8_t> out)>;

struct JournalCopy {
  enum Bit : std::uint8_t {
    kEscaped = 0x01,    // the magic number was taken off its first four bytes
    kCommitted = 0x02,  // its transaction's commit block is in the journal
    kChecked = 0x04,    // its tag's checksum matched
  };
  std::uint64_t fileSystemBlock = 0;
  std::uint32_t journalBlock = 0;
  std::uint32_t sequence = 0;
  std::uint8_t bits = 0;
  bool has(Bit b) const { return (bits & b) != 0; }
};

struct Revocation {
  std::uint64_t fileSystemBlock = 0;
  std::uint32_t sequence = 0;
};

class JournalIndex {
 public:
  // Revocations kept at most: a real journal holds far fewer; a damaged one
  // must not be able to claim gigabytes.
  static constexpr std::size_t kRevocationLimit = std::size_t{1} << 22;

  JournalIndex() = default;
  // Reads the journal through `read`. An unusable superblock leaves the
  // index empty with fault() saying why. `volumeFastCommit`: the file
  // system has fast commits on (see Superblock::volumeFastCommit).
  JournalIndex(JournalBlockReader read, std::uint32_t journalBlocks, std::uint32_t fileSystemBlockSize, JobContext* job,
               bool volumeFastCommit = false);

  bool usable() const { return fault_.empty(); }
  const std::string& fault() const { return fault_; }
  const Superblock& superblock() const { return super_; }

  // The copies of one file-system block, the newest first.
  std::span<const JournalCopy> copiesOf(std::uint64_t fileSystemBlock) const;
  // Every copy, by file-system block and then the newest first.
  std::span<const JournalCopy> copies() const { return copies_; }
  // The blocks revoked, by file-system block and then the newest first.
  std::span<const Revocation> revocations() const { return revocations_; }
  bool revocationsCut() const { return revocationsCut_; }
  std::optional<Commit> commitOf(std::uint32_t sequence) const;
  std::size_t transactionCount() const { return commits_.size(); }

  // A copy's bytes as the file system held them (the magic put back where
  // the journal escaped it).
  bool read(const JournalCopy& copy, std::span<std::uint8_t> out) const;

  // Orders sequences from the oldest to the newest this journal holds,
  // across the wrap of the number space.
  std::uint32_t age(std::uint32_t sequence) const { return sequence - oldestKey_; }

 private:
  void scan(JobContext* job);
  void claim(std::uint32_t position, const Tag& tag, std::uint32_t sequence, Bytes data);
  void finish();

  JournalBlockReader read_;
  Superblock super_;
  std::string fault_;
  std::uint32_t seed_ = 0;
  std::uint32_t oldestKey_ = 0;
  std::vector<JournalCopy> copies_;
  std::vector<Revocation> revocations_;
  bool revocationsCut_ = false;
  std::vector<Commit> commits_;  // by sequence
};

}  // namespace quorvel::extfmt::journal
