#pragma once
// The on-disk structures of the ext3/ext4 journal, all big-endian: its
// superblock, the header every journal metadata block opens with, the tags
// of a descriptor block, commit blocks and revoke blocks.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/Endian.h"

namespace quorvel::extfmt::journal {

inline constexpr std::uint32_t kMagic = 0xC03B3998;
inline constexpr std::size_t kHeaderBytes = 12;

enum class BlockType : std::uint32_t {
  Descriptor = 1,
  Commit = 2,
  SuperblockV1 = 3,
  SuperblockV2 = 4,
  Revoke = 5,
};

// Incompatible features the reader acts on.
inline constexpr std::uint32_t kIncompatRevoke = 0x1;
inline constexpr std::uint32_t kIncompat64Bit = 0x2;
inline constexpr std::uint32_t kIncompatAsyncCommit = 0x4;
inline constexpr std::uint32_t kIncompatCsumV2 = 0x8;
inline constexpr std::uint32_t kIncompatCsumV3 = 0x10;
inline constexpr std::uint32_t kIncompatFastCommit = 0x20;
inline constexpr std::uint32_t kKnownIncompat = 0x3F;

// Fast-commit blocks when the superblock leaves their count at 0.
inline constexpr std::uint32_t kDefaultFastCommitBlocks = 256;

struct BlockHeader {
  std::uint32_t magic = 0;
  std::uint32_t type = 0;
  std::uint32_t sequence = 0;
  bool valid() const { return magic == kMagic; }
  bool is(BlockType t) const { return valid() && type == static_cast<std::uint32_t>(t); }
};
BlockHeader decodeHeader(Bytes block);

struct Superblock {
  std::uint32_t type = 0;   // SuperblockV1 or SuperblockV2
  std::uint32_t blockSize = 0;
  std::uint32_t maxLength = 0;   // blocks in the journal, this one included
  std::uint32_t first = 0;       // the first block of the log
  std::uint32_t sequence = 0;    // the first transaction expected in the log
  std::uint32_t start = 0;       // the log's first block; 0 when the log is empty (clean)
  std::uint32_t featureCompat = 0;
  std::uint32_t featureIncompat = 0;
  std::uint32_t featureRoCompat = 0;
  std::uint8_t uuid[16] = {};
  std::uint32_t fastCommitBlocks = 0;  // as stored; see fastCommitArea()
  // The file system has fast commits on. The journal drops its own flag when
  // it is emptied at a clean unmount, but its fast-commit area stays where
  // it was: the log never ran into it.
  bool volumeFastCommit = false;

  bool has(std::uint32_t incompat) const { return type == 4 && (featureIncompat & incompat) != 0; }
  bool checksummed() const { return has(kIncompatCsumV2) || has(kIncompatCsumV3); }
  // Bytes of one descriptor tag, without the UUID that may follow it.
  std::size_t tagBytes() const;
  // The log is [first, logEnd()); the fast-commit area, fastCommitArea()
  // blocks, follows it up to maxLength.
  std::uint32_t logEnd() const;
  std::uint32_t fastCommitArea() const;
  bool hasFastCommitArea() const { return fastCommitArea() != 0; }
};

std::optional<Superblock> decodeSuperblock(Bytes block);
// Why a decoded superblock cannot be used with a journal of `blocks` blocks of
// `fileSystemBlockSize` bytes; empty when it can.
std::string superblockFault(const Superblock& s, std::uint64_t blocks, std::uint64_t fileSystemBlockSize);

// Tag flags.
inline constexpr std::uint32_t kTagEscape = 0x1;
inline constexpr std::uint32_t kTagSameUuid = 0x2;
inline constexpr std::uint32_t kTagDeleted = 0x4;
inline constexpr std::uint32_t kTagLastTag = 0x8;

struct Tag {
  std::uint64_t block = 0;      // the file-system block the data block is a copy of
  std::uint32_t flags = 0;
  std::uint32_t checksum = 0;   // of the data block: 16 bits under CSUM_V2, 32 under CSUM_V3
  bool escaped() const { return (flags & kTagEscape) != 0; }
};

// The tags of one descriptor block, in order; the list ends at LAST_TAG, at
// the checksum tail, or where the next tag would not fit.
std::vector<Tag> decodeTags(Bytes block, const Superblock& s);

struct Commit {
  std::uint32_t sequence = 0;
  std::int64_t seconds = 0;   // commit time
  std::uint32_t nanoseconds = 0;
};
Commit decodeCommit(Bytes block);

// The file-system blocks a revoke block names.
std::vector<std::uint64_t> decodeRevoke(Bytes block, const Superblock& s);

// The seed every journal checksum starts from.
std::uint32_t checksumSeed(const Superblock& s);
// Whether a data block matches its tag's checksum (true when the journal
// keeps none).
bool dataMatches(Bytes data, const Tag& tag, std::uint32_t sequence, const Superblock& s, std::uint32_t seed);

// Sequence numbers wrap: a is later than b when it is less than half the
// number space ahead.
constexpr bool laterSequence(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b) > 0; }

}  // namespace quorvel::extfmt::journal
