#pragma once
// Hand-made ext journals: a superblock, transactions written as the journal
// writes them (a descriptor, its data blocks in ring order with escaping and
// tag checksums, a commit block), revoke blocks, and fast-commit records.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fs/ext/FastCommitLog.h"
#include "fs/ext/JournalIndex.h"

namespace quorvel::test {

class JournalBuilder {
 public:
  using ByteVector = std::vector<std::uint8_t>;
  struct Copy {
    std::uint64_t block;
    ByteVector data;
  };

  JournalBuilder(std::uint32_t blockSize, std::uint32_t blocks, std::uint32_t incompat, std::uint32_t first = 1);

  // A transaction from `at`: returns the position after its last block.
  std::uint32_t transaction(std::uint32_t at, std::uint32_t sequence, const std::vector<Copy>& copies,
                            bool commit = true, std::int64_t commitSeconds = 0);
  std::uint32_t revoke(std::uint32_t at, std::uint32_t sequence, const std::vector<std::uint64_t>& blocks);

  // The last `count` blocks (the default when 0) become the fast-commit
  // area; `flagged`: the journal's own flag is set, as while mounted (a
  // clean unmount clears it).
  void fastCommitArea(std::uint32_t count, bool flagged);
  // The first block past the ring.
  std::uint32_t ringEnd() const { return ringEnd_; }
  void put(std::uint32_t at, const std::vector<ByteVector>& blocks);

  ByteVector& block(std::uint32_t index) { return blocks_[index]; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(blocks_.size()); }
  std::uint32_t blockSize() const { return blockSize_; }
  extfmt::journal::JournalBlockReader reader() const;
  extfmt::journal::JournalIndex index(bool volumeFastCommit = false) const;

  // A block of one repeated byte, the first four bytes replaced if given.
  ByteVector filled(std::uint8_t value) const { return ByteVector(blockSize_, value); }

 private:
  std::uint32_t next(std::uint32_t position) const { return position + 1 < ringEnd_ ? position + 1 : first_; }
  void header(ByteVector& b, std::uint32_t type, std::uint32_t sequence) const;

  std::uint32_t blockSize_;
  std::uint32_t incompat_;
  std::uint32_t first_;
  std::uint32_t ringEnd_;
  std::vector<ByteVector> blocks_;
};

// Fast-commit records laid out as the kernel lays them out: a PAD closes a
// block the next record does not fit in, and a TAIL (its CRC over the
// records since the previous TAIL) runs to its block's end.
class FastCommitWriter {
 public:
  using ByteVector = std::vector<std::uint8_t>;
  using Tag = extfmt::journal::FastCommitTag;

  explicit FastCommitWriter(std::uint32_t blockSize) : blockSize_(blockSize) {}

  FastCommitWriter& head(std::uint32_t tid, std::uint32_t features = 0);
  FastCommitWriter& dentry(Tag tag, std::uint32_t parent, std::uint32_t inode, const std::string& name);
  FastCommitWriter& inode(std::uint32_t number, const ByteVector& raw);
  FastCommitWriter& range(std::uint32_t inode, std::uint32_t logical, std::uint16_t storedLength, std::uint64_t physical);
  // Any record, its value as given.
  FastCommitWriter& record(std::uint16_t tag, const ByteVector& value);
  FastCommitWriter& tail(std::uint32_t tid, bool rightCrc = true);

  const std::vector<ByteVector>& blocks() const { return blocks_; }

 private:
  void put(const ByteVector& bytes, bool counted);
  void nextBlock();

  std::uint32_t blockSize_;
  std::vector<ByteVector> blocks_;
  std::size_t at_ = 0;  // in the last block
  std::uint32_t crc_ = 0;
};

}  // namespace quorvel::test
