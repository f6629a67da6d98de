#pragma once
// Hand-made ext journals: a superblock, transactions written as the journal
// writes them (a descriptor, its data blocks in ring order with escaping and
// tag checksums, a commit block), and revoke blocks.
#include <cstdint>
#include <utility>
#include <vector>

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

  ByteVector& block(std::uint32_t index) { return blocks_[index]; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(blocks_.size()); }
  std::uint32_t blockSize() const { return blockSize_; }
  extfmt::journal::JournalBlockReader reader() const;
  extfmt::journal::JournalIndex index() const;

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

}  // namespace quorvel::test
