#pragma once
// HFS+ and HFSX on disk (all numbers big-endian): the volume header 1024
// bytes into the volume, the B-tree nodes of the catalog and extents-overflow
// files, and the catalog and extents records inside them. Every decode
// checks what it reads against the bytes it was given; nothing is trusted.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"
#include "io/Endian.h"

namespace quorvel::hfsfmt {

inline constexpr std::uint64_t kVolumeHeaderOffset = 1024;
inline constexpr std::size_t kVolumeHeaderSize = 512;

// Catalog node identifiers with a meaning of their own.
inline constexpr std::uint32_t kRootParentId = 1;
inline constexpr std::uint32_t kRootFolderId = 2;
inline constexpr std::uint32_t kExtentsFileId = 3;
inline constexpr std::uint32_t kCatalogFileId = 4;

// Block sizes a volume may have, and node sizes a B-tree may have.
inline constexpr std::uint32_t kMinBlockSize = 512;
inline constexpr std::uint32_t kMaxBlockSize = 65536;
inline constexpr std::uint32_t kMinNodeSize = 512;
inline constexpr std::uint32_t kMaxNodeSize = 32768;

struct Extent {
  std::uint32_t startBlock = 0;
  std::uint32_t blockCount = 0;
  bool operator==(const Extent&) const = default;
};
using ExtentRecord = std::array<Extent, 8>;

struct ForkData {
  std::uint64_t logicalSize = 0;
  std::uint32_t totalBlocks = 0;
  ExtentRecord extents{};
};

struct VolumeHeader {
  bool hfsPlus = false;  // "H+" and version 4
  bool hfsx = false;     // "HX" and version 5: case-sensitive names, read alike
  std::uint16_t version = 0;
  std::uint32_t blockSize = 0;
  std::uint32_t totalBlocks = 0;
  ForkData extentsFile;
  ForkData catalogFile;

  // The signature and its version agree, and the block size is one a volume may have.
  bool valid() const;
};

VolumeHeader decodeVolumeHeader(Bytes bytes);

// Whether the bytes are a volume header with a usable block size: the size
// its volume claims, else nothing.
std::optional<std::uint64_t> sniffVolumeHeader(Bytes bytes);

bool validBlockSize(std::uint64_t size);
bool validNodeSize(std::uint64_t size);

// ---- B-tree nodes

enum class NodeKind : std::int8_t { Leaf = -1, Index = 0, Header = 1, Map = 2 };

struct NodeDescriptor {
  std::uint32_t forwardLink = 0;
  std::uint32_t backwardLink = 0;
  std::int8_t kind = 0;
  std::uint8_t height = 0;
  std::uint16_t recordCount = 0;
};

NodeDescriptor decodeNodeDescriptor(Bytes node);

// The header record of a B-tree's node 0.
struct BTreeHeader {
  std::uint16_t depth = 0;
  std::uint32_t rootNode = 0;
  std::uint32_t leafRecords = 0;
  std::uint32_t firstLeafNode = 0;
  std::uint32_t lastLeafNode = 0;
  std::uint16_t nodeSize = 0;
  std::uint16_t maxKeyLength = 0;
  std::uint32_t totalNodes = 0;
};

// Node 0 of a B-tree: a header node with a node size a tree may have.
std::optional<BTreeHeader> decodeHeaderNode(Bytes node);

// The record offsets of a node (node.size() is the node size), in record
// order: none unless every offset lies after the descriptor, before the
// offset table, and each above the one before. A node that fails is skipped
// whole, since its records cannot be told apart.
std::vector<std::uint16_t> recordOffsets(Bytes node, std::uint16_t recordCount);

// ---- catalog records

enum class CatalogRecordType : std::uint16_t { Folder = 1, File = 2, FolderThread = 3, FileThread = 4 };

struct CatalogRecord {
  CatalogRecordType type = CatalogRecordType::Folder;
  std::uint32_t parentId = 0;  // from the key
  std::string name;            // UTF-8, composed (NFC)
  std::uint32_t id = 0;        // folder ID or file ID
  std::uint32_t createDate = 0;
  std::uint32_t contentModDate = 0;
  std::uint32_t attributeModDate = 0;
  std::uint32_t accessDate = 0;
  std::uint16_t fileMode = 0;
  ForkData dataFork;  // files only
};

// The folder or file record at `offset` in a leaf node; nothing for thread
// records and for anything that does not fit or is implausible (a key
// length that does not match its name, a name of 0 or over 255 units).
std::optional<CatalogRecord> decodeCatalogRecord(Bytes node, std::size_t offset);

// Whether the record at `offset` looks like a catalog record of any type:
// the deep scan's test of the first record of a would-be leaf node.
bool plausibleCatalogRecord(Bytes node, std::size_t offset);

// ---- extents-overflow records

inline constexpr std::uint8_t kDataFork = 0x00;
inline constexpr std::uint8_t kResourceFork = 0xFF;

struct ExtentsRecord {
  std::uint8_t forkType = 0;
  std::uint32_t fileId = 0;
  std::uint32_t startBlock = 0;  // the file block the record's extents begin at
  ExtentRecord extents{};
};

std::optional<ExtentsRecord> decodeExtentsRecord(Bytes node, std::size_t offset);

// ---- times

// Seconds since 1904-01-01 00:00:00 UTC; 0 is "never".
std::optional<FileTime> fromHfsDate(std::uint32_t date);

}  // namespace quorvel::hfsfmt
