#include "fs/ext/ExtBuilders.h"

#include <stdexcept>

#include "fs/ext/ExtParser.h"

namespace quorvel::test {

namespace {

void put16(ByteVector& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(ByteVector& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
template <std::size_t N>
void put32(std::array<std::uint8_t, N>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::size_t ideal(std::size_t nameLength) { return (8 + nameLength + 3) & ~std::size_t{3}; }

void writeEntry(ByteVector& b, std::size_t at, const DirEntryPlan& e, std::size_t recordLength, bool fileTypes) {
  put32(b, at, e.inode);
  put16(b, at + 4, static_cast<std::uint16_t>(recordLength));
  if (fileTypes) {
    b[at + 6] = static_cast<std::uint8_t>(e.name.size());
    b[at + 7] = e.type;
  } else {
    put16(b, at + 6, static_cast<std::uint16_t>(e.name.size()));
  }
  for (std::size_t i = 0; i < e.name.size(); ++i) b[at + 8 + i] = static_cast<std::uint8_t>(e.name[i]);
}

ByteVector extentNode(std::uint16_t entries, std::uint16_t depth, std::size_t bytes, std::uint16_t maxEntries) {
  ByteVector node(bytes, 0);
  put16(node, 0, 0xF30A);
  put16(node, 2, entries);
  put16(node, 4, maxEntries ? maxEntries : static_cast<std::uint16_t>((bytes - 12) / 12));
  put16(node, 6, depth);
  return node;
}

}  // namespace

std::array<std::uint8_t, 60> blockMapArea(const std::vector<std::uint32_t>& pointers) {
  std::array<std::uint8_t, 60> area{};
  for (std::size_t i = 0; i < pointers.size() && i < 15; ++i) put32(area, i * 4, pointers[i]);
  return area;
}

ByteVector extentLeafNode(const std::vector<ExtentLeafPlan>& leaves, std::size_t bytes, std::uint16_t maxEntries) {
  ByteVector node = extentNode(static_cast<std::uint16_t>(leaves.size()), 0, bytes, maxEntries);
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const std::size_t at = 12 + 12 * i;
    put32(node, at, leaves[i].logical);
    put16(node, at + 4, leaves[i].length);
    put16(node, at + 6, static_cast<std::uint16_t>(leaves[i].start >> 32));
    put32(node, at + 8, static_cast<std::uint32_t>(leaves[i].start));
  }
  return node;
}

ByteVector extentIndexNode(const std::vector<std::pair<std::uint32_t, std::uint64_t>>& children, std::uint16_t depth,
                           std::size_t bytes, std::uint16_t maxEntries) {
  ByteVector node = extentNode(static_cast<std::uint16_t>(children.size()), depth, bytes, maxEntries);
  for (std::size_t i = 0; i < children.size(); ++i) {
    const std::size_t at = 12 + 12 * i;
    put32(node, at, children[i].first);
    put32(node, at + 4, static_cast<std::uint32_t>(children[i].second));
    put16(node, at + 8, static_cast<std::uint16_t>(children[i].second >> 32));
  }
  return node;
}

std::array<std::uint8_t, 60> areaFrom(const ByteVector& node) {
  std::array<std::uint8_t, 60> area{};
  for (std::size_t i = 0; i < 60 && i < node.size(); ++i) area[i] = node[i];
  return area;
}

ByteVector directoryBlock(const std::vector<DirEntryPlan>& entries, std::uint32_t blockSize, bool fileTypes) {
  ByteVector b(blockSize, 0);
  std::size_t at = 0;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const DirEntryPlan& e = entries[k];
    std::size_t length = ideal(e.name.size());
    for (const DirEntryPlan& r : e.removedAfter) length += ideal(r.name.size());
    if (k + 1 == entries.size()) length = blockSize - at;
    writeEntry(b, at, e, length, fileTypes);
    std::size_t hidden = at + ideal(e.name.size());
    for (const DirEntryPlan& r : e.removedAfter) {
      writeEntry(b, hidden, r, ideal(r.name.size()), fileTypes);
      hidden += ideal(r.name.size());
    }
    at += length;
  }
  return b;
}

ExtVolumeBuilder::ExtVolumeBuilder(ExtGeometry g) : g_(g) {
  const std::uint32_t firstDataBlock = g_.blockSize == 1024 ? 1 : 0;
  groups_ = (g_.blocks - firstDataBlock + g_.blocksPerGroup - 1) / g_.blocksPerGroup;
  descriptorSize_ = g_.wideDescriptors ? 64 : 32;
  const std::uint64_t descriptorBlocks = (groups_ * descriptorSize_ + g_.blockSize - 1) / g_.blockSize;
  next_ = firstDataBlock + 1 + descriptorBlocks;
  const std::uint64_t tableBlocks = (std::uint64_t{g_.inodesPerGroup} * g_.inodeSize + g_.blockSize - 1) / g_.blockSize;
  for (std::uint64_t k = 0; k < groups_; ++k) {
    blockBitmaps_.push_back(next_++);
    inodeBitmaps_.push_back(next_++);
    tables_.push_back(next_);
    next_ += tableBlocks;
  }
  blockBitmapBytes_.assign(groups_, ByteVector(g_.blockSize, 0));
  inodeBitmapBytes_.assign(groups_, ByteVector(g_.blockSize, 0));
  for (std::uint64_t b = firstDataBlock; b < next_; ++b) setBlockInUse(b, true);

  super_.assign(1024, 0);
  put32(super_, 0, static_cast<std::uint32_t>(groups_ * g_.inodesPerGroup));
  put32(super_, 4, static_cast<std::uint32_t>(g_.blocks));
  put32(super_, 20, firstDataBlock);
  std::uint32_t log = 0;
  while ((1024u << log) < g_.blockSize) ++log;
  put32(super_, 24, log);
  put32(super_, 28, log);
  put32(super_, 32, g_.blocksPerGroup);
  put32(super_, 36, g_.blocksPerGroup);
  put32(super_, 40, g_.inodesPerGroup);
  put16(super_, 56, 0xEF53);
  put32(super_, 76, 1);
  put32(super_, 84, 11);
  put16(super_, 88, g_.inodeSize);
  put32(super_, 96, (g_.fileTypes ? 0x2u : 0u) | (g_.wideDescriptors ? 0x80u : 0u));
  if (g_.wideDescriptors) put16(super_, 0xFE, 64);
  put32(super_, 0x150, static_cast<std::uint32_t>(g_.blocks >> 32));

  for (std::uint64_t k = 0; k < groups_; ++k) {
    ByteVector d(descriptorSize_, 0);
    put32(d, 0, static_cast<std::uint32_t>(blockBitmaps_[k]));
    put32(d, 4, static_cast<std::uint32_t>(inodeBitmaps_[k]));
    put32(d, 8, static_cast<std::uint32_t>(tables_[k]));
    if (g_.wideDescriptors) {
      put32(d, 0x20, static_cast<std::uint32_t>(blockBitmaps_[k] >> 32));
      put32(d, 0x24, static_cast<std::uint32_t>(inodeBitmaps_[k] >> 32));
      put32(d, 0x28, static_cast<std::uint32_t>(tables_[k] >> 32));
    }
    descriptors_.push_back(d);
  }
}

std::uint64_t ExtVolumeBuilder::descriptorOffset(std::uint64_t group) const {
  const std::uint32_t firstDataBlock = g_.blockSize == 1024 ? 1 : 0;
  return (firstDataBlock + 1) * std::uint64_t{g_.blockSize} + group * descriptorSize_;
}

std::uint64_t ExtVolumeBuilder::allocate(std::uint64_t count) {
  const std::uint64_t first = next_;
  next_ += count;
  if (next_ > g_.blocks) throw std::runtime_error("the test volume is full");
  for (std::uint64_t b = first; b < next_; ++b) setBlockInUse(b, true);
  return first;
}

void ExtVolumeBuilder::setBlockInUse(std::uint64_t block, bool inUse) {
  const std::uint32_t firstDataBlock = g_.blockSize == 1024 ? 1 : 0;
  if (block < firstDataBlock) return;
  const std::uint64_t group = (block - firstDataBlock) / g_.blocksPerGroup;
  const std::uint64_t bit = (block - firstDataBlock) % g_.blocksPerGroup;
  if (group >= groups_) return;
  auto& byte = blockBitmapBytes_[group][bit / 8];
  byte = static_cast<std::uint8_t>(inUse ? byte | (1u << (bit % 8)) : byte & ~(1u << (bit % 8)));
}

void ExtVolumeBuilder::writeBlock(std::uint64_t block, const ByteVector& bytes) { writeAt(block * g_.blockSize, bytes); }

void ExtVolumeBuilder::writeAt(std::uint64_t offset, const ByteVector& bytes) { writes_.emplace_back(offset, bytes); }

void ExtVolumeBuilder::setInode(std::uint32_t number, const ExtInodeFields& fields, bool allocated) {
  const std::uint64_t group = (number - 1) / g_.inodesPerGroup;
  const std::uint64_t slot = (number - 1) % g_.inodesPerGroup;
  ByteVector raw(g_.inodeSize, 0);
  put16(raw, 0, fields.mode);
  put32(raw, 4, static_cast<std::uint32_t>(fields.size));
  for (const std::size_t at : {8u, 12u, 16u}) put32(raw, at, static_cast<std::uint32_t>(fields.time));
  put16(raw, 26, fields.links);
  const bool fastLink = (fields.mode & 0xF000) == 0xA000 && fields.size < 60 && !(fields.flags & 0x10080000);
  const std::uint64_t dataBlocks = fastLink || (fields.flags & 0x10000000) ? 0 : (fields.size + g_.blockSize - 1) / g_.blockSize;
  put32(raw, 28, static_cast<std::uint32_t>(dataBlocks * (g_.blockSize / 512)));
  put32(raw, 32, fields.flags);
  for (std::size_t i = 0; i < 60; ++i) raw[40 + i] = fields.blockArea[i];
  put32(raw, 108, static_cast<std::uint32_t>(fields.size >> 32));
  if (g_.inodeSize > 128) {
    put16(raw, 128, 32);
    for (const std::size_t at : {132u, 136u, 140u}) put32(raw, at, fields.timeExtra);
    if (!fields.inlineTail.empty()) {
      put32(raw, 160, 0xEA020000);
      raw[164] = 4;   // name length
      raw[165] = 7;   // "system."
      put16(raw, 166, 24);
      put32(raw, 172, static_cast<std::uint32_t>(fields.inlineTail.size()));
      raw[180] = 'd', raw[181] = 'a', raw[182] = 't', raw[183] = 'a';
      for (std::size_t i = 0; i < fields.inlineTail.size(); ++i) raw.at(188 + i) = fields.inlineTail[i];
    }
  }
  inodes_.emplace_back(tables_[group] * g_.blockSize + slot * g_.inodeSize, raw);
  auto& byte = inodeBitmapBytes_[group][slot / 8];
  byte = static_cast<std::uint8_t>(allocated ? byte | (1u << (slot % 8)) : byte & ~(1u << (slot % 8)));
}

void ExtVolumeBuilder::setFolder(std::uint32_t number, const std::vector<ByteVector>& blocks, bool allocated) {
  std::vector<std::uint32_t> pointers;
  for (const ByteVector& b : blocks) {
    const std::uint64_t at = allocate();
    writeBlock(at, b);
    pointers.push_back(static_cast<std::uint32_t>(at));
  }
  ExtInodeFields fields;
  fields.mode = 0x41ED;
  fields.size = blocks.size() * g_.blockSize;
  fields.blockArea = blockMapArea(pointers);
  fields.links = 2;
  setInode(number, fields, allocated);
}

void ExtVolumeBuilder::setFile(std::uint32_t number, const ByteVector& content, bool allocated) {
  const std::uint64_t count = (content.size() + g_.blockSize - 1) / g_.blockSize;
  std::vector<std::uint32_t> pointers(15, 0);
  const std::uint64_t first = allocate(count);
  writeBlock(first, content);
  ByteVector single(g_.blockSize, 0);
  for (std::uint64_t k = 0; k < count; ++k) {
    if (k < 12)
      pointers[k] = static_cast<std::uint32_t>(first + k);
    else
      put32(single, (k - 12) * 4, static_cast<std::uint32_t>(first + k));
  }
  if (count > 12) {
    pointers[12] = static_cast<std::uint32_t>(allocate());
    writeBlock(pointers[12], single);
  }
  ExtInodeFields fields;
  fields.size = content.size();
  fields.blockArea = blockMapArea(pointers);
  setInode(number, fields, allocated);
}

std::unique_ptr<TempImage> ExtVolumeBuilder::materialize() const {
  auto image = std::make_unique<TempImage>();
  image->resize(g_.blocks * g_.blockSize);
  image->write(1024, super_);
  for (std::uint64_t k = 0; k < groups_; ++k) {
    image->write(descriptorOffset(k), descriptors_[k]);
    image->write(blockBitmaps_[k] * g_.blockSize, blockBitmapBytes_[k]);
    image->write(inodeBitmaps_[k] * g_.blockSize, inodeBitmapBytes_[k]);
  }
  for (const auto& [offset, bytes] : inodes_) image->write(offset, bytes);
  for (const auto& [offset, bytes] : writes_) image->write(offset, bytes);
  return image;
}

std::unique_ptr<ScannedExt> scanExt(std::unique_ptr<TempImage> image) {
  auto v = std::make_unique<ScannedExt>();
  v->image = std::move(image);
  v->source = std::make_unique<FileReadSeek>();
  if (!v->source->open(v->image->path())) throw std::runtime_error("cannot open the test image");
  v->parser = makeExtParser();
  ScanRequest request;
  request.volume = VolumeExtent{0, 0};
  JobContext job(&v->observer);
  v->scanned = v->parser->scan(*v->source, request, job);
  return v;
}

std::unique_ptr<ScannedExt> scanExt(const ExtVolumeBuilder& volume) { return scanExt(volume.materialize()); }

EntryId ScannedExt::find(const std::string& path) const {
  std::vector<EntryId> level = parser->topEntries();
  EntryId found = kNoEntry;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    found = kNoEntry;
    for (const EntryId id : level)
      if (parser->name(id) == part && (found == kNoEntry || parser->isDeleted(found))) found = id;
    if (found == kNoEntry || slash == std::string::npos) return found;
    level = parser->children(found);
    start = slash + 1;
  }
  return found;
}

ByteVector ScannedExt::content(EntryId id, bool* complete) const {
  CollectingSink sink;
  const bool whole = parser->readContent(id, sink);
  if (complete) *complete = whole;
  return sink.bytes;
}

std::vector<std::string> ScannedExt::childNames(EntryId id) const {
  std::vector<std::string> out;
  for (const EntryId c : parser->children(id)) out.push_back(parser->name(c));
  return out;
}

std::vector<std::string> ScannedExt::topNames() const {
  std::vector<std::string> out;
  for (const EntryId c : parser->topEntries()) out.push_back(parser->name(c));
  return out;
}

ByteVector extPattern(std::size_t length, std::uint8_t seed) {
  ByteVector out(length);
  for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(i * 7 + seed + (i >> 9) * 13);
  return out;
}

}  // namespace quorvel::test
