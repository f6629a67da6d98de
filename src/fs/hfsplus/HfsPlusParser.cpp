#include "fs/hfsplus/HfsPlusParser.h"

#include <algorithm>
#include <array>
#include <tuple>

#include "fs/TextFormats.h"
#include "io/Arithmetic.h"
#include "io/SectorScan.h"

namespace quorvel {

using namespace hfsfmt;

namespace {

constexpr const char* kWorkDone = "Work Done.";
constexpr const char* kWorkAborted = "Work Aborted....";
constexpr const char* kBlockSizeNotValid = "BlockSize not valid .Aborting..";
constexpr const char* kNotHfs =
    "not a valid HFS+ volume: the volume header has no \"H+\" or \"HX\" signature of version 4 or 5.";
constexpr const char* kNoCatalog =
    "The catalog file of this HFS+ volume cannot be read (its header node is damaged); the deep mode can still "
    "search the volume for its leaf nodes.";
constexpr const char* kNoLeafNodes = "No catalog leaf node was found on this HFS+ volume.";
constexpr const char* kOutOfMemory = "The volume could not be read: there was not enough memory for its catalogue.";

constexpr std::size_t kDeepChunkBytes = 4u << 20;
// What the deep scan looks at first in a would-be node.
constexpr std::size_t kDescriptorSize = 14;
constexpr std::size_t kDescriptorKind = 8;
constexpr std::size_t kDescriptorHeight = 9;
constexpr std::uint8_t kLeafKindByte = 0xFF;  // -1
constexpr std::uint8_t kLeafHeight = 1;
constexpr std::uint16_t kExtentsKeyLength = 10;  // the first record's, behind the descriptor
// Key length, parent ID, a one-unit name, and a folder record, with its offset slot.
constexpr std::uint64_t kSmallestFolderRecord = 2 + 4 + 2 + 2 + 88 + 2;

bool isLeafDescriptor(const NodeDescriptor& d) {
  return d.kind == static_cast<std::int8_t>(NodeKind::Leaf) && d.height == kLeafHeight && d.recordCount > 0;
}

// A node the deep scan takes as a catalog leaf: a leaf descriptor, record
// offsets in order inside the node, the first right behind the descriptor,
// and a catalog record there.
bool isCatalogLeaf(Bytes node) {
  const NodeDescriptor d = decodeNodeDescriptor(node);
  if (!isLeafDescriptor(d)) return false;
  const std::vector<std::uint16_t> offsets = recordOffsets(node, d.recordCount);
  return !offsets.empty() && offsets.front() == kDescriptorSize && plausibleCatalogRecord(node, offsets.front());
}

// The records of an extents-overflow leaf node at the start of `bytes`, at
// the smallest node size at which its offsets and every record hold
// together; nothing when there is none.
std::vector<ExtentsRecord> extentsLeafRecords(Bytes bytes, std::uint32_t& nodeSize) {
  if (be16(bytes, kDescriptorSize) != kExtentsKeyLength) return {};
  for (std::uint32_t size = kMinNodeSize; size <= kMaxNodeSize && size <= bytes.size(); size *= 2) {
    const Bytes node = bytes.first(size);
    const NodeDescriptor d = decodeNodeDescriptor(node);
    const std::vector<std::uint16_t> offsets = recordOffsets(node, d.recordCount);
    if (offsets.empty() || offsets.front() != kDescriptorSize) continue;
    std::vector<ExtentsRecord> records;
    for (const std::uint16_t offset : offsets) {
      const std::optional<ExtentsRecord> r = decodeExtentsRecord(node, offset);
      if (!r || (r->forkType != kDataFork && r->forkType != kResourceFork)) break;
      records.push_back(*r);
    }
    if (records.size() != offsets.size()) continue;
    nodeSize = size;
    return records;
  }
  return {};
}

std::string permissionText(std::uint16_t mode) {
  static constexpr std::array<std::pair<std::uint16_t, const char*>, 9> kBits = {{{0x40, "-Owner:X"},
                                                                                  {0x80, "-Owner:W"},
                                                                                  {0x100, "-Owner:R"},
                                                                                  {0x1, "-OX"},
                                                                                  {0x2, "-OW"},
                                                                                  {0x4, "-OR"},
                                                                                  {0x8, "-GX"},
                                                                                  {0x10, "-GW"},
                                                                                  {0x20, "-GR"}}};
  std::string text;
  for (const auto& [bit, letters] : kBits)
    if (mode & bit) text += letters;
  return text;
}

// The leaf nodes of a B-tree file: along the chain from the first leaf,
// each node once; when the chain breaks before its last leaf, every other node
// of the file that is a leaf too, in node order.
std::vector<std::uint32_t> leafNodes(const ForkReader& file, const BTreeHeader& header, std::uint64_t volumeBytes,
                                     JobContext& job) {
  // No more nodes than the file's extents and the volume can hold, whatever
  // the header and a spoilt fork claim.
  const std::uint64_t fits = std::min(file.allocatedBytes(), volumeBytes) / header.nodeSize;
  const std::uint32_t total = static_cast<std::uint32_t>(std::min<std::uint64_t>(header.totalNodes, fits));
  std::vector<std::uint32_t> out;
  std::vector<bool> seen(total, false);
  std::array<std::uint8_t, kDescriptorSize> descriptor{};
  const auto isLeaf = [&](std::uint32_t n) {
    file.read(std::uint64_t{n} * header.nodeSize, descriptor);
    return isLeafDescriptor(decodeNodeDescriptor(descriptor));
  };
  // The chain is whole when it ends at the leaf the header names last.
  bool chainEnded = header.firstLeafNode == 0 && header.lastLeafNode == 0;
  for (std::uint32_t n = header.firstLeafNode; n != 0 && n < total && !seen[n];) {
    if (!job.checkpoint()) return out;
    seen[n] = true;
    if (!isLeaf(n)) break;
    out.push_back(n);
    const std::uint32_t next = decodeNodeDescriptor(descriptor).forwardLink;
    if (next == 0) chainEnded = n == header.lastLeafNode;
    n = next;
  }
  if (chainEnded) return out;
  for (std::uint32_t n = 1; n < total; ++n) {
    if (seen[n]) continue;
    if (n % 256 == 0 && !job.checkpoint()) break;
    if (isLeaf(n)) out.push_back(n);
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------- scanning

void HfsPlusParser::reset() {
  header_ = {};
  catalogFile_ = {};
  catalogNodeSize_ = 0;
  extentsIndexed_ = false;
  nodes_.clear();
  overflow_.clear();
  catalogue_.clear();
  records_.clear();
  byCnid_.clear();
}

void HfsPlusParser::attachSource(const FileReadSeek& source, const VolumeExtent& volume) {
  view_ = VolumeView(source, volume);
}

bool HfsPlusParser::readVolumeHeader() {
  std::array<std::uint8_t, kVolumeHeaderSize> bytes{};
  view_.read(kVolumeHeaderOffset, bytes);
  header_ = decodeVolumeHeader(bytes);
  if (!header_.valid()) return false;
  view_ = view_.limitedTo(saturatingProduct(header_.blockSize, header_.totalBlocks));
  return true;
}

std::optional<BTreeHeader> HfsPlusParser::readHeaderNode(const ForkReader& file) const {
  std::array<std::uint8_t, kMinNodeSize> first{};
  if (file.allocatedBytes() < first.size()) return std::nullopt;
  file.read(0, first);
  return decodeHeaderNode(first);
}

bool HfsPlusParser::buildExtentsIndex(JobContext& job) {
  const ForkReader file(view_, blockSize(), forkExtents(kExtentsFileId, header_.extentsFile, nullptr));
  const std::optional<BTreeHeader> header = readHeaderNode(file);
  if (!header) return false;
  const std::vector<std::uint32_t> leaves = leafNodes(file, *header, view_.size(), job);
  std::vector<std::uint8_t> node(header->nodeSize);
  for (const std::uint32_t n : leaves) {
    file.read(std::uint64_t{n} * header->nodeSize, node);
    const NodeDescriptor d = decodeNodeDescriptor(node);
    for (const std::uint16_t offset : recordOffsets(node, d.recordCount))
      if (const std::optional<ExtentsRecord> r = decodeExtentsRecord(node, offset)) overflow_.add(*r);
  }
  return true;
}

bool HfsPlusParser::collectNodes(JobContext& job) {
  catalogFile_ = ForkReader(view_, blockSize(), forkExtents(kCatalogFileId, header_.catalogFile, &overflow_));
  const std::optional<BTreeHeader> header = readHeaderNode(catalogFile_);
  if (!header) return false;
  catalogNodeSize_ = header->nodeSize;
  for (const std::uint32_t n : leafNodes(catalogFile_, *header, view_.size(), job))
    nodes_.push_back({std::uint64_t{n} * catalogNodeSize_});
  // About half the leaf records are folders and files, the rest their
  // threads; no more than the nodes can hold, whatever the header says.
  const std::uint64_t fit = nodes_.size() * (catalogNodeSize_ / kSmallestFolderRecord);
  const auto expected = static_cast<std::size_t>(std::min<std::uint64_t>(header->leafRecords / 2 + 1, fit));
  catalogue_.reserve(expected + 2);  // the root's stand-in and the orphan folder
  records_.reserve(expected);
  return true;
}

std::uint32_t HfsPlusParser::guessNodeSize(JobContext& job) const {
  std::uint32_t found = 0;
  std::vector<std::uint8_t> node;
  SectorScan scan(view_, job, {.chunkBytes = kDeepChunkBytes, .stepBytes = kMinNodeSize});
  scan.run([&](std::uint64_t position, Bytes window) -> std::uint64_t {
    if (window[kDescriptorKind] != kLeafKindByte || window[kDescriptorHeight] != kLeafHeight)
      return position + kMinNodeSize;
    for (std::uint32_t size = kMinNodeSize; size <= kMaxNodeSize; size *= 2) {
      if (!view_.contains(position, size)) break;
      node.resize(size);
      view_.read(position, node);
      if (isCatalogLeaf(node)) {
        found = size;
        return kEndScan;
      }
    }
    return position + kMinNodeSize;
  });
  return found;
}

bool HfsPlusParser::scanForLeafNodes(JobContext& job) {
  // The catalog's own header gives the node size while it can be read.
  catalogFile_ = ForkReader(view_, blockSize(), forkExtents(kCatalogFileId, header_.catalogFile, &overflow_));
  if (const std::optional<BTreeHeader> header = readHeaderNode(catalogFile_)) catalogNodeSize_ = header->nodeSize;
  if (catalogNodeSize_ == 0) catalogNodeSize_ = guessNodeSize(job);
  if (catalogNodeSize_ == 0) return false;
  // Nodes start at block boundaries, or every node size inside a block.
  const std::size_t step = std::min<std::uint64_t>(blockSize(), catalogNodeSize_);
  const std::size_t chunk = std::max(kDeepChunkBytes - kDeepChunkBytes % step, step);
  SectorScan scan(view_, job, {.chunkBytes = chunk, .stepBytes = step});
  job.setProgressRange(0, static_cast<std::int64_t>(scan.chunkCount()));
  scan.afterChunk = [&](std::uint64_t next) {
    job.setProgress(static_cast<std::int64_t>(scan.chunksBefore(next)));
    return true;
  };
  std::vector<std::uint8_t> node(catalogNodeSize_);
  std::vector<std::uint8_t> extentsNode;
  scan.run([&](std::uint64_t position, Bytes window) -> std::uint64_t {
    if (window[kDescriptorKind] != kLeafKindByte || window[kDescriptorHeight] != kLeafHeight) return position + step;
    // Without a readable extents-overflow file, its leaves are gathered too.
    if (!extentsIndexed_ && be16(window, kDescriptorSize) == kExtentsKeyLength) {
      extentsNode.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kMaxNodeSize, view_.size() - position)));
      view_.read(position, extentsNode);
      std::uint32_t size = 0;
      for (const ExtentsRecord& r : extentsLeafRecords(extentsNode, size)) overflow_.add(r);
      if (size != 0) return position + std::max<std::uint64_t>(size, step);
    }
    Bytes bytes;
    if (window.size() >= catalogNodeSize_) {
      bytes = window.first(catalogNodeSize_);
    } else {
      if (!view_.contains(position, catalogNodeSize_)) return position + step;
      view_.read(position, node);
      bytes = node;
    }
    if (!isCatalogLeaf(bytes)) return position + step;
    nodes_.push_back({position, catalogFile_.holds(position, catalogNodeSize_)});
    return position + catalogNodeSize_;
  });
  return true;
}

void HfsPlusParser::addRecordsOf(std::uint32_t nodeIndex, Bytes node) {
  const NodeDescriptor d = decodeNodeDescriptor(node);
  if (!isLeafDescriptor(d)) return;
  for (const std::uint16_t offset : recordOffsets(node, d.recordCount)) {
    std::optional<CatalogRecord> r = decodeCatalogRecord(node, offset);
    if (!r || r->id == 0) continue;
    const bool folder = r->type == CatalogRecordType::Folder;
    // File IDs below 16 are the volume's own files; they are not the user's.
    if (!folder && (r->id < 16 || static_cast<std::int32_t>(r->id) <= 0)) continue;
    const EntryId id = catalogue_.add(r->name, folder ? Catalogue::kFolder : 0);
    if (id == kNoEntry) return;
    catalogue_.setSize(id, folder ? 0 : r->dataFork.logicalSize);
    catalogue_.setTimes(id, {fromHfsDate(r->createDate), fromHfsDate(r->accessDate), fromHfsDate(r->contentModDate)});
    records_.push_back({r->id, r->parentId, nodeIndex, offset, r->fileMode});
  }
}

bool HfsPlusParser::readNode(std::uint32_t index, std::vector<std::uint8_t>& node) const {
  node.resize(catalogNodeSize_);
  if (index >= nodes_.size()) return false;
  return deep_ ? view_.read(nodes_[index].position, node) : catalogFile_.read(nodes_[index].position, node);
}

void HfsPlusParser::parseCatalog(JobContext& job) {
  job.setProgressRange(0, static_cast<std::int64_t>(nodes_.size()));
  std::vector<std::uint8_t> node;
  for (std::uint32_t i = 0; i < nodes_.size(); ++i) {
    if (!job.checkpoint()) break;
    if (i % 64 == 0) job.setProgress(i);
    readNode(i, node);
    addRecordsOf(i, node);
  }
  job.setProgress(static_cast<std::int64_t>(nodes_.size()));
  // By CNID; a CNID met again (an old copy of a node) keeps the record of
  // the catalog file, else the first one read.
  const auto elsewhere = [this](EntryId id) { return !nodes_[records_[id].nodeIndex].inCatalogFile; };
  byCnid_.resize(records_.size());
  for (EntryId id = 0; id < byCnid_.size(); ++id) byCnid_[id] = id;
  std::sort(byCnid_.begin(), byCnid_.end(), [&](EntryId a, EntryId b) {
    const HfsRecordRef& x = records_[a];
    const HfsRecordRef& y = records_[b];
    return std::make_tuple(x.cnid, elsewhere(a), x.nodeIndex, x.recordOffset) <
           std::make_tuple(y.cnid, elsewhere(b), y.nodeIndex, y.recordOffset);
  });
  byCnid_.erase(std::unique(byCnid_.begin(), byCnid_.end(),
                            [this](EntryId a, EntryId b) { return records_[a].cnid == records_[b].cnid; }),
                byCnid_.end());
  byCnid_.shrink_to_fit();
}

EntryId HfsPlusParser::entryOf(std::uint32_t cnid) const {
  const auto it = std::lower_bound(byCnid_.begin(), byCnid_.end(), cnid,
                                   [this](EntryId e, std::uint32_t c) { return records_[e].cnid < c; });
  return it != byCnid_.end() && records_[*it].cnid == cnid ? *it : kNoEntry;
}

void HfsPlusParser::linkParentChild(JobContext& job) {
  job.setStatus("Maintaining Parent Child....");
  // Where each entry goes: a folder of the catalogue, the root (a stand-in
  // for the root's folder when its record is lost), or the orphan folder.
  // Copies of a CNID met again stay out of the tree.
  EntryId root = entryOf(kRootFolderId);
  if (root != kNoEntry && !catalogue_.isFolder(root)) root = kNoEntry;
  for (EntryId id = 0; id < records_.size(); ++id) catalogue_.setParent(id, kNoEntry);
  EntryId standIn = kNoEntry;
  for (const EntryId id : byCnid_) {
    if (id == root) continue;
    const std::uint32_t parentId = records_[id].parentCnid;
    const EntryId p = entryOf(parentId);
    if (p != kNoEntry && p != id && catalogue_.isFolder(p)) {
      catalogue_.setParent(id, p);
    } else if (parentId == kRootFolderId) {
      if (root == kNoEntry) root = standIn = catalogue_.add("", Catalogue::kFolder);
      catalogue_.setParent(id, root == kNoEntry ? Catalogue::kUnderOrphans : root);
    } else {
      catalogue_.setParent(id, Catalogue::kUnderOrphans);
    }
  }
  if (standIn != kNoEntry) byCnid_.push_back(standIn);
  catalogue_.build(root, kOrphanFolderName, &byCnid_);
}

bool HfsPlusParser::scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  try {
    return runJob(source, request, job);
  } catch (const std::exception&) {
    reset();
    job.setStatus(kWorkAborted);
    job.showMessage(kOutOfMemory);
    return false;
  }
}

bool HfsPlusParser::runJob(const FileReadSeek& source, const ScanRequest& request, JobContext& job) {
  reset();
  deep_ = request.mode == RecoveryMode::Deep;
  attachSource(source, request.volume);
  const auto abort = [&](const char* why) {
    job.setStatus(kWorkAborted);
    job.showMessage(why);
    return false;
  };
  if (!readVolumeHeader()) {
    if ((header_.hfsPlus || header_.hfsx) && !validBlockSize(header_.blockSize)) {
      job.setStatus(kBlockSizeNotValid);
      job.showMessage(kBlockSizeNotValid);
      return false;
    }
    return abort(kNotHfs);
  }
  // Without the overflow file, files are read as far as their own eight
  // extents reach; the catalog itself usually needs no more.
  extentsIndexed_ = buildExtentsIndex(job);
  if (deep_) {
    job.setStatus(" scanning for catalog leaf nodes in deep mode ....");
    if (!scanForLeafNodes(job)) return abort(kNoLeafNodes);
  } else if (!collectNodes(job)) {
    return abort(kNoCatalog);
  }
  parseCatalog(job);
  linkParentChild(job);
  job.setStatus(kWorkDone);
  return true;
}

// ---------------------------------------------------------------- catalogue

RowTexts HfsPlusParser::formatRow(EntryId id) const {
  RowTexts row = FileSystemParser::formatRow(id);
  if (valid(id)) row.attributes = permissionText(records_[id].fileMode);
  return row;
}

std::optional<ForkData> HfsPlusParser::dataForkOf(EntryId id) const {
  const HfsRecordRef& e = records_[id];
  std::vector<std::uint8_t> node;
  if (!readNode(e.nodeIndex, node)) return std::nullopt;
  const std::optional<CatalogRecord> r = decodeCatalogRecord(node, e.recordOffset);
  if (!r || r->id != e.cnid || r->type != CatalogRecordType::File) return std::nullopt;
  return r->dataFork;
}

bool HfsPlusParser::readContent(EntryId id, ContentSink& sink) const {
  try {
    if (catalogue_.isFolder(id)) return true;
    if (!valid(id)) return false;
    const std::optional<ForkData> fork = dataForkOf(id);
    if (!fork) return false;
    const ForkReader file(view_, blockSize(), forkExtents(records_[id].cnid, *fork, &overflow_));
    // A logical size beyond the allocated blocks is cut to them.
    const std::uint64_t size = catalogue_.size(id);
    const std::uint64_t length = std::min(size, file.allocatedBytes());
    return file.stream(length, sink) && length == size;
  } catch (const std::exception&) {
    return false;
  }
}

std::unique_ptr<FileSystemParser> makeHfsPlusParser() { return std::make_unique<HfsPlusParser>(); }

}  // namespace quorvel
