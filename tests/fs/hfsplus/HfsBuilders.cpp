#include "fs/hfsplus/HfsBuilders.h"

#include <algorithm>
#include <stdexcept>

#include "fs/CatalogueWalk.h"

namespace quorvel::test {

namespace {

void put(ByteVector& b, std::size_t off, std::uint64_t v, int width) {
  if (b.size() < off + width) b.resize(off + width);
  for (int i = width - 1; i >= 0; --i, v >>= 8) b[off + i] = static_cast<std::uint8_t>(v);
}

ByteVector catalogKey(std::uint32_t parent, const std::u16string& name) {
  ByteVector k;
  put(k, 0, 6 + 2 * name.size(), 2);
  put(k, 2, parent, 4);
  put(k, 6, name.size(), 2);
  for (std::size_t i = 0; i < name.size(); ++i) put(k, 8 + 2 * i, name[i], 2);
  return k;
}

std::uint32_t blocksFor(std::uint64_t bytes, std::uint32_t blockSize) {
  return static_cast<std::uint32_t>((bytes + blockSize - 1) / blockSize);
}

void putFork(ByteVector& b, std::size_t at, std::uint64_t logical, std::uint32_t totalBlocks,
             const std::vector<hfsfmt::Extent>& extents) {
  put(b, at, logical, 8);
  put(b, at + 12, totalBlocks, 4);
  for (std::size_t i = 0; i < extents.size() && i < 8; ++i) {
    put(b, at + 16 + 8 * i, extents[i].startBlock, 4);
    put(b, at + 20 + 8 * i, extents[i].blockCount, 4);
  }
}

ByteVector headerNode(std::uint16_t nodeSize, std::uint32_t totalNodes, std::uint32_t firstLeaf, std::uint32_t lastLeaf) {
  ByteVector node(nodeSize, 0);
  put(node, 8, 1, 1);  // kind: header
  put(node, 10, 3, 2);
  put(node, 14, firstLeaf ? 1 : 0, 2);  // depth
  put(node, 16, firstLeaf, 4);          // root
  put(node, 24, firstLeaf, 4);
  put(node, 28, lastLeaf, 4);
  put(node, 32, nodeSize, 2);
  put(node, 34, 516, 2);
  put(node, 36, totalNodes, 4);
  put(node, nodeSize - 2, 14, 2);
  put(node, nodeSize - 4, 120, 2);
  put(node, nodeSize - 6, 248, 2);
  put(node, nodeSize - 8, 256, 2);
  return node;
}

}  // namespace

ByteVector folderRecord(std::uint32_t parent, const std::u16string& name, std::uint32_t id) {
  ByteVector r = catalogKey(parent, name);
  const std::size_t d = r.size();
  put(r, d, 1, 2);
  put(r, d + 8, id, 4);
  put(r, d + 87, 0, 1);  // 88 bytes
  return r;
}

ByteVector fileRecord(const HfsFileSpec& f) {
  ByteVector r = catalogKey(f.parent, f.name);
  const std::size_t d = r.size();
  put(r, d, 2, 2);
  put(r, d + 8, f.id, 4);
  put(r, d + 12, f.createDate, 4);
  put(r, d + 16, f.contentModDate, 4);
  put(r, d + 20, f.attributeModDate, 4);
  put(r, d + 24, f.accessDate, 4);
  put(r, d + 42, f.fileMode, 2);
  std::uint32_t total = f.totalBlocks;
  if (total == 0)
    for (const hfsfmt::Extent& e : f.extents) total += e.blockCount;
  putFork(r, d + 88, f.size, total, f.extents);
  put(r, d + 247, 0, 1);  // 248 bytes
  return r;
}

ByteVector threadRecord(std::uint32_t id, std::uint32_t parent, const std::u16string& name) {
  ByteVector r = catalogKey(id, u"");
  const std::size_t d = r.size();
  put(r, d, 3, 2);
  put(r, d + 4, parent, 4);
  put(r, d + 8, name.size(), 2);
  for (std::size_t i = 0; i < name.size(); ++i) put(r, d + 10 + 2 * i, name[i], 2);
  return r;
}

ByteVector leafNode(std::uint16_t nodeSize, const std::vector<ByteVector>& records, std::uint32_t forwardLink,
                    std::int8_t kind, std::uint8_t height) {
  ByteVector node(nodeSize, 0);
  put(node, 0, forwardLink, 4);
  put(node, 8, static_cast<std::uint8_t>(kind), 1);
  put(node, 9, height, 1);
  put(node, 10, records.size(), 2);
  std::size_t off = 14;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (off + records[i].size() + 2 * (records.size() + 1) > nodeSize) throw std::runtime_error("records overflow the node");
    put(node, nodeSize - 2 * (i + 1), off, 2);
    std::copy(records[i].begin(), records[i].end(), node.begin() + static_cast<std::ptrdiff_t>(off));
    off += records[i].size();
  }
  put(node, nodeSize - 2 * (records.size() + 1), off, 2);
  return node;
}

HfsVolumeBuilder::HfsVolumeBuilder(std::uint32_t blockSize, std::uint32_t totalBlocks, std::uint16_t nodeSize)
    : blockSize_(blockSize), totalBlocks_(totalBlocks), nodeSize_(nodeSize) {
  extentsStart_ = blocksFor(4096, blockSize_);
  // Room for 64 catalog nodes behind a two-node extents file.
  nextData_ = extentsStart_ + blocksFor(2 * nodeSize_, blockSize_) + blocksFor(64 * nodeSize_, blockSize_);
  data_.assign(std::uint64_t{blockSize_} * totalBlocks_, 0);
}

std::uint32_t HfsVolumeBuilder::catalogStart() const {
  return catalogExtents.empty() ? extentsStart_ + blocksFor(2 * nodeSize_, blockSize_) : catalogExtents.front().startBlock;
}

hfsfmt::Extent HfsVolumeBuilder::addData(const ByteVector& bytes) {
  const hfsfmt::Extent e{nextData_, std::max<std::uint32_t>(1, blocksFor(bytes.size(), blockSize_))};
  writeAt(std::uint64_t{nextData_} * blockSize_, bytes);
  nextData_ += e.blockCount;
  return e;
}

void HfsVolumeBuilder::writeAt(std::uint64_t offset, const ByteVector& bytes) {
  if (offset + bytes.size() > data_.size()) throw std::runtime_error("write past the test volume");
  std::copy(bytes.begin(), bytes.end(), data_.begin() + static_cast<std::ptrdiff_t>(offset));
}

ByteVector HfsVolumeBuilder::build() const {
  ByteVector v = data_;
  const std::uint32_t nodes = static_cast<std::uint32_t>(leaves.size()) + 1;
  std::vector<hfsfmt::Extent> catalog = catalogExtents;
  if (catalog.empty()) catalog = {{catalogStart(), blocksFor(std::uint64_t{nodes} * nodeSize_, blockSize_)}};
  std::uint64_t catalogBlocks = 0;
  for (const hfsfmt::Extent& e : catalog) catalogBlocks += e.blockCount;

  // Catalog nodes through the catalog's extents.
  const auto writeCatalogNode = [&](std::uint32_t n, const ByteVector& node) {
    for (std::size_t done = 0; done < node.size();) {
      const std::uint64_t at = std::uint64_t{n} * nodeSize_ + done;
      std::uint64_t fileBlock = at / blockSize_, first = 0;
      for (const hfsfmt::Extent& e : catalog) {
        if (fileBlock < first + e.blockCount) {
          const std::uint64_t within = at % blockSize_;
          const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_ - within, node.size() - done));
          const std::uint64_t to = (e.startBlock + fileBlock - first) * blockSize_ + within;
          std::copy_n(node.begin() + static_cast<std::ptrdiff_t>(done), piece, v.begin() + static_cast<std::ptrdiff_t>(to));
          done += piece;
          break;
        }
        first += e.blockCount;
        if (&e == &catalog.back()) throw std::runtime_error("catalog node outside the catalog's extents");
      }
    }
  };
  const std::uint32_t lastLeaf = static_cast<std::uint32_t>(leaves.size());
  writeCatalogNode(0, headerNode(nodeSize_, nodes, leaves.empty() ? 0 : 1, lastLeaf));
  for (std::uint32_t i = 0; i < leaves.size(); ++i) {
    const std::uint32_t link = i < forwardLinks.size() ? forwardLinks[i] : (i + 1 < leaves.size() ? i + 2 : 0);
    writeCatalogNode(i + 1, leafNode(nodeSize_, leaves[i], link));
  }

  // The extents file: a header node, and a leaf when there are records.
  const std::uint64_t extentsAt = std::uint64_t{extentsStart_} * blockSize_;
  const std::uint32_t extentsNodes = overflow.empty() ? 1 : 2;
  ByteVector header = headerNode(nodeSize_, extentsNodes, overflow.empty() ? 0 : 1, overflow.empty() ? 0 : 1);
  std::copy(header.begin(), header.end(), v.begin() + static_cast<std::ptrdiff_t>(extentsAt));
  if (!overflow.empty()) {
    std::vector<ByteVector> records;
    for (const OverflowSpec& o : overflow) {
      ByteVector r;
      put(r, 0, 10, 2);
      put(r, 2, o.forkType, 1);
      put(r, 4, o.fileId, 4);
      put(r, 8, o.startBlock, 4);
      put(r, 12 + 63, 0, 1);
      for (std::size_t i = 0; i < o.extents.size() && i < 8; ++i) {
        put(r, 12 + 8 * i, o.extents[i].startBlock, 4);
        put(r, 16 + 8 * i, o.extents[i].blockCount, 4);
      }
      records.push_back(r);
    }
    const ByteVector leaf = leafNode(nodeSize_, records);
    std::copy(leaf.begin(), leaf.end(), v.begin() + static_cast<std::ptrdiff_t>(extentsAt + nodeSize_));
  }

  // The volume header.
  ByteVector h(512, 0);
  std::copy(signature.begin(), signature.end(), h.begin());
  put(h, 2, version, 2);
  put(h, 40, blockSize_, 4);
  put(h, 44, totalBlocks_, 4);
  const std::uint32_t extentsBlocks = blocksFor(2 * nodeSize_, blockSize_);
  putFork(h, 0xC0, std::uint64_t{extentsBlocks} * blockSize_, extentsBlocks, {{extentsStart_, extentsBlocks}});
  putFork(h, 0x110, catalogBlocks * blockSize_, static_cast<std::uint32_t>(catalogBlocks), catalog);
  std::copy(h.begin(), h.end(), v.begin() + 1024);
  return v;
}

EntryId ScannedHfs::find(const std::string& path) const {
  EntryId found = kNoEntry;
  walkCatalogue(*parser, std::nullopt, [&](const CatalogueItem& item) {
    if (itemPath(item) != path) return true;
    found = item.id;
    return false;
  });
  return found;
}

std::vector<std::string> ScannedHfs::topNames() const {
  std::vector<std::string> names;
  for (const EntryId id : parser->topEntries()) names.push_back(parser->name(id));
  return names;
}

std::vector<std::string> ScannedHfs::childNames(EntryId id) const {
  std::vector<std::string> names;
  for (const EntryId c : parser->children(id)) names.push_back(parser->name(c));
  return names;
}

std::unique_ptr<ScannedHfs> scanHfs(const ByteVector& image, RecoveryMode mode) {
  auto v = std::make_unique<ScannedHfs>();
  v->image = std::make_unique<TempImage>(image);
  v->source = std::make_unique<FileReadSeek>();
  if (!v->source->open(v->image->path())) throw std::runtime_error("cannot open the test image");
  v->parser = std::make_unique<HfsPlusParser>();
  JobContext job(&v->observer);
  v->scanned = v->parser->scan(*v->source, ScanRequest{{0, image.size()}, mode, {}}, job);
  return v;
}

}  // namespace quorvel::test
