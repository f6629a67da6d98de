#include "fs/ext/JournalRecovery.h"

#include <algorithm>

#include "io/Crc32c.h"

namespace quorvel::extfmt {

namespace {

constexpr std::size_t kExtentTailBytes = 4;
constexpr std::size_t kFolderTailBytes = 12;
constexpr std::uint8_t kFolderTailType = 0xDE;

// An inode state worth giving back: a file that lived and whose map points
// outside the inode (inline data has nothing there to find).
bool livedWithAMap(const Inode& n) {
  if (!isKnownType(n.mode) || !n.live() || n.hasInlineData()) return false;
  const Bytes area(n.blockArea.data(), n.blockArea.size());
  if (n.usesExtents()) {
    const ExtentHeader h = decodeExtentHeader(area);
    return h.magic == kExtentMagic && h.entries > 0 && headerFits(h, area.size());
  }
  for (const std::uint8_t b : n.blockArea)
    if (b != 0) return true;
  return false;
}

std::array<std::uint8_t, 4> le32Bytes(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}

}  // namespace

JournalRecovery::JournalRecovery(const BlockDevice& device, const Superblock& super, journal::JournalIndex index,
                                 journal::FastCommitLog fastCommits)
    : device_(device), super_(super), index_(std::move(index)), fastCommits_(std::move(fastCommits)),
      hugeFiles_((super.featureRoCompat & kRoCompatHugeFile) != 0) {
  const auto inodes = fastCommits_.inodes();
  for (std::size_t i = 0; i < inodes.size(); ++i) inodeRecords_.push_back(i);
  std::sort(inodeRecords_.begin(), inodeRecords_.end(), [&](std::size_t a, std::size_t b) {
    if (inodes[a].number != inodes[b].number) return inodes[a].number < inodes[b].number;
    return journal::FastCommitLog::later(inodes[a].place, inodes[b].place);
  });
  const auto names = fastCommits_.names();
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i].tag == journal::FastCommitTag::Create || names[i].tag == journal::FastCommitTag::Link)
      folderNames_.push_back(i);
  std::sort(folderNames_.begin(), folderNames_.end(), [&](std::size_t a, std::size_t b) {
    if (names[a].parent != names[b].parent) return names[a].parent < names[b].parent;
    return journal::FastCommitLog::later(names[b].place, names[a].place);
  });
}

std::optional<LiveInodeCopy> JournalRecovery::liveInode(std::uint32_t number, std::uint64_t tableBlock,
                                                        std::size_t offset, Bytes now) const {
  std::optional<LiveInodeCopy> copy = liveBlockCopy(tableBlock, offset);
  std::optional<LiveInodeCopy> logged = liveFastCommit(number, now);
  // A fast commit of the transaction a block copy belongs to came before
  // that transaction's full commit: the copy is the later state.
  if (logged && (!copy || journal::laterSequence(logged->sequence, copy->sequence))) return logged;
  return copy;
}

std::optional<LiveInodeCopy> JournalRecovery::liveBlockCopy(std::uint64_t tableBlock, std::size_t offset) const {
  const std::size_t inodeSize = super_.inodeSize;
  std::vector<std::uint8_t> block(device_.blockSize);
  if (offset + inodeSize > block.size()) return std::nullopt;
  for (const journal::JournalCopy& copy : index_.copiesOf(tableBlock)) {
    if (!index_.read(copy, block)) continue;
    const Bytes slot = Bytes(block).subspan(offset, inodeSize);
    const Inode n = decodeInode(slot, hugeFiles_);
    if (!livedWithAMap(n)) continue;
    return LiveInodeCopy{{slot.begin(), slot.end()}, copy.sequence, false};
  }
  return std::nullopt;
}

std::optional<LiveInodeCopy> JournalRecovery::liveFastCommit(std::uint32_t number, Bytes now) const {
  const auto inodes = fastCommits_.inodes();
  auto it = std::lower_bound(inodeRecords_.begin(), inodeRecords_.end(), number,
                             [&](std::size_t i, std::uint32_t n) { return inodes[i].number < n; });
  for (; it != inodeRecords_.end() && inodes[*it].number == number; ++it) {
    const journal::FastCommitInode& record = inodes[*it];
    std::vector<std::uint8_t> slot(now.begin(), now.end());
    std::copy_n(record.raw.begin(), std::min(record.raw.size(), slot.size()), slot.begin());
    const Inode n = decodeInode(slot, hugeFiles_);
    if (!livedWithAMap(n)) continue;
    return LiveInodeCopy{std::move(slot), record.place.tid, true};
  }
  return std::nullopt;
}

void JournalRecovery::forEachFastCommitName(std::uint32_t parent,
                                            const std::function<void(const journal::FastCommitName&)>& visit) const {
  const auto names = fastCommits_.names();
  auto it = std::lower_bound(folderNames_.begin(), folderNames_.end(), parent,
                             [&](std::size_t i, std::uint32_t p) { return names[i].parent < p; });
  for (; it != folderNames_.end() && names[*it].parent == parent; ++it) visit(names[*it]);
}

bool JournalRecovery::hasFastCommitNames(std::uint32_t parent) const {
  bool any = false;
  forEachFastCommitName(parent, [&](const journal::FastCommitName&) { any = true; });
  return any;
}

std::uint32_t JournalRecovery::inodeSeed(std::uint32_t number, std::uint32_t generation) const {
  const auto n = le32Bytes(number);
  const auto g = le32Bytes(generation);
  return crc32cUpdate(crc32cUpdate(super_.checksumSeed(), Bytes(n.data(), 4)), Bytes(g.data(), 4));
}

bool JournalRecovery::extentNodeBelongs(Bytes node, std::uint32_t seed) const {
  const ExtentHeader h = decodeExtentHeader(node);
  if (h.magic != kExtentMagic || !headerFits(h, node.size()) || h.depth > kMaxExtentDepth) return false;
  if (!super_.metadataChecksums()) return true;
  const std::size_t tail = kExtentHeaderBytes + std::size_t{h.maxEntries} * kExtentEntryBytes;
  if (tail + kExtentTailBytes > node.size()) return false;
  return crc32cUpdate(seed, node.first(tail)) == le32(node, tail);
}

MapNodeReader JournalRecovery::mapNodesAt(const Inode& inode, std::uint32_t number, std::uint32_t sequence) const {
  const bool extents = inode.usesExtents();
  const std::uint32_t seed = inodeSeed(number, inode.generation);
  return [this, extents, seed, sequence](std::uint64_t block, std::span<std::uint8_t> out) {
    for (const journal::JournalCopy& copy : index_.copiesOf(block)) {
      if (index_.age(copy.sequence) > index_.age(sequence) || !index_.read(copy, out)) continue;
      // An indirect block has nothing to prove it is this file's: the
      // newest copy from the file's lifetime is taken.
      if (!extents || extentNodeBelongs(out, seed)) return true;
    }
    return device_.readBlock(block, out);
  };
}

void JournalRecovery::forEachFolderCopy(std::uint64_t block, std::uint32_t number, std::uint32_t generation,
                                        const std::function<void(Bytes)>& visit) const {
  std::vector<std::uint8_t> data(device_.blockSize);
  const std::uint32_t seed = inodeSeed(number, generation);
  for (const journal::JournalCopy& copy : index_.copiesOf(block)) {
    if (!index_.read(copy, data)) continue;
    if (super_.metadataChecksums()) {
      // A leaf block ends in a checksum of the folder it belongs to; other
      // blocks (hash-index nodes) hold no names.
      const std::size_t tail = data.size() - kFolderTailBytes;
      const Bytes bytes(data);
      if (le32(bytes, tail) != 0 || le16(bytes, tail + 4) != kFolderTailBytes || u8(bytes, tail + 7) != kFolderTailType)
        continue;
      if (crc32cUpdate(seed, bytes.first(tail)) != le32(bytes, tail + 8)) continue;
    }
    visit(data);
  }
}

}  // namespace quorvel::extfmt
