#include <gtest/gtest.h>

#include <algorithm>

#include "fs/ntfs/DeepScan.h"
#include "fs/ntfs/NtfsBuilders.h"

namespace quorvel::test {
namespace {

using Names = std::vector<std::string>;

bool contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

ByteVector textFile(std::uint64_t parent, std::uint16_t parentSequence, const std::u16string& name, std::uint32_t size = 1024) {
  return RecordBuilder(size).standardInformation(1, 1, 1).fileName(parent, parentSequence, name).residentData({'t'}).build();
}

ByteVector folderRecord(std::uint64_t parent, std::uint16_t parentSequence, const std::u16string& name, std::uint32_t size = 1024) {
  return RecordBuilder(size).standardInformation(1, 1, 1).folderName(parent, parentSequence, name).build();
}

// The MFT's own record with the given runs and record count.
ByteVector mftRecordWith(const std::vector<RunSpec>& runs, std::uint64_t clusterSize, std::uint32_t records,
                         std::uint32_t recordSize = 1024) {
  const NonResidentSpec data = mappedAttribute(runs, clusterSize, std::uint64_t{records} * recordSize);
  return RecordBuilder(recordSize).fileName(5, 5, u"$MFT").nonResidentData(data).build();
}

// Writes record `number` where `runs` put it, cluster piece by piece.
void placeRecord(TestVolume& volume, const std::vector<RunSpec>& runs, std::uint32_t number, const ByteVector& bytes) {
  const ByteVector record = withOwnNumber(bytes, number);
  const std::uint64_t cs = volume.clusterSize();
  for (std::size_t done = 0; done < record.size();) {
    const std::uint64_t at = std::uint64_t{number} * record.size() + done;
    std::uint64_t vcn = 0;
    for (const RunSpec& r : runs) {
      if (at / cs < vcn + r.length) {
        const std::uint64_t inCluster = at % cs;
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(cs - inCluster, record.size() - done));
        if (r.lcn >= 0)
          volume.writeBytes((static_cast<std::uint64_t>(r.lcn) + at / cs - vcn) * cs + inCluster,
                            ByteVector(record.begin() + static_cast<std::ptrdiff_t>(done),
                                       record.begin() + static_cast<std::ptrdiff_t>(done + piece)));
        done += piece;
        break;
      }
      vcn += r.length;
    }
  }
}

TEST(NtfsStandardScan, RecordAndClusterSizesFromTheBootSector) {
  struct Case {
    std::uint64_t clusterSize;
    std::uint32_t recordSize;
  };
  for (const Case c : {Case{4096, 1024}, Case{4096, 4096}, Case{512, 1024}, Case{1024, 1024}, Case{8192, 2048}}) {
    SCOPED_TRACE(std::to_string(c.clusterSize) + "/" + std::to_string(c.recordSize));
    TestVolume volume(c.clusterSize, c.recordSize, 1024 * 1024 / c.clusterSize, 4, 32);
    volume.addSystemRecords();
    volume.setRecord(20, folderRecord(5, 5, u"dir", c.recordSize));
    volume.setRecord(21, textFile(20, 1, u"inner.txt", c.recordSize));
    const auto v = scanImage(volume.image());
    ASSERT_TRUE(v->scanned);
    EXPECT_EQ(v->parser->recordSize(), c.recordSize);
    EXPECT_EQ(v->parser->clusterSize(), c.clusterSize);
    EXPECT_EQ(v->find("dir/inner.txt"), 21u);
    EXPECT_EQ(v->content(21), ByteVector{'t'});
  }
}

TEST(NtfsStandardScan, StatusTextsOfTheStandardJob) {
  TestVolume volume;
  volume.addSystemRecords();
  const auto v = scanImage(volume.image());
  const std::vector<std::string>& s = v->observer.statuses;
  ASSERT_GE(s.size(), 5u);
  EXPECT_EQ(s[0], " ParsingBasedOnMFT is going on....");
  EXPECT_EQ(s[1], "boot sector is fine.Getting run of mft entry...");
  EXPECT_EQ(s[2], "Got run...");
  EXPECT_EQ(s[3], "parsing 4 cluster of MFT run.");
  EXPECT_EQ(s[4], "parsing MFT entry 0...");
  EXPECT_TRUE(v->observer.messages.empty());
}

// Unreadable parts of the MFT must not shift later records: an entry's id
// is its record number, which parent references rely on.
TEST(NtfsStandardScan, UnreadableMftClustersKeepRecordNumbers) {
  TestVolume volume(4096, 1024, 256, 4, 36);
  const std::vector<RunSpec> runs = {{4, 4}, {1, 9000000}, {4, 40}};
  volume.addSystemRecords();
  volume.setRecord(0, mftRecordWith(runs, 4096, 36));
  placeRecord(volume, runs, 21, folderRecord(5, 5, u"dir"));
  placeRecord(volume, runs, 22, textFile(21, 1, u"file.txt"));
  const auto v = scanImage(volume.image());
  EXPECT_EQ(v->find("dir"), 21u);
  EXPECT_EQ(v->find("dir/file.txt"), 22u);
}

TEST(NtfsStandardScan, RecordSplitAcrossTwoRunsIsReadWhole) {
  TestVolume volume(512, 1024, 1024, 4, 32);
  // Record 16 starts in the last cluster of one run and ends in the next.
  const std::vector<RunSpec> runs = {{33, 4}, {1, 100}, {30, 300}};
  volume.addSystemRecords();
  volume.setRecord(0, mftRecordWith(runs, 512, 32));
  placeRecord(volume, runs, 16, folderRecord(5, 5, u"split"));
  placeRecord(volume, runs, 17, textFile(16, 1, u"after.txt"));
  const auto v = scanImage(volume.image());
  EXPECT_EQ(v->find("split"), 16u);
  EXPECT_EQ(v->find("split/after.txt"), 17u);
}

TEST(NtfsStandardScan, MftRunsContinueInItsExtensionRecord) {
  TestVolume volume(4096, 1024, 256, 4, 32);
  volume.addSystemRecords();
  // Records 0..15 at cluster 4, records 16..31 at cluster 60; the second
  // extent is described by record 15.
  NonResidentSpec first;
  first.runList = encodeRuns({{4, 4}});
  first.lastVcn = 3;
  first.allocatedSize = 8 * 4096;
  first.realSize = first.initializedSize = 32 * 1024;
  NonResidentSpec second;
  second.runList = encodeRuns({{4, 60}});
  second.firstVcn = 4;
  second.lastVcn = 7;
  volume.setRecord(0, RecordBuilder().fileName(5, 5, u"$MFT")
                          .attributeList({{0x30, 0, 0, u""}, {0x80, 0, 0, u""}, {0x80, 4, 15, u""}}).nonResidentData(first)
                          .build());
  volume.setRecord(15, RecordBuilder().baseReference(1ull << 48).nonResidentData(second).build());  // record 0, sequence 1
  volume.writeBytes(60 * 4096 + 4 * 1024, folderRecord(5, 5, u"far away"));
  volume.writeBytes(60 * 4096 + 5 * 1024, textFile(20, 1, u"far.txt"));
  const auto v = scanImage(volume.image());
  EXPECT_EQ(v->find("far away/far.txt"), 21u);
}

TEST(NtfsStandardScan, DamagedBootSectorIsReplacedByASearchForTheMft) {
  TestVolume volume(1024, 1024, 1024, 16, 32);
  volume.addSystemRecords();
  // A copy of $MFTMirr's record lies before the MFT: its runs are not the MFT's.
  volume.writeBytes(4 * 1024, RecordBuilder().fileName(5, 5, u"$MFTMirr").nonResidentData([] {
    NonResidentSpec s;
    s.runList = encodeRuns({{4, 800}});
    s.lastVcn = 3;
    s.allocatedSize = 4096;
    s.realSize = s.initializedSize = 4096;
    return s;
  }()).build());
  volume.setRecord(20, folderRecord(5, 5, u"dir"));
  volume.writeCluster(900, ByteVector(1500, 'q'));
  NonResidentSpec data;
  data.runList = encodeRuns({{2, 900}});
  data.lastVcn = 1;
  data.allocatedSize = 2048;
  data.realSize = data.initializedSize = 1500;
  volume.setRecord(21, RecordBuilder().fileName(20, 1, u"data.bin").nonResidentData(data).build());
  std::fill(volume.bootSector().begin(), volume.bootSector().end(), 0);

  const auto v = scanImage(volume.image());
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->parser->clusterSize(), 1024u);  // from the MFT's own allocation
  const EntryId file = v->find("dir/data.bin");
  ASSERT_EQ(file, 21u);
  EXPECT_EQ(v->content(file), ByteVector(1500, 'q'));
  const auto& s = v->observer.statuses;
  EXPECT_TRUE(contains(s, "boot sector corrupt.Scanning for first mft entry..."));
  EXPECT_TRUE(contains(s, "found mft entry.getting its run ..."));
  EXPECT_TRUE(contains(s, "got run ..."));
}

TEST(NtfsStandardScan, NoMftFoundLeavesTheFoundRecordsUnderTheOrphanFolder) {
  TestVolume volume;
  volume.writeBytes(8192, folderRecord(5, 5, u"found dir"));
  volume.writeBytes(9216, textFile(99, 1, u"found.txt"));
  std::fill(volume.bootSector().begin(), volume.bootSector().end(), 0);
  const auto v = scanImage(volume.image());
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), Names{"ORPHAN_ENTRY"});
  EXPECT_NE(v->find("ORPHAN_ENTRY/found dir/found.txt"), kNoEntry);
  EXPECT_EQ(v->content(v->find("ORPHAN_ENTRY/found dir/found.txt")), ByteVector{'t'});
}

TEST(NtfsStandardScan, VolumeSizeFromTheBootSectorOrTheSizeText) {
  struct Case {
    const char* name;
    bool ntfs;
    std::uint16_t sectorSize;
    std::uint64_t totalSectors;
    std::string sizeText;
    std::uint64_t expected;
  };
  const Case cases[] = {{"512-byte sectors", true, 512, 2048, "9   MB", 2048 * 512},
                        {"4096-byte sectors", true, 4096, 256, "9   MB", 256 * 4096},
                        {"no total", true, 512, 0, "3   MB", 3 << 20},
                        {"not NTFS", false, 512, 2048, "500   MB", 524288000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestVolume volume;
    volume.addSystemRecords();
    if (!c.ntfs) volume.bootSector()[3] = 'X';
    putLe16(volume.bootSector(), 0x0B, c.sectorSize);
    volume.bootSector()[0x0D] = static_cast<std::uint8_t>(4096 / c.sectorSize);
    putLe64(volume.bootSector(), 0x28, c.totalSectors);
    const auto v = scanImage(volume.image(), RecoveryMode::Standard, c.sizeText);
    EXPECT_EQ(v->parser->volumeSize(), c.expected);
  }
}

TEST(NtfsStandardScan, UnknownSizeFailsWithAMessage) {
  TestVolume volume;
  std::fill(volume.bootSector().begin(), volume.bootSector().end(), 0);
  for (const RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
    const auto v = scanImage(volume.image(), mode, "0   MB");
    EXPECT_FALSE(v->scanned);
    ASSERT_EQ(v->observer.messages.size(), 1u);
    EXPECT_NE(v->observer.messages[0].find("size"), std::string::npos);
  }
}

TEST(NtfsStandardScan, TruncatedImageListsWhatItHolds) {
  TestVolume volume(4096, 1024, 256, 4, 32);
  volume.addSystemRecords();
  volume.setRecord(10, textFile(5, 5, u"early.txt"));
  volume.setRecord(30, textFile(5, 5, u"late.txt"));
  ByteVector image = volume.image();
  image.resize(volume.recordPosition(20) + 300);  // ends inside record 20
  const auto v = scanImage(image);
  ASSERT_TRUE(v->scanned);
  EXPECT_NE(v->find("early.txt"), kNoEntry);
  EXPECT_EQ(v->find("late.txt"), kNoEntry);
}

// Stop ends the MFT read early; the catalogue is still built on what was read.
TEST(NtfsStandardScan, StopKeepsWhatWasRead) {
  TestVolume volume;
  volume.addSystemRecords();
  const ByteVector image = volume.image();
  TempImage file(image);
  FileReadSeek source;
  ASSERT_TRUE(source.open(file.path()));
  struct StopOnEntries : RecordingObserver {
    JobContext* job = nullptr;
    void statusChanged(const std::string& text) override {
      RecordingObserver::statusChanged(text);
      if (text.rfind("parsing MFT entry", 0) == 0) job->requestStop();
    }
  } observer;
  JobContext job(&observer);
  observer.job = &job;
  NtfsParser parser;
  ScanRequest request{VolumeExtent{0, 1 << 20}, RecoveryMode::Standard, {}};
  EXPECT_TRUE(parser.scan(source, request, job));
  // Nothing read: no root, and an empty orphan folder is not shown.
  EXPECT_TRUE(parser.topEntries().empty());
}

// ---- deep mode

TEST(NtfsDeepScan, FilesGoIntoTheFolderFoundBeforeThem) {
  TestVolume volume;
  volume.writeBytes(40 * 4096, textFile(70, 1, u"before any folder.txt"));
  volume.writeBytes(41 * 4096, folderRecord(5, 5, u"first"));
  volume.writeBytes(41 * 4096 + 1024, textFile(99, 1, u"a.txt"));
  volume.writeBytes(41 * 4096 + 2048, textFile(99, 1, u"b.txt"));
  volume.writeBytes(60 * 4096 + 512, folderRecord(5, 5, u"second"));  // not cluster-aligned
  volume.writeBytes(60 * 4096 + 1536, textFile(99, 1, u"c.txt"));
  volume.writeBytes(61 * 4096, RecordBuilder().fileName(5, 5, u"no times.txt").build());
  volume.writeBytes(62 * 4096, RecordBuilder().standardInformation(1, 1, 1).build());  // no name: dropped
  const auto v = scanImage(volume.image(), RecoveryMode::Deep);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), Names{"ORPHAN_ENTRY"});
  // In the order they lie on disk.
  EXPECT_EQ(v->childNames(v->find("ORPHAN_ENTRY")), (Names{"before any folder.txt", "first", "second"}));
  EXPECT_EQ(v->childNames(v->find("ORPHAN_ENTRY/first")), (Names{"a.txt", "b.txt"}));
  EXPECT_EQ(v->childNames(v->find("ORPHAN_ENTRY/second")), (Names{"c.txt", "no times.txt"}));
  EXPECT_EQ(v->content(v->find("ORPHAN_ENTRY/second/c.txt")), ByteVector{'t'});
  EXPECT_EQ(v->observer.statuses.front(), " scanning for mft entries in deep mode ....");
  EXPECT_TRUE(contains(v->observer.statuses, "MFT ENTRY 7 Found.Parsing it .."));
}

// A file whose name and data moved to extension records: found on disk,
// those lie next to the base record in its MFT and name it as their base.
TEST(NtfsDeepScan, ExtensionRecordsAreFoundNextToTheirBase) {
  TestVolume volume;
  volume.addSystemRecords();
  volume.writeCluster(40, ByteVector(6000, 'e'));
  NonResidentSpec data;
  data.runList = encodeRuns({{2, 40}});
  data.lastVcn = 1;
  data.allocatedSize = 2 * 4096;
  data.realSize = data.initializedSize = 6000;
  volume.setRecord(20, RecordBuilder().standardInformation(1, 1, 1)
                           .attributeList({{0x10, 0, 20, u""}, {0x30, 0, 22, u""}, {0x80, 0, 21, u""}}).build());
  volume.setRecord(21, RecordBuilder().baseReference(20 | (1ull << 48)).nonResidentData(data).build());
  volume.setRecord(22, RecordBuilder().baseReference(20 | (1ull << 48)).fileName(5, 5, u"moved out.bin").build());
  std::fill(volume.bootSector().begin(), volume.bootSector().end(), 0);
  const auto v = scanImage(volume.image(), RecoveryMode::Deep);
  ASSERT_TRUE(v->scanned);
  const EntryId id = v->find("ORPHAN_ENTRY/moved out.bin");
  ASSERT_NE(id, kNoEntry);
  EXPECT_EQ(v->parser->size(id), 6000u);
  EXPECT_EQ(v->content(id), ByteVector(6000, 'e'));
}

// Without a boot sector the cluster size comes from the MFT's own record:
// a file found before it gets its size in that cluster size too, the one
// its content is read in.
TEST(NtfsDeepScan, FilesFoundBeforeTheMftGetSizesInItsClusterSize) {
  TestVolume volume(8192, 1024, 128, 4, 32);
  volume.addSystemRecords();
  volume.writeBytes(40 * 8192, ByteVector(12000, 'x'));
  const NonResidentSpec data = mappedAttribute({{2, 40}}, 8192, 12000);
  volume.writeBytes(8192, RecordBuilder().standardInformation(1, 1, 1).fileName(5, 5, u"early.bin")
                              .nonResidentData(data).build());
  std::fill(volume.bootSector().begin(), volume.bootSector().end(), 0);
  const auto v = scanImage(volume.image(), RecoveryMode::Deep);
  ASSERT_TRUE(v->scanned);
  ASSERT_EQ(v->parser->clusterSize(), 8192u);
  const EntryId id = v->find("ORPHAN_ENTRY/early.bin");
  ASSERT_NE(id, kNoEntry);
  EXPECT_EQ(v->parser->size(id), 12000u);
  EXPECT_EQ(v->content(id), ByteVector(12000, 'x'));
}

// A record cut by the end of the image keeps the strides before the cut:
// the scan lists the file from them, and its content is read from them too.
TEST(NtfsDeepScan, RecordCutByTheVolumeEndReadsWhatItLists) {
  TestVolume volume;
  volume.addSystemRecords();
  volume.setRecord(20, textFile(5, 5, u"cut.txt"));
  ByteVector image = volume.image();
  image.resize(volume.recordPosition(20) + 512);  // the first stride of record 20
  const auto v = scanImage(image, RecoveryMode::Deep);
  ASSERT_TRUE(v->scanned);
  const EntryId id = v->find("ORPHAN_ENTRY/cut.txt");
  ASSERT_NE(id, kNoEntry);
  bool whole = false;
  EXPECT_EQ(v->content(id, &whole), ByteVector{'t'});
  EXPECT_TRUE(whole);
}

TEST(NtfsDeepScan, RecordsAcrossChunkEndsAreReadWhole) {
  TestVolume volume(4096, 1024, 64, 4, 16);
  std::vector<std::uint64_t> positions = {8192 - 512, 16384 - 1024, 16384 + 2048};
  for (std::size_t i = 0; i < positions.size(); ++i)
    volume.writeBytes(positions[i], textFile(5, 5, u"r" + std::u16string(1, static_cast<char16_t>('0' + i))));
  TempImage file(volume.image());
  FileReadSeek source;
  ASSERT_TRUE(source.open(file.path()));
  ntfsfmt::NtfsVolume v;
  v.view = VolumeView(source, {});
  JobContext job;
  std::uint32_t recordSize = 0;
  std::vector<std::uint64_t> found;
  std::vector<std::uint64_t> chunks;
  ntfsfmt::scanForRecords(
      v, source.sourceLength(), recordSize, job,
      [&](std::uint64_t position, std::span<std::uint8_t> record) {
        found.push_back(position);
        EXPECT_TRUE(ntfsfmt::prepareRecord(record)) << position;
        return true;
      },
      [&](std::uint64_t chunk) {
        chunks.push_back(chunk);
        return true;
      },
      8192);
  EXPECT_EQ(found, positions);
  EXPECT_EQ(recordSize, 1024u);
  EXPECT_EQ(chunks.size(), 32u);
}

// ---- advanced mode

TEST(NtfsAdvancedScan, CandidatesAreMftRecordsFollowedByBoot) {
  TestVolume volume(4096, 1024, 256, 4, 32);
  volume.addSystemRecords();
  volume.setRecord(20, textFile(5, 5, u"current.txt"));
  // The mirror's copy of the first four records forms no candidate.
  for (std::uint32_t n = 0; n < 4; ++n)
    volume.writeBytes(30 * 4096 + n * 1024, n == 0 ? volume.mftRecord() : textFile(5, 5, u"$MFTMirr"));
  // An older MFT at cluster 100 with files of its own.
  const std::vector<RunSpec> oldRuns = {{8, 100}};
  placeRecord(volume, oldRuns, 0, mftRecordWith(oldRuns, 4096, 32));
  placeRecord(volume, oldRuns, 5, RecordBuilder().sequence(5).folderName(5, 5, u".").build());
  placeRecord(volume, oldRuns, 7, textFile(5, 5, u"$Boot"));
  placeRecord(volume, oldRuns, 9, textFile(5, 5, u"old.txt"));
  std::fill(volume.bootSector().begin() + 3, volume.bootSector().begin() + 7, 0);

  TempImage file(volume.image());
  FileReadSeek source;
  ASSERT_TRUE(source.open(file.path()));
  RecordingObserver observer;
  JobContext job(&observer);
  NtfsParser parser;
  ScanRequest request{VolumeExtent{0, 1 << 20}, RecoveryMode::Advanced, {}};
  const CandidateLists lists = parser.findCandidates(source, request, job);
  EXPECT_EQ(lists.tfs, (std::vector<std::string>{"MFT_ENTRY:0", "MFT_ENTRY:1"}));
  EXPECT_EQ(lists.sectorsPerCluster, (std::vector<std::string>{"8", "4", "2", "16", "32", "64"}));
  EXPECT_TRUE(contains(observer.statuses, "MFT ENTRY 1 Found.Parsing it ..."));

  request.advanced.tfs = 1;
  request.advanced.sectorsPerCluster = 8;
  ASSERT_TRUE(parser.scan(source, request, job));
  EXPECT_EQ(parser.clusterSize(), 4096u);
  std::vector<std::string> names;
  for (EntryId id : parser.topEntries()) names.push_back(parser.name(id));
  EXPECT_TRUE(contains(names, "old.txt"));
  EXPECT_FALSE(contains(names, "current.txt"));

  // A fresh parser finds the candidates itself.
  NtfsParser fresh;
  request.advanced.tfs = 0;
  ASSERT_TRUE(fresh.scan(source, request, job));
  names.clear();
  for (EntryId id : fresh.topEntries()) names.push_back(fresh.name(id));
  EXPECT_TRUE(contains(names, "current.txt"));
}

TEST(NtfsAdvancedScan, EmptySizeTextFindsNothing) {
  TestVolume volume;
  volume.addSystemRecords();
  TempImage file(volume.image());
  FileReadSeek source;
  ASSERT_TRUE(source.open(file.path()));
  JobContext job;
  NtfsParser parser;
  ScanRequest request{VolumeExtent{0, 0}, RecoveryMode::Advanced, {}};
  EXPECT_TRUE(parser.findCandidates(source, request, job).tfs.empty());
  request.advanced.tfs = 0;
  EXPECT_TRUE(parser.scan(source, request, job));
  EXPECT_TRUE(parser.topEntries().empty());
}

}  // namespace
}  // namespace quorvel::test
