#include "fs/ext/JournalFormat.h"

#include <algorithm>
#include <cstring>

#include "io/Crc32c.h"

namespace quorvel::extfmt::journal {

namespace {

namespace sb {
constexpr std::size_t blockSize = 0x0C;
constexpr std::size_t maxLength = 0x10;
constexpr std::size_t first = 0x14;
constexpr std::size_t sequence = 0x18;
constexpr std::size_t start = 0x1C;
constexpr std::size_t featureCompat = 0x24;
constexpr std::size_t featureIncompat = 0x28;
constexpr std::size_t featureRoCompat = 0x2C;
constexpr std::size_t uuid = 0x30;
constexpr std::size_t fastCommitBlocks = 0x54;
constexpr std::size_t bytes = 0x400;
}  // namespace sb

namespace commit {
constexpr std::size_t seconds = 0x30;
constexpr std::size_t nanoseconds = 0x38;
}  // namespace commit

constexpr std::size_t kUuidBytes = 16;
constexpr std::size_t kTailBytes = 4;        // the checksum closing descriptor and revoke blocks
constexpr std::size_t kRevokeHeaderBytes = 16;

}  // namespace

BlockHeader decodeHeader(Bytes block) { return {be32(block, 0), be32(block, 4), be32(block, 8)}; }

std::size_t Superblock::tagBytes() const {
  if (has(kIncompatCsumV3)) return 16;
  std::size_t bytes = 8;
  if (has(kIncompat64Bit)) bytes += 4;
  if (has(kIncompatCsumV2)) bytes += 2;
  return bytes;
}

std::uint32_t Superblock::fastCommitArea() const {
  if (type != static_cast<std::uint32_t>(BlockType::SuperblockV2) || (!has(kIncompatFastCommit) && !volumeFastCommit))
    return 0;
  const std::uint32_t blocks = fastCommitBlocks != 0 ? fastCommitBlocks : kDefaultFastCommitBlocks;
  // The volume's flag alone does not make a journal with no room for the
  // area unreadable: the kernel would not have used one there.
  if (!has(kIncompatFastCommit) && blocks >= maxLength - std::min(first, maxLength)) return 0;
  return blocks;
}

std::uint32_t Superblock::logEnd() const {
  const std::uint32_t fast = fastCommitArea();
  return fast < maxLength ? maxLength - fast : 0;
}

std::optional<Superblock> decodeSuperblock(Bytes block) {
  const BlockHeader h = decodeHeader(block);
  if (!h.is(BlockType::SuperblockV1) && !h.is(BlockType::SuperblockV2)) return std::nullopt;
  if (block.size() < sb::bytes) return std::nullopt;
  Superblock s;
  s.type = h.type;
  s.blockSize = be32(block, sb::blockSize);
  s.maxLength = be32(block, sb::maxLength);
  s.first = be32(block, sb::first);
  s.sequence = be32(block, sb::sequence);
  s.start = be32(block, sb::start);
  if (h.is(BlockType::SuperblockV2)) {
    s.featureCompat = be32(block, sb::featureCompat);
    s.featureIncompat = be32(block, sb::featureIncompat);
    s.featureRoCompat = be32(block, sb::featureRoCompat);
    std::memcpy(s.uuid, block.data() + sb::uuid, kUuidBytes);
    s.fastCommitBlocks = be32(block, sb::fastCommitBlocks);
  }
  return s;
}

std::string superblockFault(const Superblock& s, std::uint64_t blocks, std::uint64_t fileSystemBlockSize) {
  if (s.blockSize != fileSystemBlockSize) return "its block size differs from the volume's";
  if (s.maxLength > blocks) return "it claims more blocks than its file holds";
  if (s.first == 0 || s.first >= s.logEnd()) return "its log has no blocks";
  if ((s.featureIncompat & ~kKnownIncompat) != 0) return "it uses features this program does not read";
  return {};
}

std::vector<Tag> decodeTags(Bytes block, const Superblock& s) {
  std::vector<Tag> tags;
  const std::size_t tagBytes = s.tagBytes();
  const std::size_t end = block.size() - (s.checksummed() ? kTailBytes : 0);
  const bool wide = s.has(kIncompat64Bit);
  const bool v3 = s.has(kIncompatCsumV3);
  std::size_t at = kHeaderBytes;
  while (at + tagBytes <= end) {
    Tag t;
    const std::uint64_t low = be32(block, at);
    const std::uint64_t high = wide ? be32(block, at + 8) : 0;
    t.block = low | (high << 32);
    if (v3) {
      t.flags = be32(block, at + 4);
      t.checksum = be32(block, at + 12);
    } else {
      t.checksum = be16(block, at + 4);
      t.flags = be16(block, at + 6);
    }
    at += tagBytes;
    if ((t.flags & kTagSameUuid) == 0) at += kUuidBytes;
    // A tag whose UUID would run past the block was cut short by damage.
    if (at > end) break;
    tags.push_back(t);
    if ((t.flags & kTagLastTag) != 0) break;
  }
  return tags;
}

Commit decodeCommit(Bytes block) {
  return {be32(block, 8), static_cast<std::int64_t>(be64(block, commit::seconds)), be32(block, commit::nanoseconds)};
}

std::vector<std::uint64_t> decodeRevoke(Bytes block, const Superblock& s) {
  std::vector<std::uint64_t> blocks;
  const std::size_t limit = block.size() - (s.checksummed() ? kTailBytes : 0);
  const std::size_t used = std::min<std::size_t>(be32(block, kHeaderBytes), limit);
  const std::size_t record = s.has(kIncompat64Bit) ? 8 : 4;
  for (std::size_t at = kRevokeHeaderBytes; at + record <= used; at += record)
    blocks.push_back(record == 8 ? be64(block, at) : be32(block, at));
  return blocks;
}

std::uint32_t checksumSeed(const Superblock& s) { return crc32cUpdate(~0u, Bytes(s.uuid, kUuidBytes)); }

bool dataMatches(Bytes data, const Tag& tag, std::uint32_t sequence, const Superblock& s, std::uint32_t seed) {
  if (!s.checksummed()) return true;
  const std::uint8_t sequenceBytes[4] = {static_cast<std::uint8_t>(sequence >> 24),
                                         static_cast<std::uint8_t>(sequence >> 16),
                                         static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence)};
  const std::uint32_t crc = crc32cUpdate(crc32cUpdate(seed, Bytes(sequenceBytes, 4)), data);
  return s.has(kIncompatCsumV3) ? tag.checksum == crc : tag.checksum == (crc & 0xFFFF);
}

}  // namespace quorvel::extfmt::journal
