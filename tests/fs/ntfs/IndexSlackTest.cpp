// Deleted names in the slack of a folder's index: which are believed, and
// what a believed one may read. The folder "docs" (record 12) holds live.txt
// (13) and other.bin (14, a record freed and reused since); gone.txt (15)
// is a freed record of docs that still holds its name and content.
#include <gtest/gtest.h>

#include <map>

#include "fs/ntfs/IndexSlack.h"
#include "fs/ntfs/NtfsBuilders.h"
#include "support/ParserWalks.h"

namespace quorvel::test {
namespace {

constexpr std::uint32_t kDocs = 12;
constexpr std::uint64_t reference(std::uint64_t record, std::uint16_t sequence) {
  return record | (std::uint64_t{sequence} << 48);
}
const std::uint64_t kDocsReference = reference(kDocs, 1);
const std::uint64_t kTime = windowsTime(2021, 6, 7, 8, 9, 10);

FileNameKey key(const std::u16string& name, std::uint64_t realSize = 10) {
  FileNameKey k;
  k.parentReference = kDocsReference;
  k.name = name;
  k.time = kTime;
  k.realSize = realSize;
  return k;
}

struct SlackCase {
  const char* what;
  ByteVector bytes;  // one or more index entries as they lie in the slack
  std::string name;
  int listedDeleted;  // how often the name is listed deleted in docs
};

void PrintTo(const SlackCase& c, std::ostream* os) { *os << c.what; }

std::vector<SlackCase> slackCases() {
  FileNameKey wrongParent = key(u"wrong-parent.txt");
  wrongParent.parentReference = reference(5, 5);
  FileNameKey badNameSpace = key(u"bad-name-space.txt");
  badNameSpace.nameSpace = 4;
  FileNameKey tooOld = key(u"too-old.txt");
  tooOld.time = windowsTime(1975, 1, 1, 0, 0, 0);
  FileNameKey tooNew = key(u"too-new.txt");
  tooNew.time = windowsTime(2150, 1, 1, 0, 0, 0);
  FileNameKey alias = key(u"LONGSL~1.TXT");
  alias.nameSpace = 2;
  const ByteVector overwritten = overwrittenIndexEntryBytes(fileNameKeyBytes(key(u"overwritten.txt", 1234)));
  ByteVector twice = overwritten;
  twice.insert(twice.end(), overwritten.begin(), overwritten.end());
  ByteVector longAndAlias = indexEntryBytes(reference(16, 1), fileNameKeyBytes(key(u"long slack name.txt")));
  const ByteVector aliasEntry = indexEntryBytes(reference(16, 1), fileNameKeyBytes(alias));
  longAndAlias.insert(longAndAlias.end(), aliasEntry.begin(), aliasEntry.end());
  return {
      {"header overwritten by a later end entry", overwritten, "overwritten.txt", 1},
      {"the same name twice in the slack", twice, "overwritten.txt", 1},
      {"parent is another folder", indexEntryBytes(reference(20, 1), fileNameKeyBytes(wrongParent)),
       "wrong-parent.txt", 0},
      {"name space above 3", indexEntryBytes(reference(20, 1), fileNameKeyBytes(badNameSpace)), "bad-name-space.txt",
       0},
      {"NUL inside the name", indexEntryBytes(reference(20, 1), fileNameKeyBytes(key(std::u16string(u"nul\0in.txt", 10)))),
       "nul", 0},
      {"slash inside the name", indexEntryBytes(reference(20, 1), fileNameKeyBytes(key(u"a/b.txt"))), "a/b.txt", 0},
      {"unpaired surrogate", indexEntryBytes(reference(20, 1), fileNameKeyBytes(key(u"bad\xD800.txt"))), "bad\xEF\xBF\xBD.txt", 0},
      {"times before 1980", indexEntryBytes(reference(20, 1), fileNameKeyBytes(tooOld)), "too-old.txt", 0},
      {"times far in the future", indexEntryBytes(reference(20, 1), fileNameKeyBytes(tooNew)), "too-new.txt", 0},
      {"record reused by another file", indexEntryBytes(reference(14, 1), fileNameKeyBytes(key(u"reused-name.txt", 777))),
       "reused-name.txt", 1},
      {"a DOS alias beside its long name", longAndAlias, "LONGSL~1.TXT", 0},
      {"the long name beside its alias", longAndAlias, "long slack name.txt", 1},
      {"an old copy of a live entry", indexEntryBytes(reference(13, 1), fileNameKeyBytes(key(u"live.txt"))), "live.txt", 0},
      {"a live name behind the header of a freed record's entry",
       indexEntryBytes(reference(15, 1), fileNameKeyBytes(key(u"live.txt"))), "live.txt", 0},
      {"a live name behind a header naming no record",
       indexEntryBytes(reference(0x200000010, 0), fileNameKeyBytes(key(u"live.txt"))), "live.txt", 0},
      {"a freed record that keeps the name", indexEntryBytes(reference(15, 1), fileNameKeyBytes(key(u"gone.txt"))),
       "gone.txt", 1},
  };
}

TestVolume docsVolume(const ByteVector& slack) {
  // Records of 4 KiB leave room for a root index with a long slack.
  TestVolume volume(4096, 4096, 512, 4, 32);
  volume.addSystemRecords();
  const std::uint32_t rs = volume.recordSize();
  const ByteVector live = indexEntryBytes(reference(13, 1), fileNameKeyBytes(key(u"live.txt")));
  const ByteVector other = indexEntryBytes(reference(14, 2), fileNameKeyBytes(key(u"other.bin")));
  volume.setRecord(kDocs, RecordBuilder(rs).sequence(1).standardInformation(kTime, kTime, kTime)
                              .folderName(5, 5, u"docs").rawAttribute(indexRootAttribute({live, other}, slack)).build());
  volume.setRecord(13, RecordBuilder(rs).sequence(1).standardInformation(kTime, kTime, kTime)
                           .fileName(kDocs, 1, u"live.txt").residentData({'l'}).build());
  volume.setRecord(14, RecordBuilder(rs).sequence(2).standardInformation(kTime, kTime, kTime)
                           .fileName(kDocs, 1, u"other.bin").residentData({'o', 't', 'h', 'e', 'r'}).build());
  volume.setRecord(15, RecordBuilder(rs).sequence(2).inUse(false).standardInformation(kTime, kTime, kTime)
                           .fileName(kDocs, 1, u"gone.txt").residentData({'g', 'o', 'n', 'e'}).build());
  return volume;
}

class NtfsIndexSlack : public ::testing::TestWithParam<SlackCase> {};

TEST_P(NtfsIndexSlack, ListsOnlyTrustworthyNamesOnce) {
  const SlackCase& c = GetParam();
  const auto v = scanImage(docsVolume(c.bytes).image(), RecoveryMode::Standard, "2   MB");
  ASSERT_TRUE(v->scanned);
  const EntryId docs = v->find("docs");
  ASSERT_NE(docs, kNoEntry);
  std::map<std::string, int> deleted, live;
  for (const EntryId id : v->parser->children(docs)) ++(v->parser->isDeleted(id) ? deleted : live)[v->parser->name(id)];
  EXPECT_EQ(deleted[c.name], c.listedDeleted) << c.what;
  // The live entries stay as they are, once each.
  EXPECT_EQ(live["live.txt"], 1);
  EXPECT_EQ(live["other.bin"], 1);
  EXPECT_EQ(deleted["gone.txt"], 1) << "the freed record's own entry";
}

INSTANTIATE_TEST_SUITE_P(Cases, NtfsIndexSlack, ::testing::ValuesIn(slackCases()),
                         [](const ::testing::TestParamInfo<SlackCase>& info) { return std::to_string(info.index); });

TEST(NtfsIndexSlackContent, ANameWhoseRecordWasReusedTakesNoContent) {
  const ByteVector slack = indexEntryBytes(reference(14, 1), fileNameKeyBytes(key(u"reused-name.txt", 777)));
  const auto v = scanImage(docsVolume(slack).image(), RecoveryMode::Standard, "2   MB");
  const EntryId id = v->find("docs/reused-name.txt");
  ASSERT_NE(id, kNoEntry);
  EXPECT_TRUE(v->parser->isDeleted(id));
  // Size and times are the index entry's own.
  EXPECT_EQ(v->parser->size(id), 777u);
  ASSERT_TRUE(v->parser->times(id).modified);
  EXPECT_EQ(v->parser->times(id).modified->seconds, static_cast<std::int64_t>(kTime / 10000000) - 11644473600);
  // Never saved, and nothing of record 14's file comes out of it.
  EXPECT_TRUE(v->parser->neverSaved(id));
  EXPECT_TRUE(v->content(id).empty());
  EXPECT_EQ(v->content(v->find("docs/other.bin")), (ByteVector{'o', 't', 'h', 'e', 'r'}));
}

TEST(NtfsIndexSlackContent, AFreedRecordThatStillHoldsTheNameKeepsItsContent) {
  const ByteVector slack = indexEntryBytes(reference(15, 1), fileNameKeyBytes(key(u"gone.txt")));
  const auto v = scanImage(docsVolume(slack).image(), RecoveryMode::Standard, "2   MB");
  const EntryId id = v->find("docs/gone.txt");
  ASSERT_EQ(id, 15u);
  EXPECT_FALSE(v->parser->neverSaved(id));
  EXPECT_EQ(v->content(id), (ByteVector{'g', 'o', 'n', 'e'}));
}

// The decoders alone: nodes whose headers do not fit give nothing.
TEST(NtfsIndexNodes, HeadersThatDoNotFitGiveNoParts) {
  ByteVector root(0x40);
  putLe32(root, 0x10, 0x10);  // entries offset
  putLe32(root, 0x14, 0x60);  // used beyond the value
  putLe32(root, 0x18, 0x60);
  EXPECT_FALSE(ntfsfmt::indexRootParts(Bytes(root.data(), root.size())));
  putLe32(root, 0x10, 0x04);  // entries inside the node header
  putLe32(root, 0x14, 0x20);
  EXPECT_FALSE(ntfsfmt::indexRootParts(Bytes(root.data(), root.size())));
  ByteVector block(4096);
  EXPECT_FALSE(ntfsfmt::indexBlockParts(Bytes(block.data(), block.size()), true)) << "no INDX signature";
}

}  // namespace
}  // namespace quorvel::test
