#pragma once
// Hand-made HFS+ volumes for the parser's unit tests: a volume header, an
// extents-overflow file and a catalog file of header and leaf nodes, and
// data blocks, each field settable so that one can be spoilt at a time.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/hfsplus/HfsPlusParser.h"
#include "support/TestSupport.h"

namespace quorvel::test {

using ByteVector = std::vector<std::uint8_t>;

struct HfsFileSpec {
  std::uint32_t parent = 2;
  std::u16string name;
  std::uint32_t id = 0;
  std::uint64_t size = 0;
  std::uint32_t totalBlocks = 0;  // 0: the sum of the extents' counts
  std::vector<hfsfmt::Extent> extents;
  std::uint32_t createDate = 0;
  std::uint32_t contentModDate = 0;
  std::uint32_t attributeModDate = 0;
  std::uint32_t accessDate = 0;
  std::uint16_t fileMode = 0;
};

// The bytes of catalog leaf records (key and data).
ByteVector folderRecord(std::uint32_t parent, const std::u16string& name, std::uint32_t id);
ByteVector fileRecord(const HfsFileSpec& file);
ByteVector threadRecord(std::uint32_t id, std::uint32_t parent, const std::u16string& name);

struct OverflowSpec {
  std::uint8_t forkType = 0;
  std::uint32_t fileId = 0;
  std::uint32_t startBlock = 0;
  std::vector<hfsfmt::Extent> extents;
};

// A node's bytes: descriptor, records in order, offset table at the end.
ByteVector leafNode(std::uint16_t nodeSize, const std::vector<ByteVector>& records, std::uint32_t forwardLink = 0,
                    std::int8_t kind = -1, std::uint8_t height = 1);

class HfsVolumeBuilder {
 public:
  HfsVolumeBuilder(std::uint32_t blockSize, std::uint32_t totalBlocks, std::uint16_t nodeSize = 4096);

  std::uint32_t blockSize() const { return blockSize_; }
  std::uint16_t nodeSize() const { return nodeSize_; }

  // Catalog leaf nodes, node numbers 1, 2, ... in this order, chained
  // forward unless `forwardLinks` says otherwise.
  std::vector<std::vector<ByteVector>> leaves;
  std::vector<std::uint32_t> forwardLinks;
  std::vector<OverflowSpec> overflow;
  // Where the catalog file lies; empty: one extent behind the extents file.
  std::vector<hfsfmt::Extent> catalogExtents;
  std::string signature = "H+";
  std::uint16_t version = 4;

  // Block of the first free data block; data placed with addData goes there.
  hfsfmt::Extent addData(const ByteVector& bytes);
  void writeAt(std::uint64_t offset, const ByteVector& bytes);

  // The catalog's and extents file's first blocks in the built volume.
  std::uint32_t catalogStart() const;
  std::uint32_t extentsStart() const { return extentsStart_; }

  ByteVector build() const;

 private:
  std::uint32_t blockSize_;
  std::uint32_t totalBlocks_;
  std::uint16_t nodeSize_;
  std::uint32_t extentsStart_;
  std::uint32_t nextData_;
  ByteVector data_;
};

struct ScannedHfs {
  std::unique_ptr<TempImage> image;
  std::unique_ptr<FileReadSeek> source;
  std::unique_ptr<HfsPlusParser> parser;
  RecordingObserver observer;
  bool scanned = false;

  // The entry at a "a/b" path below the top entries, or kNoEntry.
  EntryId find(const std::string& path) const;
  std::vector<std::string> topNames() const;
  std::vector<std::string> childNames(EntryId id) const;
};

std::unique_ptr<ScannedHfs> scanHfs(const ByteVector& image, RecoveryMode mode = RecoveryMode::Standard);

}  // namespace quorvel::test
