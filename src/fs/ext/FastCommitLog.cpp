#include "fs/ext/FastCommitLog.h"

#include <algorithm>
#include <optional>

#include "io/Crc32c.h"

namespace quorvel::extfmt::journal {

namespace {

constexpr std::size_t kRecordHeaderBytes = 4;  // le16 tag, le16 length
constexpr std::size_t kDentryBytes = 8;        // parent, inode; the name follows
constexpr std::size_t kRangeBytes = 16;        // inode, one 12-byte extent
constexpr std::size_t kDeleteRangeBytes = 12;
constexpr std::size_t kHeadBytes = 8;          // features, tid
constexpr std::size_t kTailBytes = 8;          // tid, crc; padding to the block's end may follow
constexpr std::uint32_t kUnwrittenLength = 32768;

bool lengthFits(FastCommitTag tag, std::size_t length, std::size_t inodeSize) {
  switch (tag) {
    case FastCommitTag::AddRange: return length == kRangeBytes;
    case FastCommitTag::DeleteRange: return length == kDeleteRangeBytes;
    case FastCommitTag::Create:
    case FastCommitTag::Link:
    case FastCommitTag::Unlink:
      return length > kDentryBytes && length - kDentryBytes <= FastCommitLog::kMaxNameBytes;
    case FastCommitTag::Inode:
      return length >= 4 + FastCommitLog::kMinInodeBytes && length - 4 <= inodeSize;
    case FastCommitTag::Pad: return true;
    case FastCommitTag::Tail: return length >= kTailBytes;
    case FastCommitTag::Head: return length == kHeadBytes;
  }
  return false;
}

}  // namespace

// The records of one fast commit while its TAIL is still ahead.
struct FastCommitLog::Pending {
  std::uint32_t crc = 0;
  std::optional<std::uint32_t> headTid;
  std::uint32_t order = 0;  // of the next record, over the whole area
  std::vector<FastCommitName> names;
  std::vector<FastCommitInode> inodes;
  std::vector<FastCommitRange> ranges;

  std::size_t size() const { return names.size() + inodes.size() + ranges.size(); }
  bool empty() const { return size() == 0 && !headTid; }
  void restart() {
    crc = 0;
    headTid.reset();
    names.clear();
    inodes.clear();
    ranges.clear();
  }
};

FastCommitLog::FastCommitLog(const JournalBlockReader& read, std::uint32_t from, std::uint32_t to,
                             std::uint32_t blockSize, std::size_t inodeSize)
    : inodeSize_(std::max(inodeSize, kMinInodeBytes)) {
  if (!read || blockSize < 1024 || from >= to) return;
  std::vector<std::uint8_t> block(blockSize);
  Pending run;
  for (std::uint32_t position = from; position < to && !cut_; ++position) {
    if (!read(position, block)) {
      if (!run.empty()) ++dropped_;
      run.restart();
      continue;
    }
    decodeBlock(block, run);
  }
  if (!run.empty()) ++dropped_;
}

FastCommitLog FastCommitLog::ofJournal(const JournalBlockReader& read, const Superblock& s, std::size_t inodeSize) {
  if (!s.hasFastCommitArea()) return {};
  return FastCommitLog(read, s.logEnd(), s.maxLength, s.blockSize, inodeSize);
}

void FastCommitLog::decodeBlock(std::span<const std::uint8_t> block, Pending& run) {
  const Bytes bytes(block.data(), block.size());
  // Records never straddle blocks: the kernel pads a block's end with a PAD
  // record, and a TAIL runs to its block's end.
  for (std::size_t at = 0; at + kRecordHeaderBytes <= bytes.size();) {
    const auto tag = static_cast<FastCommitTag>(le16(bytes, at));
    const std::size_t length = le16(bytes, at + 2);
    const std::size_t value = at + kRecordHeaderBytes;
    if (length > bytes.size() - value || !lengthFits(tag, length, inodeSize_)) {
      // Not a record: what was pending is torn, and the rest of the block
      // cannot be followed. A later fast commit starts on a block of its own.
      // Zeros are space never written, not a run.
      const bool unwritten = le32(bytes, at) == 0;
      if (!run.empty() || !unwritten) ++dropped_;
      run.restart();
      return;
    }
    const Bytes record = bytes.subspan(at, kRecordHeaderBytes + length);
    at = value + length;
    if (names_.size() + inodes_.size() + ranges_.size() + run.size() >= kRecordLimit) {
      cut_ = true;
      return;
    }
    const FastCommitPlace place{0, run.order++};
    if (tag == FastCommitTag::Tail) {
      const std::uint32_t crc = crc32cUpdate(run.crc, record.first(kRecordHeaderBytes + 4));
      const std::uint32_t tid = le32(bytes, value);
      if (crc == le32(bytes, value + 4) && (!run.headTid || *run.headTid == tid))
        keep(run, tid);
      else
        ++dropped_;
      run.restart();
      continue;
    }
    run.crc = crc32cUpdate(run.crc, record);
    switch (tag) {
      case FastCommitTag::Head:
        run.headTid = le32(bytes, value + 4);
        break;
      case FastCommitTag::Create:
      case FastCommitTag::Link:
      case FastCommitTag::Unlink: {
        const Bytes name = bytes.subspan(value + kDentryBytes, length - kDentryBytes);
        run.names.push_back({tag, le32(bytes, value), le32(bytes, value + 4),
                             std::string(reinterpret_cast<const char*>(name.data()), name.size()), place});
        break;
      }
      case FastCommitTag::Inode: {
        const Bytes raw = bytes.subspan(value + 4, length - 4);
        run.inodes.push_back({le32(bytes, value), {raw.begin(), raw.end()}, place});
        break;
      }
      case FastCommitTag::AddRange: {
        // An ext4 extent: first logical block, length (past 32768 for
        // unwritten ones), the physical start's high 16 and low 32 bits.
        const std::uint32_t stored = le16(bytes, value + 8);
        const bool unwritten = stored > kUnwrittenLength;
        const std::uint64_t physical = (std::uint64_t{le16(bytes, value + 10)} << 32) | le32(bytes, value + 12);
        run.ranges.push_back({le32(bytes, value), le32(bytes, value + 4), unwritten ? stored - kUnwrittenLength : stored,
                              physical, unwritten, place});
        break;
      }
      default:  // DEL_RANGE and PAD count towards the CRC only
        break;
    }
  }
}

void FastCommitLog::keep(Pending& run, std::uint32_t tid) {
  ++commits_;
  for (FastCommitName& n : run.names) n.place.tid = tid, names_.push_back(std::move(n));
  for (FastCommitInode& n : run.inodes) n.place.tid = tid, inodes_.push_back(std::move(n));
  for (FastCommitRange& r : run.ranges) r.place.tid = tid, ranges_.push_back(r);
}

bool FastCommitLog::later(const FastCommitPlace& a, const FastCommitPlace& b) {
  if (a.tid != b.tid) return laterSequence(a.tid, b.tid);
  return a.order > b.order;
}

}  // namespace quorvel::extfmt::journal
