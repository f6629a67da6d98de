#pragma once
// The HFS+ and HFSX parser: the catalog B-tree's leaf records (or, in Deep
// mode, those of every catalog leaf node found on the volume) become the
// catalogue; files are read through their data fork's extents.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/hfsplus/HfsFork.h"
#include "fs/hfsplus/HfsVolumeHeader.h"

namespace quorvel {

// One collected catalog leaf node. Standard mode: the node's byte offset in
// the catalog file; Deep mode: its byte offset in the volume.
struct HfsNode {
  std::uint64_t position = 0;
  // Deep mode: whether the node lies in the catalog file as the volume
  // header places it. Its records win over copies found elsewhere (the
  // journal, freed space), which may be older.
  bool inCatalogFile = true;
};

// Where a catalogue entry's record lies, to read its forks back.
struct HfsRecordRef {
  std::uint32_t cnid = 0;
  std::uint32_t parentCnid = 0;
  std::uint32_t nodeIndex = 0;      // into the parser's node list
  std::uint16_t recordOffset = 0;   // within its node
  std::uint16_t fileMode = 0;
};

class HfsPlusParser : public FileSystemParser {
 public:
  static constexpr const char* kOrphanFolderName = "ORPHAN_ENTRY";

  bool scan(const FileReadSeek& source, const ScanRequest& request, JobContext& job) override;

  RowTexts formatRow(EntryId id) const override;
  bool readContent(EntryId id, ContentSink& sink) const override;

  // ---- the scan steps, in the order the jobs run them
  void attachSource(const FileReadSeek& source, const VolumeExtent& volume);
  // Reads and checks the volume header; false when it is none.
  bool readVolumeHeader();
  // The data-fork records of the extents-overflow file. False when the file
  // cannot be read as a B-tree (Deep mode goes on without it).
  bool buildExtentsIndex(JobContext& job);
  // Standard mode: the catalog's leaf nodes, read through all its extents.
  bool collectNodes(JobContext& job);
  // Deep mode: catalog leaf nodes anywhere on the volume, and the
  // extents-overflow file's leaves when its own B-tree cannot be read.
  bool scanForLeafNodes(JobContext& job);
  // Every folder and file record of the collected nodes.
  void parseCatalog(JobContext& job);
  // Entries under their parent folders; those whose parent is lost under "ORPHAN_ENTRY".
  void linkParentChild(JobContext& job);

  // ---- what the steps found
  const hfsfmt::VolumeHeader& volumeHeader() const { return header_; }
  std::uint32_t catalogNodeSize() const { return catalogNodeSize_; }
  const std::vector<HfsNode>& catalogNodes() const { return nodes_; }
  const hfsfmt::ExtentsOverflow& extentsOverflow() const { return overflow_; }
  // The entry of a CNID, or kNoEntry.
  EntryId entryOf(std::uint32_t cnid) const;

 private:
  bool runJob(const FileReadSeek& source, const ScanRequest& request, JobContext& job);
  void reset();
  bool valid(EntryId id) const { return id < records_.size(); }
  std::uint64_t blockSize() const { return header_.blockSize; }
  // Reads collected node `index` into `node` (catalog node size).
  bool readNode(std::uint32_t index, std::vector<std::uint8_t>& node) const;
  // Reads a B-tree's header node through the fork's first extent: its header record.
  std::optional<hfsfmt::BTreeHeader> readHeaderNode(const hfsfmt::ForkReader& file) const;
  std::optional<hfsfmt::ForkData> dataForkOf(EntryId id) const;
  // The node size of the catalog's leaf nodes, told by the first one that
  // holds together at some node size.
  std::uint32_t guessNodeSize(JobContext& job) const;
  void addRecordsOf(std::uint32_t nodeIndex, Bytes node);

  VolumeView view_;
  hfsfmt::VolumeHeader header_;
  hfsfmt::ForkReader catalogFile_;
  std::uint32_t catalogNodeSize_ = 0;
  bool deep_ = false;
  bool extentsIndexed_ = false;  // the extents-overflow file was read as a B-tree
  std::vector<HfsNode> nodes_;
  hfsfmt::ExtentsOverflow overflow_;
  std::vector<HfsRecordRef> records_;  // by entry id, in the order read
  std::vector<EntryId> byCnid_;        // the entries shown, by CNID
};

std::unique_ptr<FileSystemParser> makeHfsPlusParser();

}  // namespace quorvel
