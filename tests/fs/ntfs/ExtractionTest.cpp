#include <gtest/gtest.h>

#include "fs/ntfs/Lznt1Writer.h"
#include "fs/ntfs/NtfsBuilders.h"
#include "session/Saving.h"

namespace quorvel::test {
namespace {

constexpr std::uint64_t kCluster = 4096;

ByteVector pattern(std::size_t size, unsigned seed) {
  ByteVector b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>((i * 31 + seed * 17 + i / 251) & 0xFF);
  return b;
}

ByteVector concat(std::initializer_list<ByteVector> parts) {
  ByteVector out;
  for (const ByteVector& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

NonResidentSpec dataSpec(const std::vector<RunSpec>& runs, std::uint64_t realSize) {
  return mappedAttribute(runs, kCluster, realSize);
}

ByteVector fileWith(const NonResidentSpec& data, const std::u16string& name = u"file.bin") {
  return RecordBuilder().standardInformation(1, 1, 1).fileName(5, 5, name).nonResidentData(data).build();
}

class NtfsExtraction : public testing::Test {
 protected:
  NtfsExtraction() { volume.addSystemRecords(); }
  // Scans and returns the content of record `number`.
  ByteVector extract(std::uint32_t number, bool* complete = nullptr, std::uint64_t* size = nullptr) {
    scanned = scanImage(volume.image());
    EXPECT_TRUE(scanned->scanned);
    if (size) *size = scanned->parser->size(number);
    return scanned->content(number, complete);
  }
  TestVolume volume;
  std::unique_ptr<ScannedVolume> scanned;
};

TEST_F(NtfsExtraction, ResidentValueIsTheWholeContent) {
  const ByteVector value = pattern(300, 1);
  volume.setRecord(11, RecordBuilder().fileName(5, 5, u"r.bin").residentData(value).build());
  bool complete = false;
  std::uint64_t size = 0;
  EXPECT_EQ(extract(11, &complete, &size), value);
  EXPECT_TRUE(complete);
  EXPECT_EQ(size, 300u);
}

TEST_F(NtfsExtraction, NonResidentContentEndsAtTheRealSize) {
  const ByteVector data = pattern(2 * kCluster, 2);
  volume.writeCluster(40, data);
  volume.setRecord(11, fileWith(dataSpec({{2, 40}}, 5000)));
  bool complete = false;
  EXPECT_EQ(extract(11, &complete), ByteVector(data.begin(), data.begin() + 5000));
  EXPECT_TRUE(complete);
}

TEST_F(NtfsExtraction, SparseRunsAreHolesAndUninitializedBytesZeros) {
  volume.writeCluster(40, pattern(kCluster, 3));
  volume.writeCluster(41, pattern(kCluster, 4));
  NonResidentSpec layout = dataSpec({{1, 40}, {2, -1}, {1, 41}}, 4 * kCluster);
  layout.initializedSize = 3 * kCluster + 100;
  volume.setRecord(11, fileWith(layout));
  bool complete = false;
  const ByteVector content = extract(11, &complete);
  ByteVector last = pattern(kCluster, 4);
  std::fill(last.begin() + 100, last.end(), 0);
  EXPECT_EQ(content, concat({pattern(kCluster, 3), ByteVector(2 * kCluster, 0), last}));
  EXPECT_TRUE(complete);
  CollectingSink sink;
  scanned->parser->readContent(11, sink);
  EXPECT_GE(sink.zeroCalls, 2);  // the hole and the uninitialized tail
}

TEST_F(NtfsExtraction, UnreadableClustersBecomeZerosInPlace) {
  volume.writeCluster(40, pattern(kCluster, 5));
  volume.writeCluster(42, pattern(kCluster, 6));
  // The middle run lies far beyond the volume's end.
  volume.setRecord(11, fileWith(dataSpec({{1, 40}, {1, 5000000}, {1, 42}}, 3 * kCluster)));
  bool complete = true;
  EXPECT_EQ(extract(11, &complete), concat({pattern(kCluster, 5), ByteVector(kCluster, 0), pattern(kCluster, 6)}));
  EXPECT_FALSE(complete);
}

TEST_F(NtfsExtraction, AbsurdSizesAreKeptWithinTheMappedClusters) {
  volume.writeCluster(40, pattern(kCluster, 7));
  NonResidentSpec layout = dataSpec({{1, 40}}, 1ull << 62);
  layout.allocatedSize = 1ull << 62;
  layout.initializedSize = 1ull << 62;
  volume.setRecord(11, fileWith(layout));
  std::uint64_t size = 0;
  EXPECT_EQ(extract(11, nullptr, &size), pattern(kCluster, 7));
  EXPECT_EQ(size, kCluster);
}

TEST_F(NtfsExtraction, OnlyTheUnnamedDataAttributeIsContent) {
  volume.writeCluster(40, pattern(kCluster, 8));
  NonResidentSpec stream = dataSpec({{1, 40}}, 1000);
  stream.name = u"alternate";
  volume.setRecord(11, RecordBuilder().fileName(5, 5, u"both").nonResidentData(stream).residentData({'m', 'a', 'i', 'n'})
                           .build());
  volume.setRecord(12, RecordBuilder().fileName(5, 5, u"stream only").nonResidentData(stream).build());
  EXPECT_EQ(extract(11), (ByteVector{'m', 'a', 'i', 'n'}));
  EXPECT_EQ(scanned->parser->size(11), 4u);
  bool complete = false;
  EXPECT_TRUE(scanned->content(12, &complete).empty());
  EXPECT_TRUE(complete);
  EXPECT_EQ(scanned->parser->size(12), 0u);
}

TEST_F(NtfsExtraction, EmptyFilesAndFoldersGiveNoBytes) {
  NonResidentSpec empty;
  empty.runList = {0};
  empty.lastVcn = ~0ull;  // -1: nothing mapped
  volume.setRecord(11, fileWith(empty, u"empty"));
  volume.setRecord(12, RecordBuilder().folderName(5, 5, u"dir").build());
  bool complete = false;
  EXPECT_TRUE(extract(11, &complete).empty());
  EXPECT_TRUE(complete);
  EXPECT_TRUE(scanned->content(12, &complete).empty());
  EXPECT_TRUE(complete);
}

// One file through every kind of compression unit: LZNT1 data, an all-zero
// unit, a unit stored as is, and a partial last unit.
TEST_F(NtfsExtraction, CompressedUnitsOfEveryKind) {
  const auto filledChunks = [](const std::string& letters) {
    ByteVector out;
    for (const char c : letters) {
      Lznt1Chunk chunk;
      chunk.literals(std::string(1, c)).reference(1, 4095);
      const ByteVector b = chunk.bytes();
      out.insert(out.end(), b.begin(), b.end());
    }
    return out;
  };
  const std::string first = "abcdefghijklmnop";
  volume.writeCluster(40, filledChunks(first));
  const ByteVector stored = pattern(16 * kCluster, 9);
  volume.writeCluster(50, stored);
  volume.writeCluster(45, filledChunks("wxyz"));

  const std::uint64_t unit = 16 * kCluster;
  NonResidentSpec layout = dataSpec({{1, 40}, {31, -1}, {16, 50}, {1, 45}, {3, -1}}, 3 * unit + 10000);
  layout.flags = 0x8001;  // compressed and sparse: still compressed
  layout.compressionUnit = 4;
  volume.setRecord(11, fileWith(layout));

  ByteVector expected;
  for (const char c : first) expected.insert(expected.end(), kCluster, static_cast<std::uint8_t>(c));
  expected.insert(expected.end(), unit, 0);
  expected.insert(expected.end(), stored.begin(), stored.end());
  for (const char c : std::string("wxy")) expected.insert(expected.end(), kCluster, static_cast<std::uint8_t>(c));
  expected.resize(3 * unit + 10000);

  bool complete = false;
  std::uint64_t size = 0;
  const ByteVector content = extract(11, &complete, &size);
  EXPECT_EQ(size, expected.size());
  ASSERT_EQ(content.size(), expected.size());
  EXPECT_TRUE(content == expected);
  EXPECT_TRUE(complete);
}

TEST_F(NtfsExtraction, DamagedCompressedUnitIsCutButLaterUnitsKeepTheirPlace) {
  ByteVector bad = {0x02, 0xB0, 0x01, 0x00, 0x00};  // a reference before any byte
  volume.writeCluster(40, bad);
  volume.writeCluster(41, pattern(16 * kCluster, 10));
  NonResidentSpec layout = dataSpec({{1, 40}, {15, -1}, {16, 41}}, 32 * kCluster);
  layout.flags = 0x0001;
  layout.compressionUnit = 4;
  volume.setRecord(11, fileWith(layout));
  bool complete = true;
  const ByteVector content = extract(11, &complete);
  EXPECT_FALSE(complete);
  EXPECT_EQ(content, concat({ByteVector(16 * kCluster, 0), pattern(16 * kCluster, 10)}));
}

// The data attribute spread over two extension records, listed out of VCN
// order, and the file's size only known from the first extent.
TEST_F(NtfsExtraction, AttributeListExtentsAreJoinedInVcnOrder) {
  volume.writeCluster(40, pattern(2 * kCluster, 11));
  volume.writeCluster(60, pattern(2 * kCluster, 12));
  NonResidentSpec head = dataSpec({{2, 40}}, 4 * kCluster - 100);
  head.allocatedSize = 4 * kCluster;
  NonResidentSpec tail = dataSpec({{2, 60}}, 0);
  tail.firstVcn = 2;
  tail.lastVcn = 3;
  tail.allocatedSize = tail.realSize = tail.initializedSize = 0;
  volume.setRecord(20, RecordBuilder().standardInformation(1, 1, 1)
                           .attributeList({{0x10, 0, 20, u""}, {0x30, 0, 20, u""}, {0x80, 2, 21, u""}, {0x80, 0, 22, u""}})
                           .fileName(5, 5, u"spread.bin").build());
  volume.setRecord(21, RecordBuilder().baseReference(20).nonResidentData(tail).build());
  volume.setRecord(22, RecordBuilder().baseReference(20).nonResidentData(head).build());
  bool complete = false;
  std::uint64_t size = 0;
  const ByteVector content = extract(20, &complete, &size);
  ByteVector expected = concat({pattern(2 * kCluster, 11), pattern(2 * kCluster, 12)});
  expected.resize(4 * kCluster - 100);
  EXPECT_EQ(size, expected.size());
  EXPECT_EQ(content, expected);
  EXPECT_TRUE(complete);
}

TEST_F(NtfsExtraction, NamesAndResidentDataMovedToExtensionRecords) {
  volume.setRecord(20, RecordBuilder().standardInformation(1, 1, 1)
                           .attributeList({{0x10, 0, 20, u""}, {0x30, 0, 21, u""}, {0x80, 0, 21, u""}}).build());
  volume.setRecord(21, RecordBuilder().baseReference(20).fileName(5, 5, u"moved.txt").residentData({'o', 'k'}).build());
  // Only the DOS alias stayed in the base record; the long name moved out.
  volume.setRecord(22, RecordBuilder().fileName(5, 5, u"LONGNA~1.TXT", 2).attributeList({{0x30, 0, 23, u""}}).build());
  volume.setRecord(23, RecordBuilder().baseReference(22).folderName(12, 1, u"long name").build());
  volume.setRecord(12, RecordBuilder().folderName(5, 5, u"dir").build());
  EXPECT_EQ(extract(20), (ByteVector{'o', 'k'}));
  EXPECT_EQ(scanned->find("moved.txt"), 20u);
  EXPECT_EQ(scanned->parser->size(20), 2u);
  EXPECT_EQ(scanned->find("dir/long name"), 22u);
  EXPECT_TRUE(scanned->parser->isFolder(22));
}

TEST_F(NtfsExtraction, StaleExtensionRecordIsNotTaken) {
  volume.writeCluster(40, pattern(kCluster, 13));
  NonResidentSpec head = dataSpec({{1, 40}}, kCluster);
  volume.setRecord(20, RecordBuilder().fileName(5, 5, u"stale.bin").attributeList({{0x80, 0, 21, u""}}).build());
  volume.setRecord(21, RecordBuilder().baseReference(30).nonResidentData(head).build());  // belongs to another file
  bool complete = true;
  EXPECT_TRUE(extract(20, &complete).empty());
  EXPECT_FALSE(complete);
}

TEST_F(NtfsExtraction, SaveFileWritesContentWithHolesAndTimes) {
  volume.writeCluster(40, pattern(kCluster, 14));
  const std::uint64_t modified = windowsTime(2020, 5, 6, 7, 8, 9);
  volume.setRecord(11, RecordBuilder().standardInformation(windowsTime(2019, 1, 2, 3, 4, 5), modified, modified)
                           .fileName(5, 5, u"saved.bin").nonResidentData(dataSpec({{1, 40}, {3, -1}}, 4 * kCluster))
                           .build());
  scanned = scanImage(volume.image());
  TempImage folder;
  const std::filesystem::path target = std::filesystem::path(folder.path()).parent_path() / "saved.bin";
  ASSERT_TRUE(writeEntryFile(*scanned->parser, 11, target));
  EXPECT_EQ(std::filesystem::file_size(target), 4 * kCluster);
  const auto written = std::filesystem::last_write_time(target);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::file_clock::to_sys(written).time_since_epoch()).count();
  EXPECT_EQ(seconds, 1588748889);  // 2020-05-06 07:08:09 UTC
}

}  // namespace
}  // namespace quorvel::test
