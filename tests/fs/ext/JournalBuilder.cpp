#include "fs/ext/JournalBuilder.h"

#include <algorithm>
#include <cstring>

#include "io/Crc32c.h"
#include "support/TestSupport.h"

namespace quorvel::test {

namespace ej = extfmt::journal;

namespace {

void putBe16(JournalBuilder::ByteVector& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
void putBe64(JournalBuilder::ByteVector& b, std::size_t at, std::uint64_t v) {
  putBe32(b, at, static_cast<std::uint32_t>(v >> 32));
  putBe32(b, at + 4, static_cast<std::uint32_t>(v));
}

constexpr std::uint8_t kUuid[16] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                    0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x01};

}  // namespace

JournalBuilder::JournalBuilder(std::uint32_t blockSize, std::uint32_t blocks, std::uint32_t incompat,
                               std::uint32_t first)
    : blockSize_(blockSize), incompat_(incompat), first_(first), ringEnd_(blocks),
      blocks_(blocks, ByteVector(blockSize, 0)) {
  if (incompat & ej::kIncompatFastCommit) ringEnd_ = blocks - ej::kDefaultFastCommitBlocks;
  ByteVector& s = blocks_[0];
  header(s, 4, 0);
  putBe32(s, 0x0C, blockSize);
  putBe32(s, 0x10, blocks);
  putBe32(s, 0x14, first);
  putBe32(s, 0x18, 1);
  putBe32(s, 0x28, incompat);
  std::memcpy(s.data() + 0x30, kUuid, 16);
}

void JournalBuilder::header(ByteVector& b, std::uint32_t type, std::uint32_t sequence) const {
  putBe32(b, 0, ej::kMagic);
  putBe32(b, 4, type);
  putBe32(b, 8, sequence);
}

std::uint32_t JournalBuilder::transaction(std::uint32_t at, std::uint32_t sequence, const std::vector<Copy>& copies,
                                          bool commit, std::int64_t commitSeconds) {
  const bool v3 = incompat_ & ej::kIncompatCsumV3;
  const bool v2 = incompat_ & ej::kIncompatCsumV2;
  const bool wide = incompat_ & ej::kIncompat64Bit;
  const std::size_t tagBytes = v3 ? 16 : 8 + (wide ? 4 : 0) + (v2 ? 2 : 0);
  const std::uint32_t seed = crc32cUpdate(~0u, Bytes(kUuid, 16));
  ByteVector& d = blocks_[at];
  d.assign(blockSize_, 0);
  header(d, 1, sequence);
  std::size_t tag = 12;
  std::uint32_t position = at;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    position = next(position);
    ByteVector data = copies[i].data;
    std::uint32_t flags = i == 0 ? 0 : ej::kTagSameUuid;
    if (i + 1 == copies.size()) flags |= ej::kTagLastTag;
    if (data.size() >= 4 && (std::uint32_t{data[0]} << 24 | data[1] << 16 | data[2] << 8 | data[3]) == ej::kMagic) {
      std::memset(data.data(), 0, 4);
      flags |= ej::kTagEscape;
    }
    const std::uint8_t seq[4] = {static_cast<std::uint8_t>(sequence >> 24), static_cast<std::uint8_t>(sequence >> 16),
                                 static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence)};
    const std::uint32_t crc = crc32cUpdate(crc32cUpdate(seed, Bytes(seq, 4)), data);
    putBe32(d, tag, copies[i].block & 0xFFFFFFFF);
    if (v3) {
      putBe32(d, tag + 4, flags);
      putBe32(d, tag + 8, copies[i].block >> 32);
      putBe32(d, tag + 12, crc);
    } else {
      putBe16(d, tag + 4, v2 ? crc & 0xFFFF : 0);
      putBe16(d, tag + 6, flags);
      if (wide) putBe32(d, tag + 8, copies[i].block >> 32);
    }
    tag += tagBytes;
    if (i == 0) {
      std::memcpy(d.data() + tag, kUuid, 16);
      tag += 16;
    }
    blocks_[position] = std::move(data);
  }
  position = next(position);
  if (!commit) return position;
  ByteVector& c = blocks_[position];
  c.assign(blockSize_, 0);
  header(c, 2, sequence);
  putBe64(c, 0x30, static_cast<std::uint64_t>(commitSeconds));
  return next(position);
}

std::uint32_t JournalBuilder::revoke(std::uint32_t at, std::uint32_t sequence, const std::vector<std::uint64_t>& revoked) {
  const bool wide = incompat_ & ej::kIncompat64Bit;
  ByteVector& r = blocks_[at];
  r.assign(blockSize_, 0);
  header(r, 5, sequence);
  std::size_t p = 16;
  for (const std::uint64_t b : revoked) {
    if (wide) {
      putBe64(r, p, b);
      p += 8;
    } else {
      putBe32(r, p, b);
      p += 4;
    }
  }
  putBe32(r, 12, p);
  return next(at);
}

ej::JournalBlockReader JournalBuilder::reader() const {
  return [blocks = blocks_](std::uint32_t index, std::span<std::uint8_t> out) {
    if (index >= blocks.size() || out.size() != blocks[index].size()) return false;
    std::memcpy(out.data(), blocks[index].data(), out.size());
    return true;
  };
}

ej::JournalIndex JournalBuilder::index(bool volumeFastCommit) const {
  return ej::JournalIndex(reader(), size(), blockSize_, nullptr, volumeFastCommit);
}

void JournalBuilder::fastCommitArea(std::uint32_t count, bool flagged) {
  ByteVector& s = blocks_[0];
  putBe32(s, 0x54, count);
  incompat_ = flagged ? incompat_ | ej::kIncompatFastCommit : incompat_ & ~ej::kIncompatFastCommit;
  putBe32(s, 0x28, incompat_);
  const std::uint32_t area = count != 0 ? count : ej::kDefaultFastCommitBlocks;
  ringEnd_ = area < size() - first_ ? size() - area : size();
}

void JournalBuilder::put(std::uint32_t at, const std::vector<ByteVector>& blocks) {
  for (const ByteVector& b : blocks) blocks_[at++] = b;
}

// ---- fast commits

void FastCommitWriter::put(const ByteVector& bytes, bool counted) {
  if (counted) crc_ = crc32cUpdate(crc_, bytes);
  std::copy(bytes.begin(), bytes.end(), blocks_.back().begin() + static_cast<std::ptrdiff_t>(at_));
  at_ += bytes.size();
}

void FastCommitWriter::nextBlock() {
  if (!blocks_.empty() && at_ + 4 <= blockSize_) {
    ByteVector pad(blockSize_ - at_, 0);
    putLe16(pad, 0, static_cast<std::uint16_t>(Tag::Pad));
    putLe16(pad, 2, static_cast<std::uint32_t>(pad.size() - 4));
    put(pad, true);
  }
  blocks_.emplace_back(blockSize_, 0);
  at_ = 0;
}

FastCommitWriter& FastCommitWriter::record(std::uint16_t tag, const ByteVector& value) {
  const std::size_t bytes = 4 + value.size();
  // A record goes where it fits with room left for a PAD header after it.
  if (blocks_.empty() || at_ + bytes + 4 > blockSize_) nextBlock();
  ByteVector r(bytes, 0);
  putLe16(r, 0, tag);
  putLe16(r, 2, static_cast<std::uint32_t>(value.size()));
  std::copy(value.begin(), value.end(), r.begin() + 4);
  put(r, true);
  return *this;
}

FastCommitWriter& FastCommitWriter::head(std::uint32_t tid, std::uint32_t features) {
  ByteVector v(8, 0);
  putLe32(v, 0, features);
  putLe32(v, 4, tid);
  return record(static_cast<std::uint16_t>(Tag::Head), v);
}

FastCommitWriter& FastCommitWriter::dentry(Tag tag, std::uint32_t parent, std::uint32_t inode, const std::string& name) {
  ByteVector v(8, 0);
  putLe32(v, 0, parent);
  putLe32(v, 4, inode);
  v.insert(v.end(), name.begin(), name.end());
  return record(static_cast<std::uint16_t>(tag), v);
}

FastCommitWriter& FastCommitWriter::inode(std::uint32_t number, const ByteVector& raw) {
  ByteVector v(4, 0);
  putLe32(v, 0, number);
  v.insert(v.end(), raw.begin(), raw.end());
  return record(static_cast<std::uint16_t>(Tag::Inode), v);
}

FastCommitWriter& FastCommitWriter::range(std::uint32_t inode, std::uint32_t logical, std::uint16_t storedLength,
                                          std::uint64_t physical) {
  ByteVector v(16, 0);
  putLe32(v, 0, inode);
  putLe32(v, 4, logical);
  putLe16(v, 8, storedLength);
  putLe16(v, 10, static_cast<std::uint32_t>(physical >> 32));
  putLe32(v, 12, static_cast<std::uint32_t>(physical));
  return record(static_cast<std::uint16_t>(Tag::AddRange), v);
}

FastCommitWriter& FastCommitWriter::tail(std::uint32_t tid, bool rightCrc) {
  if (blocks_.empty() || at_ + 12 > blockSize_) nextBlock();
  ByteVector head(8, 0);
  putLe16(head, 0, static_cast<std::uint16_t>(Tag::Tail));
  putLe16(head, 2, static_cast<std::uint32_t>(blockSize_ - at_ - 4));
  putLe32(head, 4, tid);
  put(head, true);
  ByteVector crc(4, 0);
  putLe32(crc, 0, rightCrc ? crc_ : crc_ ^ 1);
  put(crc, false);
  // The next fast commit starts on a block of its own, its CRC afresh.
  at_ = blockSize_;
  crc_ = 0;
  return *this;
}

}  // namespace quorvel::test
