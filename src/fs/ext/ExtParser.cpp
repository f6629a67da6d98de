#include "fs/ext/ExtParser.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>

#include "fs/TextFormats.h"
#include "fs/ext/ExtDirectory.h"
#include "fs/ext/ExtParser.h"
#include "io/Arithmetic.h"
#include "io/SectorScan.h"

namespace quorvel {

using namespace extfmt;

namespace {

constexpr const char* kOutOfMemory = "The volume could not be read: there was not enough memory for its catalogue.";
constexpr const char* kDescriptorsOutside = "The volume's group descriptor table lies outside the volume.";
// Inode tables are read in pieces this large.
constexpr std::uint64_t kTablePieceBytes = 1u << 20;
constexpr std::uint64_t kContentPieceBytes = 1u << 20;

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) { return a / b + (a % b != 0); }

bool blockAreaMaps(const Inode& n) {
  if (n.hasInlineData()) return true;
  if (n.usesExtents()) return decodeExtentHeader(Bytes(n.blockArea.data(), n.blockArea.size())).entries > 0;
  return std::any_of(n.blockArea.begin(), n.blockArea.end(), [](std::uint8_t b) { return b != 0; });
}

bool bitSet(Bytes bitmap, std::uint64_t bit) { return bit / 8 < bitmap.size() && (bitmap[bit / 8] >> (bit % 8)) & 1; }

}  // namespace

// ---------------------------------------------------------------- scanning

void ExtParser::attachSource(const FileReadSeek& source, const VolumeExtent& volume) {
  device_ = BlockDevice{VolumeView(source, volume), 0, 0};
}

bool ExtParser::findSuperBlock(JobContext& job) {
  std::array<std::uint8_t, kSuperblockBytes> bytes{};
  const VolumeView& view = device_.view;
  const auto usable = [](const Superblock& b, std::uint64_t offset) {
    if (!superblockFault(b).empty()) return false;
    // The primary sits 1024 bytes in; copies open a block of their own.
    return offset == kSuperblockOffset || offset % b.blockSize() == 0;
  };
  std::optional<std::uint64_t> found;
  view.read(kSuperblockOffset, bytes);
  const std::string primaryFault = superblockFault(decodeSuperblock(bytes));
  if (usable(decodeSuperblock(bytes), kSuperblockOffset)) {
    found = kSuperblockOffset;
  } else {
    job.setStatus("searching for a superblock copy...");
    SectorScan scan(view, job, {.from = kSuperblockOffset + 512});
    job.setProgressRange(0, static_cast<std::int64_t>(scan.chunkCount()));
    scan.afterChunk = [&](std::uint64_t next) {
      job.setProgress(static_cast<std::int64_t>(scan.chunksBefore(next)));
      return true;
    };
    scan.run([&](std::uint64_t offset, Bytes window) -> std::uint64_t {
      if (le16(window, 56) != kMagic) return offset + 512;
      view.read(offset, bytes);
      if (!usable(decodeSuperblock(bytes), offset)) return offset + 512;
      found = offset;
      return kEndScan;
    });
  }
  if (!found) {
    job.showMessage("No usable ext superblock was found on this volume (the one 1024 bytes in: " + primaryFault +
                    "; no copy further on).");
    return false;
  }
  superblockOffset_ = *found;
  super_ = decodeSuperblock(bytes);
  device_.blockSize = super_.blockSize();
  device_.blockCount = super_.blocksCount;
  device_.view = view.limitedTo(saturatingProduct(super_.blocksCount, device_.blockSize));
  job.showMessage(super_.generationName() + " file System");
  return true;
}

bool ExtParser::readGroupDescriptors(JobContext& job) {
  const std::uint64_t bs = blockSize();
  // Groups that start beyond what the source holds have nothing to read.
  const std::uint64_t viewBlocks = device_.view.size() / bs + 1;
  const std::uint64_t count = std::min(super_.groupCount(), ceilDiv(viewBlocks, super_.blocksPerGroup));
  const std::uint32_t size = super_.descriptorSize();
  const std::uint64_t perBlock = bs / size;
  const std::uint64_t superblockBlock = superblockOffset_ / bs;
  if (count == 0) {
    job.showMessage(kDescriptorsOutside);
    return false;
  }
  std::vector<std::uint8_t> block(static_cast<std::size_t>(bs));
  std::uint64_t loaded = 0;
  groups_.clear();
  groups_.reserve(static_cast<std::size_t>(count));
  for (std::uint64_t g = 0; g < count; ++g) {
    const std::uint64_t at = super_.descriptorBlock(g, superblockBlock);
    if (g == 0 || at != loaded) {
      if (at >= device_.blockCount || !device_.view.contains(at * bs, bs)) {
        job.showMessage(kDescriptorsOutside);
        return false;
      }
      device_.view.read(at * bs, block);
      loaded = at;
    }
    groups_.push_back(decodeGroupDescriptor(Bytes(block).subspan(static_cast<std::size_t>((g % perBlock) * size), size), size));
  }
  return true;
}

void ExtParser::openJournal(JobContext& job) {
  journal_.reset();
  if (!super_.hasJournal()) return;
  if (super_.journalInode == 0) {
    if (super_.journalDevice != 0) job.showMessage("The volume's journal is on another device; it is not read.");
    return;
  }
  std::vector<std::uint8_t> raw;
  if (!readInode(super_.journalInode, raw)) return;
  const std::uint64_t bs = blockSize();
  const Inode n = decodeInode(raw, (super_.featureRoCompat & kRoCompatHugeFile) != 0);
  const std::uint64_t blocks = std::min({ceilDiv(n.size, bs), device_.blockCount, std::uint64_t{0xFFFFFFFF}});
  auto runs = std::make_shared<const std::vector<MappedRun>>(mapInode(n, device_, blocks).runs);
  if (runs->empty()) return;
  const BlockDevice* device = &device_;
  const auto read = [runs, device](std::uint32_t index, std::span<std::uint8_t> out) {
    const auto after = std::upper_bound(runs->begin(), runs->end(), index,
                                        [](std::uint32_t i, const MappedRun& r) { return i < r.logical; });
    if (after == runs->begin()) return false;
    const MappedRun& run = *std::prev(after);
    if (index >= run.logical + run.count || run.zeros) return false;
    return device->readBlock(run.physical + (index - run.logical), out);
  };
  job.setStatus("reading the journal...");
  journal::JournalIndex index(read, static_cast<std::uint32_t>(blocks), static_cast<std::uint32_t>(bs), &job,
                              (super_.featureCompat & kCompatFastCommit) != 0);
  if (!index.usable()) {
    job.showMessage("The volume's journal cannot be read (" + index.fault() + "): deleted files are found without it.");
    return;
  }
  journal::FastCommitLog fastCommits = journal::FastCommitLog::ofJournal(read, index.superblock(), super_.inodeSize);
  journal_.emplace(device_, super_, std::move(index), std::move(fastCommits));
}

void ExtParser::parseGroups(JobContext& job) {
  const std::uint64_t bs = blockSize();
  const std::uint32_t ipg = super_.inodesPerGroup;
  const std::uint32_t inodeSize = super_.inodeSize;
  const bool checksummed = super_.groupsChecksummed();
  const bool hugeFiles = (super_.featureRoCompat & kRoCompatHugeFile) != 0;
  const auto groupCount = static_cast<std::int64_t>(groups_.size());
  job.setProgressRange(0, groupCount);
  std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(bs));
  const std::uint64_t pieceSlots = std::max<std::uint64_t>(1, kTablePieceBytes / inodeSize);
  std::vector<std::uint8_t> piece(static_cast<std::size_t>(pieceSlots * inodeSize));
  std::uint64_t unreadable = 0;
  std::uint64_t inUse = 0;
  for (const GroupDescriptor& d : groups_) inUse += ipg - std::min(d.freeInodes, ipg);
  names_.expect(static_cast<std::size_t>(std::min<std::uint64_t>(inUse, super_.inodesCount)));
  for (std::int64_t g = 0; g < groupCount; ++g) {
    if (!job.checkpoint()) break;
    job.setStatus("parsing group " + std::to_string(g + 1) + "  of " + std::to_string(groupCount) + " ");
    job.setProgress(g + 1);
    const GroupDescriptor& d = groups_[static_cast<std::size_t>(g)];
    if (checksummed && (d.flags & kGroupInodesUninit)) continue;
    std::uint64_t used = ipg;
    if (checksummed) used -= std::min<std::uint64_t>(d.unusedInodes, ipg);
    const std::uint64_t firstNumber = static_cast<std::uint64_t>(g) * ipg + 1;
    if (firstNumber > super_.inodesCount) break;
    used = std::min<std::uint64_t>(used, super_.inodesCount - firstNumber + 1);
    if (used == 0) continue;
    if (!device_.holds(d.inodeTable, ceilDiv(used * inodeSize, bs)) ||
        !device_.view.contains(d.inodeTable * bs, used * inodeSize)) {
      ++unreadable;
      continue;
    }
    const bool haveBitmap = device_.readBlock(d.inodeBitmap, bitmap);
    for (std::uint64_t s0 = 0; s0 < used; s0 += pieceSlots) {
      const std::uint64_t slots = std::min(pieceSlots, used - s0);
      const std::span<std::uint8_t> bytes(piece.data(), static_cast<std::size_t>(slots * inodeSize));
      device_.view.read(d.inodeTable * bs + s0 * inodeSize, bytes);
      for (std::uint64_t s = 0; s < slots; ++s) {
        const Bytes raw = Bytes(bytes).subspan(static_cast<std::size_t>(s * inodeSize), inodeSize);
        const std::uint16_t mode = le16(raw, 0);
        if (!isKnownType(mode)) continue;
        const Inode now = decodeInode(raw, hugeFiles);
        InodeInfo info;
        info.number = static_cast<std::uint32_t>(firstNumber + s0 + s);
        const bool allocated = haveBitmap ? bitSet(bitmap, s0 + s) : now.live();
        Bytes slot = raw;
        if (!allocated && !blockAreaMaps(now) && journal_) {
          // Deleting a file wipes its map: the journal may hold the inode
          // from while the file lived.
          const std::uint64_t byte = (s0 + s) * inodeSize;
          if (std::optional<LiveInodeCopy> copy = journal_->liveInode(info.number, d.inodeTable + byte / bs, byte % bs, raw)) {
            recovered_.push_back({info.number, copy->sequence, std::move(copy->raw)});
            slot = recovered_.back().raw;
            info.bits |= InodeInfo::kFromJournal;
          }
        }
        const Inode n = slot.data() == raw.data() ? now : decodeInode(slot, hugeFiles);
        info.mode = n.mode;
        info.size = n.size;
        if (allocated) info.bits |= InodeInfo::kAllocated;
        if (blockAreaMaps(n)) info.bits |= InodeInfo::kHasMap;
        if (n.changed) info.changed = n.changed->seconds, info.changedNs = n.changed->nanoseconds;
        if (n.accessed) info.accessed = n.accessed->seconds, info.accessedNs = n.accessed->nanoseconds;
        if (n.modified) info.modified = n.modified->seconds, info.modifiedNs = n.modified->nanoseconds;
        names_.addInode(info);
        const bool readable = info.number >= super_.firstInode || info.number == kRootInode;
        if (n.isDirectory() && readable && (allocated || info.has(InodeInfo::kHasMap))) {
          directories_.push_back(info.number);
          directorySlots_.insert(directorySlots_.end(), slot.begin(), slot.end());
        }
      }
    }
  }
  if (unreadable > 0)
    job.showMessage(std::to_string(unreadable) + " block groups were left out: their inode tables lie outside the volume.");
}

void ExtParser::readDirectory(std::uint32_t number, Bytes raw, bool removed, std::vector<std::uint8_t>& block) {
  const Inode n = decodeInode(raw, false);
  DirectoryBlockWalk how;
  how.fileTypes = (super_.featureIncompat & kIncompatFileType) != 0;
  how.inodeCount = super_.inodesCount;
  const auto add = [&](const DirectoryName& d) {
    names_.addName(number, d.inode, d.name, typeFromDirEntry(d.fileType), d.removed || removed);
  };
  // What the folder holds now, live or in slack, is not listed again from
  // an older version or a fast commit.
  const bool fastCommitNames = journal_ && journal_->hasFastCommitNames(number);
  std::set<std::pair<std::uint32_t, std::string>> known;
  if (n.hasInlineData()) {
    const auto addNow = [&](const DirectoryName& d) {
      add(d);
      if (fastCommitNames) known.emplace(d.inode, std::string(d.name));
    };
    // Four bytes of parent inode, then entries; more in "system.data".
    walkDirectoryBlock(Bytes(n.blockArea.data() + 4, n.blockArea.size() - 4), how, addNow);
    if (const std::optional<ByteSpan> tail = inlineDataTail(raw)) walkDirectoryBlock(raw.subspan(tail->offset, tail->length), how, addNow);
    if (fastCommitNames) readFastCommitNames(number, known);
    return;
  }
  const FileMap map = mapInode(n, device_, std::min(ceilDiv(n.size, blockSize()), device_.blockCount), mapNodes(n, number));
  const bool hashed = (n.flags & kFlagHashedIndex) != 0;
  // Blocks the journal holds older versions of: the names the kernel wiped
  // when it deleted their files may stand there.
  std::vector<FolderBlock> logged;
  if (journal_)
    for (const MappedRun& run : map.runs)
      for (std::uint64_t k = 0; !run.zeros && k < run.count; ++k)
        if (!journal_->index().copiesOf(run.physical + k).empty())
          logged.push_back({run.physical + k, !(hashed && run.logical + k == 0)});
  // A removed name counts once: a hash index's split leaves stale copies of
  // the entries it moved in the old block's slack.
  const bool older = !logged.empty() || fastCommitNames;
  const auto addNow = [&](const DirectoryName& d) {
    const bool gone = d.removed || removed;
    if ((gone || older) && !known.emplace(d.inode, std::string(d.name)).second && gone) return;
    add(d);
  };
  // A damaged map may name one block many times; its names count once.
  std::unordered_set<std::uint64_t> seen;
  for (const MappedRun& run : map.runs) {
    if (run.zeros) continue;
    for (std::uint64_t k = 0; k < run.count; ++k) {
      if (!seen.insert(run.physical + k).second || !device_.readBlock(run.physical + k, block)) continue;
      how.searchSlack = !(hashed && run.logical + k == 0);
      walkDirectoryBlock(block, how, addNow);
    }
  }
  if (!logged.empty()) readFolderCopies(number, n.generation, logged, how, known);
  if (fastCommitNames) readFastCommitNames(number, known);
}

void ExtParser::readFastCommitNames(std::uint32_t number, std::set<std::pair<std::uint32_t, std::string>>& known) {
  journal_->forEachFastCommitName(number, [&](const journal::FastCommitName& d) {
    if (d.inode == 0 || d.inode > super_.inodesCount) return;
    // A name of a file still in use is the folder's to give, if it holds it.
    const InodeInfo* info = names_.findInode(d.inode);
    if (info && info->has(InodeInfo::kAllocated)) return;
    if (known.emplace(d.inode, d.name).second)
      names_.addName(number, d.inode, d.name, info ? info->mode & kTypeMask : 0, true);
  });
}

void ExtParser::readFolderCopies(std::uint32_t number, std::uint32_t generation, const std::vector<FolderBlock>& logged,
                                 DirectoryBlockWalk how, std::set<std::pair<std::uint32_t, std::string>>& known) {
  for (const FolderBlock& b : logged) {
    how.searchSlack = b.searchSlack;
    journal_->forEachFolderCopy(b.physical, number, generation,
                                [&](Bytes copy) { addOlderNames(number, copy, how, known); });
  }
}

void ExtParser::addOlderNames(std::uint32_t folder, Bytes block, const DirectoryBlockWalk& how,
                              std::set<std::pair<std::uint32_t, std::string>>& known) {
  walkDirectoryBlock(block, how, [&](const DirectoryName& d) {
    if (d.inode != 0 && known.emplace(d.inode, std::string(d.name)).second)
      names_.addName(folder, d.inode, d.name, typeFromDirEntry(d.fileType), true);
  });
}

void ExtParser::parseDirectories(JobContext& job) {
  const auto count = static_cast<std::int64_t>(directories_.size());
  job.setProgressRange(0, count);
  std::vector<std::uint8_t> block(static_cast<std::size_t>(blockSize()));
  const std::size_t inodeSize = super_.inodeSize;
  for (std::int64_t k = 0; k < count; ++k) {
    if (!job.checkpoint()) break;
    if (k % 64 == 0) job.setStatus("parsing inode entry " + std::to_string(k + 1) + "  of " + std::to_string(count) + " ");
    job.setProgress(k + 1);
    const std::uint32_t number = directories_[static_cast<std::size_t>(k)];
    const InodeInfo* info = names_.findInode(number);
    const bool removed = !info || !info->has(InodeInfo::kAllocated);
    readDirectory(number, Bytes(directorySlots_).subspan(static_cast<std::size_t>(k) * inodeSize, inodeSize), removed, block);
  }
  job.setStatus("parsed inode entry " + std::to_string(count) + "  of " + std::to_string(count) + " ");
  job.setProgress(count);
}

void ExtParser::readRevokedFolders(JobContext& job) {
  if (!journal_ || !job.checkpoint()) return;
  const journal::JournalIndex& index = journal_->index();
  DirectoryBlockWalk how;
  how.fileTypes = (super_.featureIncompat & kIncompatFileType) != 0;
  how.inodeCount = super_.inodesCount;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(blockSize()));
  std::map<std::uint32_t, std::set<std::pair<std::uint32_t, std::string>>> known;
  std::optional<std::uint64_t> last;
  for (const journal::Revocation& r : index.revocations()) {
    if (r.fileSystemBlock == last) continue;  // newest first: one visit per block
    last = r.fileSystemBlock;
    for (const journal::JournalCopy& copy : index.copiesOf(r.fileSystemBlock)) {
      if (!index.read(copy, data)) continue;
      const std::optional<std::uint32_t> folder = folderOfFirstBlock(data, how.fileTypes);
      // A folder read through its map has had this block's versions already.
      if (!folder || std::binary_search(directories_.begin(), directories_.end(), *folder)) continue;
      const InodeInfo* info = names_.findInode(*folder);
      if (!info || info->has(InodeInfo::kAllocated) || (info->mode & kTypeMask) != kTypeDirectory) continue;
      addOlderNames(*folder, data, how, known[*folder]);
    }
  }
}

void ExtParser::buildCatalogue(JobContext& job) {
  directories_.clear();
  directories_.shrink_to_fit();
  directorySlots_.clear();
  directorySlots_.shrink_to_fit();
  job.setStatus("clearing vector....");
  job.setStatus("Maintaining Parent Child....");
  names_.build(kRootInode, super_.firstInode);
  job.setStatus("filling root entries in  tree....");
}

bool ExtParser::scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  try {
    return runJob(source, request, job);
  } catch (const std::exception&) {
    names_.clear();
    directories_.clear();
    directorySlots_.clear();
    job.showMessage(kOutOfMemory);
    return false;
  }
}

bool ExtParser::runJob(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  names_.clear();
  groups_.clear();
  directories_.clear();
  directorySlots_.clear();
  journal_.reset();
  recovered_.clear();
  claims_.clear();
  claimsMade_ = false;
  longestClaim_ = 0;
  attachSource(source, request.volume);
  if (!findSuperBlock(job) || !readGroupDescriptors(job)) return false;
  openJournal(job);
  parseGroups(job);
  parseDirectories(job);
  readRevokedFolders(job);
  buildCatalogue(job);
  return true;
}

// ---------------------------------------------------------------- catalogue

std::string ExtParser::permissionText(std::uint16_t mode) {
  static constexpr std::array<const char*, 9> kLetters = {"-OE", "-OW", "-OR", "-GE", "-GW", "-GR", "-UE", "-UW", "-UR"};
  std::string text;
  for (std::size_t bit = 0; bit < kLetters.size(); ++bit)
    if (mode & (1u << bit)) text += kLetters[bit];
  return text;
}

RowTexts ExtParser::formatRow(EntryId id) const {
  if (!names_.valid(id)) return {};
  RowTexts row = FileSystemParser::formatRow(id);
  const InodeInfo* i = names_.inodeOf(id);
  row.attributes = permissionText(i ? i->mode : names_.at(id).mode);
  return row;
}

std::uint64_t ExtParser::inodePosition(std::uint32_t number) const {
  if (number == 0 || super_.inodesPerGroup == 0) return 0;
  const std::uint64_t group = (number - 1) / super_.inodesPerGroup;
  const std::uint64_t slot = (number - 1) % super_.inodesPerGroup;
  if (group >= groups_.size()) return 0;
  return groups_[static_cast<std::size_t>(group)].inodeTable * blockSize() + slot * super_.inodeSize;
}

const RecoveredInode* ExtParser::recovered(std::uint32_t number) const {
  const auto it = std::lower_bound(recovered_.begin(), recovered_.end(), number,
                                   [](const RecoveredInode& r, std::uint32_t n) { return r.number < n; });
  return it != recovered_.end() && it->number == number ? &*it : nullptr;
}

MapNodeReader ExtParser::mapNodes(const Inode& n, std::uint32_t number) const {
  const RecoveredInode* r = recovered(number);
  if (!r || !journal_) return {};
  return journal_->mapNodesAt(n, number, r->sequence);
}

bool ExtParser::readInode(std::uint32_t number, std::vector<std::uint8_t>& raw) const {
  if (const RecoveredInode* r = recovered(number)) {
    raw = r->raw;
    return true;
  }
  const std::uint64_t at = inodePosition(number);
  raw.assign(super_.inodeSize, 0);
  return at != 0 && device_.view.read(at, raw);
}

bool ExtParser::blockInUse(std::uint64_t block) const {
  if (block < super_.firstDataBlock || super_.blocksPerGroup == 0) return true;
  const std::uint64_t group = (block - super_.firstDataBlock) / super_.blocksPerGroup;
  if (group >= groups_.size()) return true;
  const GroupDescriptor& d = groups_[static_cast<std::size_t>(group)];
  if (super_.groupsChecksummed() && (d.flags & kGroupBlocksUninit)) return false;
  std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(blockSize()));
  if (!device_.readBlock(d.blockBitmap, bitmap)) return true;
  return bitSet(bitmap, (block - super_.firstDataBlock) % super_.blocksPerGroup);
}

std::uint64_t ExtParser::untakenLater(std::uint64_t first, std::uint64_t count, std::uint32_t sequence) const {
  if (recovered_.size() < 2) return count;
  const journal::JournalIndex& index = journal_->index();
  {
    const std::lock_guard lock(claimsMutex_);
    if (!claimsMade_) {
      const bool hugeFiles = (super_.featureRoCompat & kRoCompatHugeFile) != 0;
      for (const RecoveredInode& r : recovered_) {
        const Inode n = decodeInode(r.raw, hugeFiles);
        const std::uint64_t limit = std::min(ceilDiv(n.size, blockSize()), device_.blockCount);
        for (const MappedRun& run : mapInode(n, device_, limit, mapNodes(n, r.number)).runs)
          if (!run.zeros) {
            claims_.push_back({run.physical, run.count, index.age(r.sequence)});
            longestClaim_ = std::max(longestClaim_, run.count);
          }
      }
      std::sort(claims_.begin(), claims_.end(), [](const BlockClaim& a, const BlockClaim& b) { return a.first < b.first; });
      claimsMade_ = true;
    }
  }
  const std::uint32_t age = index.age(sequence);
  std::uint64_t untaken = count;
  // Only claims that start within the longest claim's reach can overlap.
  const std::uint64_t from = first >= longestClaim_ ? first - longestClaim_ + 1 : 0;
  auto it = std::lower_bound(claims_.begin(), claims_.end(), from,
                             [](const BlockClaim& c, std::uint64_t b) { return c.first < b; });
  for (; it != claims_.end() && it->first < first + untaken; ++it)
    if (it->age > age && it->first + it->count > first) untaken = std::max(it->first, first) - first;
  return untaken;
}

bool ExtParser::streamInode(std::uint32_t number, ContentSink& sink) const {
  std::vector<std::uint8_t> raw;
  if (!readInode(number, raw)) return false;
  const Inode n = decodeInode(raw, (super_.featureRoCompat & kRoCompatHugeFile) != 0);
  if (!n.isRegular() && !n.isSymlink()) return true;  // other types have no content
  const std::uint64_t bs = blockSize();
  if (n.isFastSymlink(bs)) return sink.write(Bytes(n.blockArea.data(), static_cast<std::size_t>(n.size)));
  if (n.hasInlineData()) {
    const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(n.size, kBlockAreaBytes));
    if (!sink.write(Bytes(n.blockArea.data(), head))) return false;
    if (n.size <= head) return true;
    const std::optional<ByteSpan> tail = inlineDataTail(raw);
    if (!tail) return false;
    const std::size_t rest = static_cast<std::size_t>(std::min<std::uint64_t>(n.size - head, tail->length));
    return sink.write(Bytes(raw).subspan(tail->offset, rest)) && head + rest == n.size;
  }

  const InodeInfo* info = names_.findInode(number);
  const bool deleted = info && !info->has(InodeInfo::kAllocated);
  // The map is wiped and nothing gave it back: zeros would be invented bytes.
  if (deleted && !blockAreaMaps(n)) return n.size == 0;
  const std::uint64_t limit = std::min(ceilDiv(n.size, bs), device_.blockCount);
  FileMap map = mapInode(n, device_, limit, mapNodes(n, number));
  std::uint64_t outSize = n.size;
  // A size beyond both the map and the volume is a damaged size, not a hole.
  const std::uint64_t mappedBytes = saturatingProduct(map.mappedBlocks(), bs);
  bool complete = !map.damaged;
  if (outSize > mappedBytes && outSize > device_.view.size()) {
    outSize = mappedBytes;
    complete = false;
  }
  if (deleted) {
    // A removed file: its blocks are its own only while nothing took them,
    // not even a file deleted after it.
    const RecoveredInode* mine = recovered(number);
    for (std::size_t r = 0; r < map.runs.size(); ++r) {
      const MappedRun& run = map.runs[r];
      std::uint64_t k = 0;
      const std::uint64_t untaken = run.zeros || !mine ? run.count : untakenLater(run.physical, run.count, mine->sequence);
      while (k < untaken && (run.zeros || !blockInUse(run.physical + k))) k = run.zeros ? run.count : k + 1;
      if (k < run.count) {
        // What remains is what the file still owns; it is not the whole file.
        outSize = std::min(outSize, (run.logical + k) * bs);
        complete = false;
        map.runs.resize(r + 1);
        map.runs[r].count = k;
        break;
      }
    }
  }

  std::vector<std::uint8_t> piece;
  std::uint64_t position = 0;
  for (const MappedRun& run : map.runs) {
    const std::uint64_t start = run.logical * bs;
    if (start >= outSize) break;
    if (start > position && !sink.zeros(start - position)) return false;
    const std::uint64_t length = std::min(run.count * bs, outSize - start);
    if (run.zeros) {
      if (!sink.zeros(length)) return false;
    } else {
      for (std::uint64_t done = 0; done < length;) {
        const std::uint64_t n2 = std::min(kContentPieceBytes, length - done);
        piece.resize(static_cast<std::size_t>(n2));
        complete = device_.view.read(run.physical * bs + done, piece) && complete;
        if (!sink.write(piece)) return false;
        done += n2;
      }
    }
    position = start + length;
  }
  if (position < outSize && !sink.zeros(outSize - position)) return false;
  return complete;
}

bool ExtParser::readContent(EntryId id, ContentSink& sink) const {
  if (!names_.valid(id) || catalogue_.isFolder(id)) return names_.valid(id);
  const InodeInfo* i = names_.inodeOf(id);
  if (!i) return true;  // a name whose inode is gone or taken: nothing to invent
  try {
    return streamInode(i->number, sink);
  } catch (const std::exception&) {
    return false;
  }
}

const char* ExtParser::recoveredFrom(EntryId id) const {
  const InodeInfo* i = names_.inodeOf(id);
  return i && i->has(InodeInfo::kFromJournal) ? "journal" : nullptr;
}

std::unique_ptr<FileSystemParser> makeExtParser() { return std::make_unique<ExtParser>(); }

}  // namespace quorvel
