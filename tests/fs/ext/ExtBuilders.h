#pragma once
// Hand-made ext volumes: a superblock, group descriptors of either size,
// bitmaps and inode tables placed after them, inodes with a block map, an
// extent area or inline data, and directory blocks with removed entries in
// their slack. Everything is valid unless a test spoils a field on purpose.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"
#include "support/ContentSinks.h"
#include "support/TestSupport.h"

namespace quorvel::test {

using ByteVector = std::vector<std::uint8_t>;

struct ExtGeometry {
  std::uint32_t blockSize = 1024;
  std::uint64_t blocks = 3000;  // 1 KiB blocks: groups of 1024 from block 1, the last partial
  std::uint32_t blocksPerGroup = 1024;
  std::uint32_t inodesPerGroup = 32;
  std::uint16_t inodeSize = 256;
  bool wideDescriptors = false;  // the 64-bit feature, 64-byte descriptors
  bool fileTypes = true;
};

struct ExtInodeFields {
  std::uint16_t mode = 0x81A4;
  std::uint64_t size = 0;
  std::uint32_t flags = 0;
  std::array<std::uint8_t, 60> blockArea{};
  std::int64_t time = 1700000000;  // access, change and modification
  std::uint32_t timeExtra = 0;     // epoch bits and nanoseconds
  std::uint16_t links = 1;
  ByteVector inlineTail;  // the "system.data" value after the block area
};

// Block areas.
std::array<std::uint8_t, 60> blockMapArea(const std::vector<std::uint32_t>& pointers);
struct ExtentLeafPlan {
  std::uint32_t logical;
  std::uint16_t length;  // above 32768: uninitialised
  std::uint64_t start;
};
// An extent node (header and entries) of `bytes` bytes: leaves at depth 0,
// else index entries (logical, child) at `depth`.
ByteVector extentLeafNode(const std::vector<ExtentLeafPlan>& leaves, std::size_t bytes, std::uint16_t maxEntries = 0);
ByteVector extentIndexNode(const std::vector<std::pair<std::uint32_t, std::uint64_t>>& children, std::uint16_t depth,
                           std::size_t bytes, std::uint16_t maxEntries = 0);
std::array<std::uint8_t, 60> areaFrom(const ByteVector& node);

// Directory blocks: entries in order; the last one's record reaches the end.
struct DirEntryPlan {
  std::uint32_t inode;
  std::string name;
  std::uint8_t type = 1;
  std::vector<DirEntryPlan> removedAfter = {};  // entries hidden in this one's slack
};
ByteVector directoryBlock(const std::vector<DirEntryPlan>& entries, std::uint32_t blockSize, bool fileTypes = true);

class ExtVolumeBuilder {
 public:
  explicit ExtVolumeBuilder(ExtGeometry g = {});

  const ExtGeometry& geometry() const { return g_; }
  std::uint64_t groups() const { return groups_; }
  std::uint64_t inodeTableBlock(std::uint64_t group) const { return tables_[group]; }
  // A block nothing else uses, and the ones after it.
  std::uint64_t allocate(std::uint64_t count = 1);
  void writeBlock(std::uint64_t block, const ByteVector& bytes);
  void writeAt(std::uint64_t offset, const ByteVector& bytes);
  void setBlockInUse(std::uint64_t block, bool inUse);
  // Writes an inode; allocated sets its bitmap bit.
  void setInode(std::uint32_t number, const ExtInodeFields& fields, bool allocated = true);
  // A folder inode whose content is `blocks` directory blocks.
  void setFolder(std::uint32_t number, const std::vector<ByteVector>& blocks, bool allocated = true);
  // A regular file with `content` in fresh contiguous blocks, by block map.
  void setFile(std::uint32_t number, const ByteVector& content, bool allocated = true);

  ByteVector& superblock() { return super_; }
  std::uint64_t descriptorOffset(std::uint64_t group) const;

  std::unique_ptr<TempImage> materialize() const;

 private:
  ExtGeometry g_;
  std::uint64_t groups_;
  std::uint32_t descriptorSize_;
  std::uint64_t next_;
  std::vector<std::uint64_t> tables_;
  std::vector<std::uint64_t> inodeBitmaps_;
  std::vector<std::uint64_t> blockBitmaps_;
  ByteVector super_;
  std::vector<ByteVector> descriptors_;
  std::vector<std::pair<std::uint64_t, ByteVector>> writes_;
  std::vector<ByteVector> inodeBitmapBytes_;
  std::vector<ByteVector> blockBitmapBytes_;
  std::vector<std::pair<std::uint64_t, ByteVector>> inodes_;
};

// A scanned volume: the image on disk, the source and the parser.
struct ScannedExt {
  std::unique_ptr<TempImage> image;
  std::unique_ptr<FileReadSeek> source;
  std::unique_ptr<FileSystemParser> parser;
  RecordingObserver observer;
  bool scanned = false;

  // The live entry at an "a/b" path below the top entries, else the last
  // of that name; kNoEntry when there is none.
  EntryId find(const std::string& path) const;
  ByteVector content(EntryId id, bool* complete = nullptr) const;
  std::vector<std::string> childNames(EntryId id) const;
  std::vector<std::string> topNames() const;
};

std::unique_ptr<ScannedExt> scanExt(const ExtVolumeBuilder& volume);
std::unique_ptr<ScannedExt> scanExt(std::unique_ptr<TempImage> image);

ByteVector extPattern(std::size_t length, std::uint8_t seed);

}  // namespace quorvel::test
