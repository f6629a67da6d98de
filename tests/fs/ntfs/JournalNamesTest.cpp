// Names, folders and deletion times from the change journal ($UsnJrnl:$J),
// on hand-made volumes: the journal's stream has a sparse head, as on
// Windows, and its records sit in the one cluster behind it.
#include <gtest/gtest.h>

#include "fs/ntfs/NtfsBuilders.h"
#include "fs/ntfs/UsnJournal.h"
#include "support/ParserWalks.h"

namespace quorvel::test {
namespace {

constexpr std::uint32_t kDocs = 12;
constexpr std::uint32_t kExtend = 11;
constexpr std::uint32_t kJournal = 20;
constexpr std::uint32_t kNameless = 21;  // freed, its name gone
constexpr std::uint32_t kLostParent = 22;  // freed, named, its folder reference spoilt
constexpr std::uint32_t kPlain = 23;  // freed, named, in docs
constexpr std::uint32_t kOlderFile = 25;  // freed again since the journal's file
constexpr std::uint32_t kAlive = 26;  // in use
constexpr std::uint64_t kJournalCluster = 100;
constexpr std::uint32_t kDelete = ntfsfmt::kUsnReasonFileDelete | 0x80000000u;

constexpr std::uint64_t reference(std::uint64_t record, std::uint16_t sequence) {
  return record | (std::uint64_t{sequence} << 48);
}
const std::uint64_t kTime = windowsTime(2022, 2, 3, 4, 5, 6);
const std::uint64_t kDeletedAt = windowsTime(2024, 3, 4, 5, 6, 7);
const std::int64_t kDeletedSeconds = static_cast<std::int64_t>(kDeletedAt / 10000000) - 11644473600;

UsnRecordPlan deletion(std::uint64_t file, std::u16string name, std::uint64_t parent = reference(kDocs, 1)) {
  return UsnRecordPlan{file, parent, kDeletedAt, kDelete, 0x20, std::move(name), 2};
}

ByteVector join(const std::vector<ByteVector>& parts) {
  ByteVector out;
  for (const ByteVector& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The volume with `journal` as the bytes of $J's one real cluster, behind
// `sparseClusters` clusters that were never written.
TestVolume journalVolume(const ByteVector& journal, std::uint64_t sparseClusters = 16) {
  TestVolume volume(4096, 1024, 256, 4, 32);
  volume.addSystemRecords();
  const auto record = [] { return RecordBuilder().standardInformation(kTime, kTime, kTime); };
  volume.setRecord(kExtend, record().sequence(kExtend).folderName(5, 5, u"$Extend").build());
  volume.setRecord(kDocs, record().sequence(1).folderName(5, 5, u"docs").build());
  NonResidentSpec j = mappedAttribute({{sparseClusters, -1}, {1, static_cast<std::int64_t>(kJournalCluster)}}, 4096,
                                      (sparseClusters + 1) * 4096);
  j.flags = 0x8000;
  j.name = u"$J";
  volume.setRecord(kJournal, record().sequence(1).fileName(kExtend, kExtend, u"$UsnJrnl").residentData({})
                                 .nonResidentData(j).build());
  ByteVector cluster = journal;
  cluster.resize(4096);
  volume.writeCluster(kJournalCluster, cluster);

  volume.setRecord(kNameless, record().sequence(2).inUse(false).residentData({'k', 'e', 'p', 't'}).build());
  volume.setRecord(kLostParent, record().sequence(2).inUse(false).fileName(1ull << 47, 1, u"moved.txt")
                                    .residentData({'m'}).build());
  volume.setRecord(kPlain, record().sequence(2).inUse(false).fileName(kDocs, 1, u"plain.txt").residentData({'p'}).build());
  volume.setRecord(kOlderFile, record().sequence(5).inUse(false).residentData({'o'}).build());
  volume.setRecord(kAlive, record().sequence(1).fileName(kDocs, 1, u"alive.txt").residentData({'a'}).build());
  return volume;
}

ByteVector goodJournal() {
  return join({usnRecordBytes(deletion(reference(kNameless, 1), u"restored.txt")),
               usnRecordBytes([] {
                 UsnRecordPlan s = deletion(reference(kLostParent, 1), u"moved.txt");
                 s.version = 3;
                 return s;
               }()),
               usnRecordBytes(deletion(reference(kPlain, 1), u"plain.txt")),
               usnRecordBytes(deletion(reference(kOlderFile, 1), u"older.txt")),
               usnRecordBytes(deletion(reference(kAlive, 1), u"alive.txt"))});
}

TEST(NtfsJournalNames, NamesAndPlacesFreedRecordsAndKnowsWhenTheyWentAway) {
  const auto v = scanImage(journalVolume(goodJournal()).image());
  ASSERT_TRUE(v->scanned);
  // A record without a name gets the journal's, in the journal's folder,
  // with its own content.
  const EntryId restored = v->find("docs/restored.txt");
  ASSERT_EQ(restored, kNameless);
  EXPECT_TRUE(v->parser->isDeleted(restored));
  EXPECT_EQ(v->content(restored), (ByteVector{'k', 'e', 'p', 't'}));
  // A record whose folder reference is lost goes where the journal says.
  EXPECT_EQ(v->find("docs/moved.txt"), kLostParent);
  EXPECT_EQ(v->find("ORPHAN_ENTRY/moved.txt"), kNoEntry);
  // Deletion times: from the journal, for freed records that are still its files.
  for (const EntryId id : {EntryId{kNameless}, EntryId{kLostParent}, EntryId{kPlain}}) {
    const auto when = v->parser->deletionTime(id);
    ASSERT_TRUE(when) << id;
    EXPECT_EQ(when->seconds, kDeletedSeconds);
  }
  // Record 25 was freed again since (its sequence moved on), 26 is in use.
  EXPECT_FALSE(v->parser->deletionTime(kOlderFile));
  EXPECT_FALSE(v->parser->deletionTime(kAlive));
  EXPECT_EQ(v->parser->name(kOlderFile), "");
  EXPECT_EQ(v->parser->name(kAlive), "alive.txt");
  EXPECT_FALSE(v->parser->isDeleted(kAlive));
}

TEST(NtfsJournalNames, AnEmptyJournalChangesNothing) {
  TestVolume volume = journalVolume({});
  const auto v = scanImage(volume.image());
  EXPECT_EQ(v->find("docs/restored.txt"), kNoEntry);
  EXPECT_EQ(v->find("ORPHAN_ENTRY/moved.txt"), kLostParent);
  EXPECT_FALSE(v->parser->deletionTime(kPlain));
}

// One spoilt record in front of a good one: the spoilt one gives nothing,
// the good one behind it is still read.
struct SpoiltCase {
  const char* what;
  ByteVector bytes;
};

void PrintTo(const SpoiltCase& c, std::ostream* os) { *os << c.what; }

ByteVector spoilt(const UsnRecordPlan& plan, std::size_t offset, std::vector<std::uint8_t> with) {
  ByteVector r = usnRecordBytes(plan);
  for (std::size_t i = 0; i < with.size(); ++i) r[offset + i] = with[i];
  return r;
}

std::vector<SpoiltCase> spoiltCases() {
  const UsnRecordPlan older = deletion(reference(kPlain, 1), u"wrong-name.txt");
  UsnRecordPlan v3 = older;
  v3.version = 3;
  return {
      {"length not a multiple of 8", spoilt(older, 0, {0x41})},
      {"length below the header", spoilt(older, 0, {0x04})},
      {"length beyond the longest record", spoilt(older, 0, {0x00, 0x20, 0x00, 0x00})},
      {"unknown major version", spoilt(older, 4, {7})},
      {"name beyond the record", spoilt(older, 0x3A, {0xF0})},
      {"name of odd length", spoilt(older, 0x38, {0x07})},
      {"version 3 with a high reference half", spoilt(v3, 0x10, {1})},
      {"version 4 record, stepped over", [] {
         ByteVector r(0x48);
         putLe32(r, 0, 0x48);
         putLe16(r, 4, 4);
         return r;
       }()},
      {"a stray word, then zeros", ByteVector{0x12, 0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
}

class NtfsJournalSpoilt : public ::testing::TestWithParam<SpoiltCase> {};

TEST_P(NtfsJournalSpoilt, IsPassedOverAndTheNextRecordRead) {
  const ByteVector journal = join({GetParam().bytes, usnRecordBytes(deletion(reference(kNameless, 1), u"restored.txt"))});
  const auto v = scanImage(journalVolume(journal).image());
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->find("docs/restored.txt"), kNameless) << GetParam().what;
  EXPECT_FALSE(v->parser->deletionTime(kPlain)) << GetParam().what;
  EXPECT_EQ(v->parser->name(kPlain), "plain.txt");
}

INSTANTIATE_TEST_SUITE_P(Cases, NtfsJournalSpoilt, ::testing::ValuesIn(spoiltCases()),
                         [](const ::testing::TestParamInfo<SpoiltCase>& info) { return std::to_string(info.index); });

TEST(NtfsJournalBounds, ARecordCutByTheStreamsEndIsDropped) {
  // The last record claims more bytes than the stream has left.
  ByteVector journal(4096 - 0x40);
  const ByteVector first = usnRecordBytes(deletion(reference(kNameless, 1), u"restored.txt"));
  std::copy(first.begin(), first.end(), journal.begin());
  const ByteVector cut = usnRecordBytes(deletion(reference(kPlain, 1), u"a-name-that-runs-past-the-end.txt"));
  journal.insert(journal.end(), cut.begin(), cut.begin() + 0x40);
  const auto v = scanImage(journalVolume(journal).image());
  EXPECT_EQ(v->find("docs/restored.txt"), kNameless);
  EXPECT_FALSE(v->parser->deletionTime(kPlain));
}

TEST(NtfsJournalBounds, AHugeSparseHeadIsNotRead) {
  // 2^40 clusters of nothing before the records: passed over, not read.
  const auto v = scanImage(journalVolume(goodJournal(), 1ull << 40).image());
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->find("docs/restored.txt"), kNameless);
}

}  // namespace
}  // namespace quorvel::test
