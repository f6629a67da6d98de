#include "fs/ext/JournalIndex.h"

#include <algorithm>
#include <deque>

#include "io/JobContext.h"

namespace quorvel::extfmt::journal {

namespace {

struct PendingTag {
  Tag tag;
  std::uint32_t sequence = 0;
};

}  // namespace

JournalIndex::JournalIndex(JournalBlockReader read, std::uint32_t journalBlocks, std::uint32_t fileSystemBlockSize,
                           JobContext* job, bool volumeFastCommit)
    : read_(std::move(read)) {
  std::vector<std::uint8_t> block(fileSystemBlockSize);
  if (fileSystemBlockSize < 1024 || !read_(0, block)) {
    fault_ = "its superblock cannot be read";
    return;
  }
  const std::optional<Superblock> s = decodeSuperblock(block);
  if (!s) {
    fault_ = "it has no journal superblock";
    return;
  }
  super_ = *s;
  super_.volumeFastCommit = volumeFastCommit;
  fault_ = superblockFault(super_, journalBlocks, fileSystemBlockSize);
  if (!fault_.empty()) return;
  seed_ = checksumSeed(super_);
  scan(job);
  finish();
}

void JournalIndex::claim(std::uint32_t position, const Tag& tag, std::uint32_t sequence, Bytes data) {
  std::uint8_t bits = tag.escaped() ? JournalCopy::kEscaped : 0;
  if (super_.checksummed()) {
    // A block a later transaction overwrote no longer matches: it is not a
    // copy of this tag's block any more.
    if (!dataMatches(data, tag, sequence, super_, seed_)) return;
    bits |= JournalCopy::kChecked;
  }
  copies_.push_back({tag.block, position, sequence, bits});
}

void JournalIndex::scan(JobContext* job) {
  // The ring ends where the fast-commit area starts; that area holds no
  // descriptors' data, so nothing pending runs on into it.
  //
  // Data blocks follow their descriptor in ring order. A block that opens
  // with the journal's magic is never data (the journal escapes such
  // blocks), so a header met while tags are pending means a later
  // transaction overwrote the rest of that descriptor's blocks.
  const std::uint32_t first = super_.first;
  const std::uint32_t end = super_.logEnd();
  std::vector<std::uint8_t> block(super_.blockSize);
  std::deque<PendingTag> pending;
  if (job) job->setProgressRange(first, end);

  const auto visit = [&](std::uint32_t position) {
    if (!read_(position, block)) {
      pending.clear();
      return;
    }
    const BlockHeader h = decodeHeader(block);
    if (!h.valid()) {
      if (!pending.empty()) {
        claim(position, pending.front().tag, pending.front().sequence, block);
        pending.pop_front();
      }
      return;
    }
    pending.clear();
    if (h.is(BlockType::Descriptor)) {
      for (const Tag& t : decodeTags(block, super_)) pending.push_back({t, h.sequence});
    } else if (h.is(BlockType::Commit)) {
      commits_.push_back(decodeCommit(block));
    } else if (h.is(BlockType::Revoke)) {
      for (const std::uint64_t b : decodeRevoke(block, super_)) {
        if (revocations_.size() >= kRevocationLimit) {
          revocationsCut_ = true;
          break;
        }
        revocations_.push_back({b, h.sequence});
      }
    }
  };

  for (std::uint32_t position = first; position < end; ++position) {
    if (job && (position & 0xFFF) == 0) {
      if (!job->checkpoint()) return;
      job->setProgress(position);
    }
    visit(position);
  }
  // The last descriptor's blocks may run on past the ring's end, up to the
  // first header there (the start of a later log).
  for (std::uint32_t position = first; position < end && !pending.empty(); ++position) {
    if (!read_(position, block) || decodeHeader(block).valid()) break;
    claim(position, pending.front().tag, pending.front().sequence, block);
    pending.pop_front();
  }
}

void JournalIndex::finish() {
  // The newest sequence names the order's end; the oldest is half the
  // number space before it.
  std::uint32_t newest = super_.sequence;
  bool seen = false;
  const auto consider = [&](std::uint32_t s) {
    if (!seen || laterSequence(s, newest)) newest = s;
    seen = true;
  };
  for (const JournalCopy& c : copies_) consider(c.sequence);
  for (const Commit& c : commits_) consider(c.sequence);
  for (const Revocation& r : revocations_) consider(r.sequence);
  oldestKey_ = newest - 0x7FFFFFFFu;

  std::sort(commits_.begin(), commits_.end(),
            [&](const Commit& a, const Commit& b) { return age(a.sequence) < age(b.sequence); });
  commits_.erase(std::unique(commits_.begin(), commits_.end(),
                             [](const Commit& a, const Commit& b) { return a.sequence == b.sequence; }),
                 commits_.end());
  for (JournalCopy& c : copies_)
    if (commitOf(c.sequence)) c.bits |= JournalCopy::kCommitted;
  std::sort(copies_.begin(), copies_.end(), [&](const JournalCopy& a, const JournalCopy& b) {
    if (a.fileSystemBlock != b.fileSystemBlock) return a.fileSystemBlock < b.fileSystemBlock;
    return age(a.sequence) > age(b.sequence);
  });
  std::sort(revocations_.begin(), revocations_.end(), [&](const Revocation& a, const Revocation& b) {
    if (a.fileSystemBlock != b.fileSystemBlock) return a.fileSystemBlock < b.fileSystemBlock;
    return age(a.sequence) > age(b.sequence);
  });
}

std::span<const JournalCopy> JournalIndex::copiesOf(std::uint64_t fileSystemBlock) const {
  const auto lo = std::lower_bound(copies_.begin(), copies_.end(), fileSystemBlock,
                                   [](const JournalCopy& c, std::uint64_t b) { return c.fileSystemBlock < b; });
  auto hi = lo;
  while (hi != copies_.end() && hi->fileSystemBlock == fileSystemBlock) ++hi;
  return {lo, hi};
}

std::optional<Commit> JournalIndex::commitOf(std::uint32_t sequence) const {
  const auto it = std::lower_bound(commits_.begin(), commits_.end(), sequence,
                                   [&](const Commit& c, std::uint32_t s) { return age(c.sequence) < age(s); });
  if (it == commits_.end() || it->sequence != sequence) return std::nullopt;
  return *it;
}

bool JournalIndex::read(const JournalCopy& copy, std::span<std::uint8_t> out) const {
  if (!read_ || out.size() != super_.blockSize || !read_(copy.journalBlock, out)) return false;
  if (copy.has(JournalCopy::kEscaped)) {
    out[0] = static_cast<std::uint8_t>(kMagic >> 24);
    out[1] = static_cast<std::uint8_t>(kMagic >> 16);
    out[2] = static_cast<std::uint8_t>(kMagic >> 8);
    out[3] = static_cast<std::uint8_t>(kMagic);
  }
  return true;
}

}  // namespace quorvel::extfmt::journal
