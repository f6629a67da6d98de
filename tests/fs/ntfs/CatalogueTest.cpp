#include <gtest/gtest.h>

#include <set>

#include "fs/ntfs/NtfsBuilders.h"
#include "support/ParserWalks.h"

namespace quorvel::test {
namespace {

using Names = std::vector<std::string>;

ByteVector file(std::uint64_t parent, std::uint16_t parentSequence, const std::u16string& name,
                std::uint16_t sequence = 1, bool inUse = true) {
  return RecordBuilder().sequence(sequence).inUse(inUse).standardInformation(1, 1, 1).fileName(parent, parentSequence, name)
      .residentData({'x'}).build();
}

ByteVector folder(std::uint64_t parent, std::uint16_t parentSequence, const std::u16string& name,
                  std::uint16_t sequence = 1, bool inUse = true) {
  return RecordBuilder().sequence(sequence).inUse(inUse).standardInformation(1, 1, 1).folderName(parent, parentSequence, name)
      .build();
}

// Every folder reachable from the top, each entry met once.

TEST(NtfsCatalogueLinks, FoldersHoldTheirChildrenInRecordOrder) {
  TestVolume volume;
  volume.addSystemRecords();
  volume.setRecord(10, file(12, 1, u"later.txt"));  // its folder comes later in the MFT
  volume.setRecord(11, file(5, 5, u"a.txt"));
  volume.setRecord(12, folder(5, 5, u"docs"));
  volume.setRecord(13, file(12, 1, u"b.txt"));
  const auto v = scanImage(volume.image());
  ASSERT_TRUE(v->scanned);

  // Nothing is orphaned, so no orphan folder is shown.
  EXPECT_EQ(v->topNames(), (Names{"$MFTMirr", "$LogFile", "$Volume", "$AttrDef", "$Bitmap", "$Boot", "a.txt", "docs"}));
  const EntryId docs = v->find("docs");
  ASSERT_NE(docs, kNoEntry);
  EXPECT_EQ(docs, 12u);  // entry ids are record numbers
  EXPECT_TRUE(v->parser->isFolder(docs));
  EXPECT_EQ(v->childNames(docs), (Names{"later.txt", "b.txt"}));
  EXPECT_EQ(v->find("ORPHAN_ENTRY"), kNoEntry);
  EXPECT_EQ(v->parser->name(0), "$MFT");
  EXPECT_EQ(countReachable(*v->parser), 10u);  // the MFT's own record is in no folder
}

TEST(NtfsCatalogueLinks, UnlinkableParentsEndUnderTheOrphanFolder) {
  TestVolume volume;
  volume.addSystemRecords();
  volume.setRecord(12, folder(5, 5, u"docs"));
  volume.setRecord(14, file(5, 5, u"plain file"));
  volume.setRecord(15, file(14, 1, u"child of a file"));
  volume.setRecord(16, file((1ull << 47) | 5, 5, u"negative parent"));
  volume.setRecord(17, file(9999, 1, u"parent beyond the MFT"));
  volume.setRecord(18, file(20, 1, u"parent never written"));
  volume.setRecord(19, file(12, 7, u"stale parent"));  // docs was reused since
  volume.setRecord(21, folder(5, 5, u"deleted folder", 3, false));
  volume.setRecord(22, file(21, 2, u"deleted inside", 1, false));  // written before the folder was freed
  volume.setRecord(23, folder(23, 1, u"own parent"));
  volume.setRecord(24, folder(25, 1, u"ping"));
  volume.setRecord(25, folder(24, 1, u"pong"));
  const auto v = scanImage(volume.image());
  ASSERT_TRUE(v->scanned);

  const EntryId orphans = v->find("ORPHAN_ENTRY");
  ASSERT_NE(orphans, kNoEntry);
  EXPECT_EQ(v->childNames(orphans), (Names{"child of a file", "negative parent", "parent beyond the MFT",
                                           "parent never written", "stale parent", "own parent", "ping"}));
  // The cycle is cut at its lowest record; the rest stays below it.
  EXPECT_EQ(v->childNames(v->find("ORPHAN_ENTRY/ping")), (Names{"pong"}));
  EXPECT_TRUE(v->childNames(v->find("ORPHAN_ENTRY/ping/pong")).empty());
  EXPECT_TRUE(v->childNames(v->find("ORPHAN_ENTRY/own parent")).empty());

  const EntryId deletedFolder = v->find("deleted folder");
  ASSERT_NE(deletedFolder, kNoEntry);
  EXPECT_TRUE(v->parser->isDeleted(deletedFolder));
  EXPECT_EQ(v->childNames(deletedFolder), (Names{"deleted inside"}));
  EXPECT_TRUE(v->parser->isDeleted(v->find("deleted folder/deleted inside")));
  EXPECT_FALSE(v->parser->isDeleted(v->find("docs")));
  EXPECT_FALSE(v->parser->isDeleted(orphans));
  countReachable(*v->parser);
}

TEST(NtfsCatalogueLinks, WithoutARootEverythingIsUnderTheOrphanFolder) {
  TestVolume volume;
  volume.setRecord(0, volume.mftRecord());
  volume.setRecord(5, file(5, 5, u"not a folder"));
  volume.setRecord(9, file(5, 5, u"lost.txt"));
  const auto v = scanImage(volume.image());
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"ORPHAN_ENTRY"}));
  EXPECT_EQ(v->childNames(v->find("ORPHAN_ENTRY")), (Names{"not a folder", "lost.txt"}));
}

TEST(NtfsCatalogueLinks, ExtensionRecordsAreNotEntriesOfTheirOwn) {
  TestVolume volume;
  volume.addSystemRecords();
  volume.setRecord(11, file(5, 5, u"base.txt"));
  volume.setRecord(12, RecordBuilder().baseReference(11).fileName(5, 5, u"second name.txt").build());
  const auto v = scanImage(volume.image());
  EXPECT_NE(v->find("base.txt"), kNoEntry);
  EXPECT_EQ(v->find("second name.txt"), kNoEntry);
  EXPECT_TRUE(v->childNames(v->find("ORPHAN_ENTRY")).empty());
}

TEST(NtfsCatalogueNames, LongNamesWinOverDosAliasesAndGiveTheParent) {
  TestVolume volume(4096, 1024, 256, 4, 64);
  volume.addSystemRecords();
  volume.setRecord(12, folder(5, 5, u"docs"));
  volume.setRecord(30, RecordBuilder().fileName(5, 5, u"LONGFI~1.TXT", 2).fileName(12, 1, u"long file name.txt", 1)
                           .build());
  volume.setRecord(31, RecordBuilder().fileName(5, 5, u"Mixed Case.txt", 1).fileName(5, 5, u"MIXEDC~1.TXT", 2).build());
  volume.setRecord(32, RecordBuilder().fileName(5, 5, u"posix:name", 0).build());
  volume.setRecord(33, RecordBuilder().fileName(5, 5, u"SHORT.TXT", 3).build());
  volume.setRecord(34, RecordBuilder().fileName(5, 5, u"ONLYDOS.TXT", 2).build());
  volume.setRecord(35, RecordBuilder().fileName(5, 5, u"\U0001F600 smile \u00e9.txt").build());
  const auto v = scanImage(volume.image());

  EXPECT_EQ(v->parser->name(30), "long file name.txt");
  EXPECT_NE(v->find("docs/long file name.txt"), kNoEntry);
  EXPECT_EQ(v->parser->name(31), "Mixed Case.txt");
  EXPECT_EQ(v->parser->name(32), "posix:name");
  EXPECT_EQ(v->parser->name(33), "SHORT.TXT");
  EXPECT_EQ(v->parser->name(34), "ONLYDOS.TXT");
  EXPECT_EQ(v->parser->name(35), "\xF0\x9F\x98\x80 smile \xC3\xA9.txt");
}

TEST(NtfsCatalogueNames, RenameReplacesTheNameEverywhere) {
  TestVolume volume;
  volume.addSystemRecords();
  volume.setRecord(11, file(5, 5, u"$R1X2Y3.txt"));
  const auto v = scanImage(volume.image());
  const EntryId id = v->find("$R1X2Y3.txt");
  ASSERT_NE(id, kNoEntry);
  v->parser->rename(id, "former name.txt");
  EXPECT_EQ(v->parser->name(id), "former name.txt");
  EXPECT_EQ(v->find("former name.txt"), id);
}

TEST(NtfsCatalogueLinks, OutOfRangeIdsAnswerEmpty) {
  TestVolume volume;
  volume.addSystemRecords();
  const auto v = scanImage(volume.image());
  for (const EntryId id : {kNoEntry, EntryId{100000}}) {
    EXPECT_EQ(v->parser->name(id), "");
    EXPECT_FALSE(v->parser->isFolder(id));
    EXPECT_TRUE(v->parser->children(id).empty());
    EXPECT_EQ(v->parser->size(id), 0u);
    CollectingSink sink;
    EXPECT_FALSE(v->parser->readContent(id, sink));
  }
}

}  // namespace
}  // namespace quorvel::test
