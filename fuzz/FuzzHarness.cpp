#include "fuzz/FuzzHarness.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "fs/CatalogueWalk.h"
#include "fs/ext/FastCommitLog.h"
#include "fs/ext/JournalIndex.h"
#include "fs/ntfs/Lznt1.h"
#include "io/FileReadSeek.h"
#include "io/JobContext.h"
#include "io/VolumeView.h"
#include "raw/SettingsFile.h"
#include "raw/SignatureTable.h"
#include "raw/CarvingEngine.h"
#include "volumes/VolumeList.h"
#include "volumes/VolumeRecord.h"

namespace quorvel::fuzz {

namespace {

// Content beyond this much per input says nothing new and only slows the run.
constexpr std::uint64_t kContentBudget = 64ull << 20;
constexpr std::uint64_t kEntryBudget = 200000;

class BoundedSink : public ContentSink {
 public:
  explicit BoundedSink(std::uint64_t& budget) : budget_(budget) {}
  bool write(Bytes data) override { return take(data.size()); }
  bool zeros(std::uint64_t count) override { return take(count); }

 private:
  bool take(std::uint64_t count) {
    if (count > budget_) {
      budget_ = 0;
      return false;
    }
    budget_ -= count;
    return true;
  }
  std::uint64_t& budget_;
};

}  // namespace

void exerciseFileSystem(FileSystemId kind, const std::string& imagePath) {
  FileReadSeek source;
  if (!source.open(imagePath)) return;
  std::unique_ptr<FileSystemParser> parser = fileSystemKind(kind).create();
  if (!parser) return;
  JobContext job;
  ScanRequest request;
  request.volume = {0, source.sourceLength()};
  if (!parser->scan(source, request, job)) return;
  std::uint64_t budget = kContentBudget;
  std::uint64_t entries = 0;
  walkCatalogue(*parser, std::nullopt, [&](const CatalogueItem& item) {
    parser->formatRow(item.id);
    parser->formatSize(item.id);
    parser->times(item.id);
    parser->isDeleted(item.id);
    if (!item.folder && budget > 0) {
      BoundedSink sink(budget);
      parser->readContent(item.id, sink);
    }
    return ++entries < kEntryBudget;
  });
}

void exercisePartitions(const std::string& imagePath) {
  FileReadSeek source;
  if (!source.open(imagePath)) return;
  JobContext job;
  for (const bool gpt : {false, true}) {
    VolumeList listing(job);
    listing.readGpt = gpt;
    listVolumes(source, listing);
    numberVolumes(listing.volumes);
  }
  VolumeRecord record;
  probeVolumeImage(source, record);
  VolumeList scan(job);
  scanForVolumes(source, scan);
}

void exerciseLznt1(Bytes input) {
  std::vector<std::uint8_t> out(16 * ntfsfmt::kLznt1ChunkSize);
  ntfsfmt::lznt1Decompress(input, out);
}

void exerciseExtJournal(Bytes input) {
  namespace ej = extfmt::journal;
  std::uint32_t blockSize = be32(input, 0x0C);
  if (blockSize < 1024 || blockSize > 65536 || (blockSize & (blockSize - 1)) != 0) blockSize = 1024;
  const auto read = [input, blockSize](std::uint32_t index, std::span<std::uint8_t> out) {
    const std::uint64_t at = std::uint64_t{index} * blockSize;
    if (at + blockSize > input.size() || out.size() != blockSize) return false;
    std::copy_n(input.data() + at, blockSize, out.data());
    return true;
  };
  const auto blocks = static_cast<std::uint32_t>(input.size() / blockSize);
  const ej::JournalIndex index(read, blocks, blockSize, nullptr, (input.size() & 1) != 0);
  std::vector<std::uint8_t> block(blockSize);
  for (const ej::JournalCopy& c : index.copies()) {
    index.read(c, block);
    index.commitOf(c.sequence);
    index.copiesOf(c.fileSystemBlock);
  }
  // The fast-commit area the superblock names, and every block read as one.
  const auto visit = [](const ej::FastCommitLog& log) {
    for (const ej::FastCommitInode& n : log.inodes()) static_cast<void>(n.raw.size());
    for (std::size_t i = 1; i < log.names().size(); ++i)
      ej::FastCommitLog::later(log.names()[i].place, log.names()[i - 1].place);
  };
  visit(ej::FastCommitLog::ofJournal(read, index.superblock(), 256));
  visit(ej::FastCommitLog(read, 0, blocks, blockSize, be16(input, 0x58)));
}

void exerciseSettingsFile(const std::string& path) {
  raw::readSettingsFile(path, raw::SettingsOrigin::Default);
  raw::CarvingEngine engine;
  std::string message;
  if (!engine.loadFile(path, raw::SettingsOrigin::Chosen, message)) return;
  engine.categories();
  FileReadSeek source;
  if (!source.open(path)) return;
  JobContext job;
  engine.carve(VolumeView(source, {}), job);
}

void exerciseCarving(const std::string& imagePath) {
  // The program's own table, read once: its structure-aware ends are what
  // hostile content walks.
  static const raw::CarvingEngine loaded = [] {
    std::ifstream in(QUORVEL_SIGNATURE_TABLE, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    raw::CarvingEngine engine;
    engine.load(raw::parseSignatureTable(text).records, true);
    return engine;
  }();
  FileReadSeek source;
  if (!source.open(imagePath)) return;
  raw::CarvingEngine engine = loaded;
  JobContext job;
  engine.carve(VolumeView(source, {}), job);
}

std::optional<FileSystemId> fileSystemTarget(std::string_view target) {
  for (const FileSystemKind& row : fileSystemKinds())
    if (row.create && row.fuzzTarget == target) return row.id;
  return std::nullopt;
}

bool exerciseTarget(std::string_view target, const std::string& path) {
  if (const auto kind = fileSystemTarget(target)) {
    exerciseFileSystem(*kind, path);
    return true;
  }
  if (target == "partitions") {
    exercisePartitions(path);
    return true;
  }
  if (target == "settings") {
    exerciseSettingsFile(path);
    return true;
  }
  if (target == "carve") {
    exerciseCarving(path);
    return true;
  }
  if (target == "lznt1" || target == "ext-journal") {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (target == "lznt1")
      exerciseLznt1(Bytes(bytes.data(), bytes.size()));
    else
      exerciseExtJournal(Bytes(bytes.data(), bytes.size()));
    return true;
  }
  return false;
}

}  // namespace quorvel::fuzz
