#include "fs/hfsplus/HfsVolumeHeader.h"

#include <vector>

#include "fs/UnicodeText.h"
#include "fs/Utf16.h"
#include "io/Arithmetic.h"

namespace quorvel::hfsfmt {

namespace {

namespace field {
constexpr std::size_t signature = 0x00;
constexpr std::size_t version = 0x02;
constexpr std::size_t blockSize = 0x28;
constexpr std::size_t totalBlocks = 0x2C;
constexpr std::size_t extentsFile = 0x0C0;
constexpr std::size_t catalogFile = 0x110;
}  // namespace field

namespace fork {
constexpr std::size_t logicalSize = 0;
constexpr std::size_t totalBlocks = 12;
constexpr std::size_t extents = 16;
}  // namespace fork

namespace node {
constexpr std::size_t forwardLink = 0;
constexpr std::size_t backwardLink = 4;
constexpr std::size_t kind = 8;
constexpr std::size_t height = 9;
constexpr std::size_t recordCount = 10;
constexpr std::size_t descriptorSize = 14;
}  // namespace node

namespace header {  // offsets within node 0
constexpr std::size_t depth = 14;
constexpr std::size_t rootNode = 16;
constexpr std::size_t leafRecords = 20;
constexpr std::size_t firstLeafNode = 24;
constexpr std::size_t lastLeafNode = 28;
constexpr std::size_t nodeSize = 32;
constexpr std::size_t maxKeyLength = 34;
constexpr std::size_t totalNodes = 36;
}  // namespace header

namespace catalog {  // key fields from the record's offset
constexpr std::size_t keyLength = 0;
constexpr std::size_t parentId = 2;
constexpr std::size_t nameLength = 6;
constexpr std::size_t name = 8;
constexpr std::size_t keyFixedPart = 6;  // key length counts parent ID and name length
constexpr std::uint16_t maxNameUnits = 255;
}  // namespace catalog

namespace record {  // folder and file record fields from the data's start
constexpr std::size_t type = 0;
constexpr std::size_t id = 8;
constexpr std::size_t createDate = 12;
constexpr std::size_t contentModDate = 16;
constexpr std::size_t attributeModDate = 20;
constexpr std::size_t accessDate = 24;
constexpr std::size_t fileMode = 42;
constexpr std::size_t dataFork = 88;
constexpr std::size_t folderSize = 88;
constexpr std::size_t fileSize = 248;
constexpr std::size_t threadMinSize = 10;
}  // namespace record

namespace extents {  // extents-overflow key and data from the record's offset
constexpr std::size_t keyLength = 0;
constexpr std::size_t forkType = 2;
constexpr std::size_t fileId = 4;
constexpr std::size_t startBlock = 8;
constexpr std::size_t data = 12;
constexpr std::uint16_t expectedKeyLength = 10;
constexpr std::size_t recordSize = data + 64;
}  // namespace extents

// Seconds from 1904-01-01 to 1970-01-01.
constexpr std::int64_t kHfsToUnixSeconds = 2082844800;

ForkData decodeFork(Bytes s, std::size_t at) {
  ForkData f;
  f.logicalSize = be64(s, at + fork::logicalSize);
  f.totalBlocks = be32(s, at + fork::totalBlocks);
  for (std::size_t i = 0; i < f.extents.size(); ++i) {
    f.extents[i].startBlock = be32(s, at + fork::extents + 8 * i);
    f.extents[i].blockCount = be32(s, at + fork::extents + 8 * i + 4);
  }
  return f;
}

bool fits(Bytes s, std::size_t offset, std::size_t count) { return offset <= s.size() && count <= s.size() - offset; }

// Where a catalog record's data starts, when its key is whole and its name
// length agrees with its key length.
std::optional<std::size_t> catalogDataOffset(Bytes n, std::size_t offset) {
  if (!fits(n, offset, catalog::name)) return std::nullopt;
  const std::uint16_t keyLength = be16(n, offset + catalog::keyLength);
  const std::uint16_t units = be16(n, offset + catalog::nameLength);
  if (units > catalog::maxNameUnits || keyLength != catalog::keyFixedPart + 2u * units) return std::nullopt;
  const std::size_t data = offset + 2 + keyLength;
  if (!fits(n, data, 2)) return std::nullopt;
  return data;
}

std::string nameFromUtf16be(Bytes n, std::size_t at, std::uint16_t units) {
  // Most names are ASCII, which is already composed.
  std::string ascii(units, '\0');
  bool plain = true;
  for (std::size_t i = 0; i < units && plain; ++i) {
    plain = n[at + 2 * i] == 0 && n[at + 2 * i + 1] != 0 && n[at + 2 * i + 1] < 0x80;
    ascii[i] = static_cast<char>(n[at + 2 * i + 1]);
  }
  if (plain) return ascii;
  std::vector<std::uint8_t> le(2u * units);
  for (std::size_t i = 0; i < units; ++i) {
    le[2 * i] = n[at + 2 * i + 1];
    le[2 * i + 1] = n[at + 2 * i];
  }
  // A zero unit is a character of its own in HFS+ (the private folders).
  std::string out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= units; ++i) {
    if (i < units && (le[2 * i] | le[2 * i + 1]) != 0) continue;
    out += utf16leToUtf8(Bytes(le.data() + 2 * start, 2 * (i - start)), i - start);
    if (i < units) out += '\0';
    start = i + 1;
  }
  return composedNfc(out);
}

}  // namespace

bool validBlockSize(std::uint64_t size) {
  return size >= kMinBlockSize && size <= kMaxBlockSize && isPowerOfTwo(size);
}

bool validNodeSize(std::uint64_t size) { return size >= kMinNodeSize && size <= kMaxNodeSize && isPowerOfTwo(size); }

bool VolumeHeader::valid() const {
  return (hfsPlus || hfsx) && (version == 4 || version == 5) && validBlockSize(blockSize) && totalBlocks > 0;
}

VolumeHeader decodeVolumeHeader(Bytes s) {
  VolumeHeader h;
  h.hfsPlus = hasText(s, field::signature, "H+");
  h.hfsx = hasText(s, field::signature, "HX");
  h.version = be16(s, field::version);
  h.blockSize = be32(s, field::blockSize);
  h.totalBlocks = be32(s, field::totalBlocks);
  h.extentsFile = decodeFork(s, field::extentsFile);
  h.catalogFile = decodeFork(s, field::catalogFile);
  return h;
}

std::optional<std::uint64_t> sniffVolumeHeader(Bytes s) {
  if (s.size() < 512) return std::nullopt;
  const VolumeHeader h = decodeVolumeHeader(s);
  // Versions 4 (HFS+) and 5 (HFSX) fit in the low byte; a set high byte is no header.
  if ((!h.hfsPlus && !h.hfsx) || (h.version >> 8) != 0) return std::nullopt;
  if (h.blockSize < 512 || !isPowerOfTwo(h.blockSize)) return std::nullopt;
  return saturatingProduct(h.blockSize, h.totalBlocks);
}

NodeDescriptor decodeNodeDescriptor(Bytes n) {
  NodeDescriptor d;
  d.forwardLink = be32(n, node::forwardLink);
  d.backwardLink = be32(n, node::backwardLink);
  d.kind = static_cast<std::int8_t>(u8(n, node::kind));
  d.height = u8(n, node::height);
  d.recordCount = be16(n, node::recordCount);
  return d;
}

std::optional<BTreeHeader> decodeHeaderNode(Bytes n) {
  if (n.size() < kMinNodeSize) return std::nullopt;
  const NodeDescriptor d = decodeNodeDescriptor(n);
  if (d.kind != static_cast<std::int8_t>(NodeKind::Header) || d.recordCount == 0) return std::nullopt;
  BTreeHeader h;
  h.depth = be16(n, header::depth);
  h.rootNode = be32(n, header::rootNode);
  h.leafRecords = be32(n, header::leafRecords);
  h.firstLeafNode = be32(n, header::firstLeafNode);
  h.lastLeafNode = be32(n, header::lastLeafNode);
  h.nodeSize = be16(n, header::nodeSize);
  h.maxKeyLength = be16(n, header::maxKeyLength);
  h.totalNodes = be32(n, header::totalNodes);
  if (!validNodeSize(h.nodeSize) || h.totalNodes == 0) return std::nullopt;
  return h;
}

std::vector<std::uint16_t> recordOffsets(Bytes n, std::uint16_t recordCount) {
  std::vector<std::uint16_t> offsets;
  const std::size_t size = n.size();
  // The offset table grows down from the node's end; the records up from
  // the descriptor. Each record needs at least its 2-byte key length.
  if (recordCount == 0 || size < node::descriptorSize || 2u * recordCount > size - node::descriptorSize) return offsets;
  const std::size_t tableStart = size - 2u * recordCount;
  std::size_t previous = 0;
  offsets.reserve(recordCount);
  for (std::size_t i = 0; i < recordCount; ++i) {
    const std::uint16_t offset = be16(n, size - 2 * (i + 1));
    if (offset < node::descriptorSize || offset + 2u > tableStart || (i > 0 && offset <= previous)) return {};
    offsets.push_back(offset);
    previous = offset;
  }
  return offsets;
}

bool plausibleCatalogRecord(Bytes n, std::size_t offset) {
  const std::optional<std::size_t> data = catalogDataOffset(n, offset);
  if (!data) return false;
  switch (be16(n, *data + record::type)) {
    case 1: return fits(n, *data, record::folderSize);
    case 2: return fits(n, *data, record::fileSize);
    case 3:
    case 4: return fits(n, *data, record::threadMinSize);
    default: return false;
  }
}

std::optional<CatalogRecord> decodeCatalogRecord(Bytes n, std::size_t offset) {
  const std::optional<std::size_t> data = catalogDataOffset(n, offset);
  if (!data) return std::nullopt;
  const std::uint16_t type = be16(n, *data + record::type);
  if (type != 1 && type != 2) return std::nullopt;
  if (!fits(n, *data, type == 1 ? record::folderSize : record::fileSize)) return std::nullopt;
  const std::uint16_t units = be16(n, offset + catalog::nameLength);
  if (units == 0) return std::nullopt;
  CatalogRecord r;
  r.type = static_cast<CatalogRecordType>(type);
  r.parentId = be32(n, offset + catalog::parentId);
  r.name = nameFromUtf16be(n, offset + catalog::name, units);
  const std::size_t d = *data;
  r.id = be32(n, d + record::id);
  r.createDate = be32(n, d + record::createDate);
  r.contentModDate = be32(n, d + record::contentModDate);
  r.attributeModDate = be32(n, d + record::attributeModDate);
  r.accessDate = be32(n, d + record::accessDate);
  r.fileMode = be16(n, d + record::fileMode);
  if (type == 2) r.dataFork = decodeFork(n, d + record::dataFork);
  return r;
}

std::optional<ExtentsRecord> decodeExtentsRecord(Bytes n, std::size_t offset) {
  if (!fits(n, offset, extents::recordSize) || be16(n, offset + extents::keyLength) != extents::expectedKeyLength)
    return std::nullopt;
  ExtentsRecord r;
  r.forkType = u8(n, offset + extents::forkType);
  r.fileId = be32(n, offset + extents::fileId);
  r.startBlock = be32(n, offset + extents::startBlock);
  for (std::size_t i = 0; i < r.extents.size(); ++i) {
    r.extents[i].startBlock = be32(n, offset + extents::data + 8 * i);
    r.extents[i].blockCount = be32(n, offset + extents::data + 8 * i + 4);
  }
  return r;
}

std::optional<FileTime> fromHfsDate(std::uint32_t date) {
  if (date == 0) return std::nullopt;
  return FileTime{static_cast<std::int64_t>(date) - kHfsToUnixSeconds, 0};
}

}  // namespace quorvel::hfsfmt
