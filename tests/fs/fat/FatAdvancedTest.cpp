// The advanced mode's parts on hand-made volumes: the FAT-copy and heap
// searches, the slot and entry-set tests of the sector scans, the cluster
// sizes offered, and the tree rebuilt from the finds.
#include <gtest/gtest.h>

#include <algorithm>

#include "fs/fat/ExFatBuilders.h"
#include "fs/exfat/ExFatHeapSearch.h"
#include "fs/exfat/ExFatSetScan.h"
#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"
#include "fs/exfat/ExFatParser.h"
#include "fs/fat/FatBuilders.h"
#include "fs/fatfamily/FatCopySearch.h"
#include "fs/fat/FatSlotScan.h"

namespace quorvel::test {
namespace {

using fatfmt::FatCopyKind;
using fatfmt::FatWidth;

ShortSlot dated(const std::string& name11, std::uint8_t attributes, std::uint32_t cluster, std::uint32_t size) {
  ShortSlot e;
  e.name = name11;
  e.attributes = attributes;
  e.firstCluster = cluster;
  e.size = size;
  e.creationDate = e.accessDate = e.writeDate = dosDate(2023, 4, 5);
  e.creationTime = e.writeTime = dosTime(6, 7, 8);
  return e;
}

TEST(FatSlotTest, TellsEntriesFromOtherBytes) {
  struct Case {
    const char* what;
    ShortSlot slot;
    bool passes;
  };
  ShortSlot badMonth = dated("FILE    TXT", 0x20, 5, 10);
  badMonth.writeDate = static_cast<std::uint16_t>((43 << 9) | (13 << 5) | 1);
  ShortSlot badHour = dated("FILE    TXT", 0x20, 5, 10);
  badHour.creationTime = static_cast<std::uint16_t>(24 << 11);
  ShortSlot caseFlags08 = dated("FILE    TXT", 0x20, 5, 10);
  caseFlags08.caseFlags = 0x08;
  ShortSlot caseFlags18 = caseFlags08;
  caseFlags18.caseFlags = 0x18;
  ShortSlot caseFlags04 = caseFlags08;
  caseFlags04.caseFlags = 0x04;
  ShortSlot liveFolderWithSize = dated("DOCS       ", 0x10, 5, 100);
  ShortSlot deletedFolder = dated("\xE5OCS       ", 0x10, 0, 0);
  const std::vector<Case> cases = {
      {"a file", dated("FILE    TXT", 0x20, 5, 10), true},
      {"an empty file", dated("EMPTY   TXT", 0x20, 0, 0), true},
      {"read-only and archive", dated("FILE    TXT", 0x21, 5, 10), true},
      {"a deleted file", dated("\xE5ILE    TXT", 0x20, 5, 10), true},
      {"an alias of a name in another script", dated("_____~1 TXT", 0x20, 5, 10), true},
      {"a name starting with '!'", dated("!ILE    TXT", 0x20, 5, 10), false},
      {"a month of 13", badMonth, false},
      {"an hour of 24", badHour, false},
      {"lower-case base name", caseFlags08, true},
      {"lower-case name and extension", caseFlags18, true},
      {"other bits in byte 12", caseFlags04, false},
      {"a file beyond the last cluster", dated("FILE    TXT", 0x20, 1000, 10), false},
      {"a live folder", dated("DOCS       ", 0x10, 5, 0), true},
      {"a live folder without a cluster", dated("DOCS       ", 0x10, 0, 0), false},
      {"a live folder with a size", liveFolderWithSize, false},
      {"a deleted folder without a cluster", deletedFolder, true},
      {"a volume label", dated("LABEL      ", 0x08, 0, 0), false},
  };
  for (const FatWidth width : {FatWidth::Fat16, FatWidth::Fat32})
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      EXPECT_EQ(fatfmt::passesSlotTest(c.slot.bytes(), width, 100), c.passes);
    }
}

ByteVector slot(std::uint8_t type, std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes) {
  ByteVector s(32, 0);
  s[0] = type;
  for (const auto& [at, value] : bytes) s[at] = value;
  return s;
}

// A file entry (attributes, secondaries), a stream (flags, name length), names.
ByteVector entrySet(std::uint8_t attributes, std::uint8_t streamFlags, std::uint8_t nameLength, std::size_t names,
                    std::uint8_t secondaries = 0) {
  ByteVector set = slot(0x85, {{1, secondaries ? secondaries : static_cast<std::uint8_t>(names + 1)}, {4, attributes}});
  const ByteVector stream = slot(0xC0, {{1, streamFlags}, {3, nameLength}});
  set.insert(set.end(), stream.begin(), stream.end());
  for (std::size_t k = 0; k < names; ++k) {
    const ByteVector name = slot(0xC1, {{2, 'a'}});
    set.insert(set.end(), name.begin(), name.end());
  }
  set.resize(19 * 32, 0);
  return set;
}

TEST(ExFatSetTest, TellsEntrySetsFromOtherBytes) {
  struct Case {
    const char* what;
    ByteVector set;
    std::size_t slots;
  };
  ByteVector nameThenFile = entrySet(0x20, 1, 16, 1, 3);
  const ByteVector file = slot(0x85, {{1, 2}});
  std::copy(file.begin(), file.end(), nameThenFile.begin() + 3 * 32);
  const std::vector<Case> cases = {
      {"a file", entrySet(0x20, 1, 5, 1), 3},
      {"a file with no FAT chain", entrySet(0x20, 3, 5, 1), 3},
      {"stream flags 0", entrySet(0x20, 0, 5, 1), 0},
      {"stream flags 2", entrySet(0x20, 2, 5, 1), 0},
      {"a folder", entrySet(0x10, 1, 5, 1), 3},
      {"read-only and archive", entrySet(0x21, 1, 5, 1), 3},
      {"the label bit", entrySet(0x28, 1, 5, 1), 0},
      {"sixteen characters need two name entries", entrySet(0x20, 1, 16, 2), 4},
      {"a name entry, then another file entry", nameThenFile, 0},
      {"no name", entrySet(0x20, 1, 0, 0, 1), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(exfatfmt::plausibleEntrySet(c.set), c.slots);
  }
}

TEST(FatCopySearch, SignaturesOfEachKind) {
  struct Case {
    const char* what;
    ByteVector start;
    FatCopyKind kind;
    bool opens;
  };
  const ByteVector fat16 = {0xF8, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  const ByteVector fat12Floppy = {0xF0, 0xFF, 0xFF, 0x03, 0x40, 0, 0, 0};
  const ByteVector fat32 = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
  const ByteVector fat32AllOnes = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF};
  const ByteVector exFat = {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const std::vector<Case> cases = {
      {"FAT16", fat16, FatCopyKind::Fat16, true},
      {"FAT12 floppy", fat12Floppy, FatCopyKind::Fat16, true},
      {"FAT32 as mkfs.fat writes it", fat32, FatCopyKind::Fat32, true},
      {"FAT32 with the top bits set", fat32AllOnes, FatCopyKind::Fat32, true},
      {"FAT16 is no FAT32", fat16, FatCopyKind::Fat32, false},
      {"FAT32 is no FAT16", fat32, FatCopyKind::Fat16, false},
      {"exFAT", exFat, FatCopyKind::ExFat, true},
      {"FAT32 is no exFAT", fat32, FatCopyKind::ExFat, false},
      {"zeros", ByteVector(8, 0), FatCopyKind::Fat16, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(fatfmt::opensFatCopy(c.start, c.kind), c.opens);
  }
}

// Four FAT16 copies on sector boundaries and one off them: the first three
// in volume order with the default limit; the heap search offers one more
// of its sectors of ones.
TEST(FatCopySearch, FindsCopiesOnSectorBoundariesUpToTheLimit) {
  TempImage image;
  image.resize(12 * 1024 * 1024);  // past one 10 MiB chunk
  const ByteVector fat16 = {0xF8, 0xFF, 0xFF, 0xFF};
  const std::vector<std::uint64_t> copies = {4096, 65536, 11 * 1024 * 1024, 11 * 1024 * 1024 + 4096};
  image.write(300, fat16);  // not on a sector boundary
  for (const std::uint64_t at : copies) image.write(at, fat16);
  const ByteVector ones(8, 0xFF);
  for (int k = 1; k <= 6; ++k) image.write(static_cast<std::uint64_t>(k) * 1024 * 1024, ones);
  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path()));
  const VolumeView view(source, VolumeExtent{0, 0});
  JobContext job;
  EXPECT_EQ(fatfmt::findFatCopies(view, FatCopyKind::Fat16, 3, job), std::vector<std::uint64_t>(copies.begin(), copies.begin() + 3));
  EXPECT_EQ(fatfmt::findFatCopies(view, FatCopyKind::Fat16, 8, job), copies);
  const exfatfmt::HeapClues clues = exfatfmt::gatherHeapClues(view, job);
  EXPECT_EQ(exfatfmt::heapCandidates(view, clues, {}, 4, job).size(), 4u);
}

// What the searches tell the screen: the running count of finds, FAT32's
// position in the volume, and progress from 0 to 1000.
TEST(FatCopySearch, StatusAndProgress) {
  TempImage image;
  image.resize(2 * 1024 * 1024);
  image.write(8192, ByteVector{0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F});
  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path()));
  const VolumeView view(source, VolumeExtent{0, 0});
  struct Case {
    FatCopyKind kind;
    std::vector<std::string> statuses;
  };
  const std::vector<Case> cases = {
      {FatCopyKind::Fat32,
       {"Parsing Disk Currently at position 0.000000 of the disk of size 2097152.000000", "found fat entry  1 ",
        "Parsing Disk Currently at position 2097152.000000 of the disk of size 2097152.000000"}},
      {FatCopyKind::Fat16, {}},  // no FAT16 copy: F8 FF FF 0F is FAT32's
  };
  for (const Case& c : cases) {
    RecordingObserver observer;
    JobContext job(&observer);
    fatfmt::findFatCopies(view, c.kind, 3, job);
    EXPECT_EQ(observer.statuses, c.statuses);
    ASSERT_FALSE(observer.ranges.empty());
    EXPECT_EQ(observer.ranges.front(), (std::pair<std::int64_t, std::int64_t>{0, 1000}));
    ASSERT_FALSE(observer.positions.empty());
    EXPECT_EQ(observer.positions.back(), 1000);
  }
}

TEST(FatCopySearch, ClusterSizesOffered) {
  struct Case {
    const char* what;
    FatCopyKind kind;
    std::optional<std::uint32_t> boot;
    std::vector<std::string> choices;
  };
  const std::vector<Case> cases = {
      {"FAT16, boot 4", FatCopyKind::Fat16, 4, {"4", "4", "8", "16", "2", "32", "64", "128", "1"}},
      {"FAT16, boot 1 is odd", FatCopyKind::Fat16, 1, {"4", "8", "16", "2", "32", "64", "128", "1"}},
      {"FAT16, no boot", FatCopyKind::Fat16, std::nullopt, {"4", "8", "16", "2", "32", "64", "128", "1"}},
      {"FAT32, boot 8", FatCopyKind::Fat32, 8, {"8", "2", "4", "16", "32", "64", "8", "1", "128"}},
      {"exFAT, boot 3", FatCopyKind::ExFat, 3,
       {"3", "8", "9", "10", "11", "0", "1", "2", "3", "4", "5", "6", "7", "12", "13", "14", "15", "16"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(fatfmt::clusterSizeChoices(c.kind, c.boot), c.choices);
  }
}

// ---- the tree rebuilt from the finds

// Presses Stop at the first progress it hears: in a scan whose FAT copies
// were searched before, that of the directory-entry scan's first chunk.
class StopAtFirstProgress : public RecordingObserver {
 public:
  JobContext* job = nullptr;
  void progressChanged(std::int64_t position) override {
    RecordingObserver::progressChanged(position);
    if (job) job->requestStop();
    job = nullptr;
  }
};

// Searches as the advanced-input screen does, then scans with the first
// candidates; `stopDuringScan` presses Stop in the scan's first chunk.
std::unique_ptr<ScannedFat> scanAdvanced(std::unique_ptr<TempImage> image, std::unique_ptr<FileSystemParser> parser,
                                         AdvancedChoices choices, bool stopDuringScan) {
  auto v = std::make_unique<ScannedFat>();
  v->image = std::move(image);
  v->source = std::make_unique<FileReadSeek>();
  if (!v->source->open(v->image->path())) throw std::runtime_error("cannot open the test image");
  v->parser = std::move(parser);
  ScanRequest request;
  request.mode = RecoveryMode::Advanced;
  request.advanced = choices;
  JobContext search(&v->observer);
  const CandidateLists lists = v->parser->findCandidates(*v->source, request, search);
  if (lists.tfs.empty()) request.advanced.tfs = -1;
  StopAtFirstProgress stopper;
  JobContext job(&stopper);
  if (stopDuringScan) stopper.job = &job;
  v->scanned = v->parser->scan(*v->source, request, job);
  return v;
}

std::unique_ptr<ScannedFat> scanAdvanced(const FatVolume& volume, int sectorsPerCluster, bool zeroBoot,
                                         bool stopDuringScan = false) {
  std::unique_ptr<TempImage> image = volume.materialize();
  if (zeroBoot) {
    image->write(0, ByteVector(512, 0));
    image->write(6 * 512, ByteVector(512, 0));
  }
  AdvancedChoices choices;
  choices.tfs = 0;
  choices.sectorsPerCluster = sectorsPerCluster;
  return scanAdvanced(std::move(image), volume.width() == FatWidth::Fat32 ? makeFat32Parser() : makeFat16Parser(),
                      choices, stopDuringScan);
}

// A folder whose clusters lie before its own entry, in a chain of three
// clusters, below a folder whose entry went with the root: its files stay
// under it, all three clusters of them, and are not listed again alone.
TEST(FatAdvancedTree, FoldersKeepTheirEntriesWhereverTheyLie) {
  for (const FatWidth width : {FatWidth::Fat16, FatWidth::Fat32}) {
    SCOPED_TRACE(width == FatWidth::Fat32 ? "FAT32" : "FAT16");
    FatVolume volume(width, width == FatWidth::Fat32 ? 70000 : 5000);
    // The root lost OUTER; OUTER (cluster 40) holds INNER, whose clusters are 10, 11, 12.
    volume.writeRoot(Directory());
    Directory outer;
    outer.entry(dated(".          ", 0x10, 40, 0)).entry(dated("..         ", 0x10, 0, 0));
    outer.entry(dated("INNER      ", 0x10, 10, 0));
    volume.writeFolder(40, outer);
    volume.chain({40});
    for (std::uint32_t c = 10; c <= 12; ++c) {
      Directory part;
      if (c == 10) part.entry(dated(".          ", 0x10, 10, 0)).entry(dated("..         ", 0x10, 40, 0));
      for (int k = 0; k < 3; ++k) {
        const std::string name = "F" + std::to_string(c) + "_" + std::to_string(k) + "   TXT";
        part.entry(dated(name, 0x20, 0, 0));
      }
      volume.writeFolder(c, part);
    }
    volume.chain({10, 11, 12});
    const auto v = scanAdvanced(volume, 1, true);
    ASSERT_TRUE(v->scanned);
    const EntryId inner = v->find("ORPHAN ENTRY/INNER");
    ASSERT_NE(inner, kNoEntry);
    const std::vector<std::string> names = v->childNames(inner);
    EXPECT_EQ(names.size(), 9u);
    for (const char* n : {"F10_0.TXT", "F11_1.TXT", "F12_2.TXT"})
      EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n;
    EXPECT_EQ(v->childNames(v->find("ORPHAN ENTRY")), std::vector<std::string>{"INNER"});
  }
}

// Stop during the directory-entry scan ends the scan, not the job: the tree
// is still built from the entries found before it, and only from those.
// EARLY's entry lies in the first 4 MiB chunk, LATE's far behind it.
TEST(FatAdvancedTree, StopDuringTheEntryScanStillBuildsTheTreeOfTheFinds) {
  constexpr std::uint32_t kLateCluster = 15000;
  for (const FatWidth width : {FatWidth::Fat16, FatWidth::Fat32}) {
    FatVolume volume(width, width == FatWidth::Fat32 ? 70000 : 20000);
    ASSERT_GT(volume.clusterOffset(kLateCluster), 4u * 1024 * 1024);
    volume.writeRoot(Directory());
    const auto lostFolder = [&](std::uint32_t holder, const std::string& name11, const std::string& file11) {
      Directory outer;
      outer.entry(dated(".          ", 0x10, holder, 0)).entry(dated("..         ", 0x10, 0, 0));
      outer.entry(dated(name11, 0x10, holder + 1, 0));
      volume.writeFolder(holder, outer);
      Directory inner;
      inner.entry(dated(".          ", 0x10, holder + 1, 0)).entry(dated("..         ", 0x10, holder, 0));
      inner.entry(dated(file11, 0x20, 0, 0));
      volume.writeFolder(holder + 1, inner);
      volume.chain({holder});
      volume.chain({holder + 1});
    };
    lostFolder(40, "EARLY      ", "E       TXT");
    lostFolder(kLateCluster, "LATE       ", "L       TXT");
    const struct {
      bool stop;
      std::vector<std::string> orphans;
    } cases[] = {{false, {"EARLY", "LATE"}}, {true, {"EARLY"}}};
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(width == FatWidth::Fat32 ? "FAT32" : "FAT16") + (c.stop ? ", stopped" : ""));
      const auto v = scanAdvanced(volume, 1, true, c.stop);
      ASSERT_TRUE(v->scanned);
      EXPECT_EQ(v->childNames(v->find("ORPHAN ENTRY")), c.orphans);
      EXPECT_EQ(v->childNames(v->find("ORPHAN ENTRY/EARLY")), std::vector<std::string>{"E.TXT"});
    }
  }
}

TEST(ExFatAdvancedTree, StopDuringTheEntrySetScanStillBuildsTheTreeOfTheFinds) {
  constexpr std::uint32_t kLateCluster = 11000;
  ExFatVolume volume(12000);
  ASSERT_GT(volume.clusterOffset(kLateCluster), 4u * 1024 * 1024);
  // A bitmap whose first eight bytes are all ones makes the heap's start the
  // first heap offset found.
  volume.markUsed(2, 64);
  volume.writeRoot(ExFatDirectory());
  const auto lostFolder = [&](std::uint32_t holder, const std::u16string& name, const std::u16string& file) {
    volume.chain({holder});
    volume.chain({holder + 1});
    volume.writeFolder({holder}, ExFatDirectory().set(exFolder(name, holder + 1, volume.clusterSize())));
    volume.writeFolder({holder + 1}, ExFatDirectory().set(exFile(file, 0, 0)));
  };
  lostFolder(100, u"early", u"e.txt");
  lostFolder(kLateCluster, u"late", u"l.txt");
  const struct {
    bool stop;
    std::vector<std::string> orphans;
  } cases[] = {{false, {"early", "late"}}, {true, {"early"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stop ? "stopped" : "not stopped");
    AdvancedChoices choices;
    choices.tfs = 0;
    choices.heapOffset = 0;
    const auto v = scanAdvanced(volume.materialize(), makeExFatParser(), choices, c.stop);
    ASSERT_TRUE(v->scanned);
    EXPECT_EQ(v->childNames(v->find("ORPHAN ENTRY")), c.orphans);
    EXPECT_EQ(v->childNames(v->find("ORPHAN ENTRY/early")), std::vector<std::string>{"e.txt"});
  }
}

// A valid boot sector gives the layout; the guess (4,096 reserved bytes)
// would put the FAT16 root elsewhere.
TEST(FatAdvancedTree, AValidBootSectorGivesTheLayout) {
  FatVolume volume(FatWidth::Fat16, 5000, 2);
  volume.writeRoot(Directory().entry(dated("TOP     TXT", 0x20, 2, 5)));
  volume.writeCluster(2, ByteVector{'h', 'e', 'l', 'l', 'o'});
  volume.chain({2});
  const auto v = scanAdvanced(volume, 2, false);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), std::vector<std::string>{"TOP.TXT"});
  EXPECT_EQ(v->content(v->find("TOP.TXT")), (ByteVector{'h', 'e', 'l', 'l', 'o'}));
}

}  // namespace
}  // namespace quorvel::test
