// Entry sets: names by NameLength, the secondary count, sets cut off or
// spread over two clusters, deleted sets proven by their checksum, and the
// volume's own entries, which are never listed.
#include <gtest/gtest.h>

#include "fs/fat/ExFatBuilders.h"

namespace quorvel::test {
namespace {

using Names = std::vector<std::string>;

ExFatEntrySet named(const std::u16string& name) { return exFile(name, 0, 0); }

template <typename Change>
ExFatEntrySet changed(const std::u16string& name, Change change) {
  ExFatEntrySet e = named(name);
  change(e);
  return e;
}

std::vector<ByteVector> withoutSlot(std::vector<ByteVector> slots, std::size_t index) {
  slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(index));
  return slots;
}

std::vector<ByteVector> withType(std::vector<ByteVector> slots, std::size_t index, std::uint8_t type) {
  slots.at(index)[0] = type;
  return slots;
}

ByteVector typed(std::uint8_t type) {
  ByteVector s(32, 0);
  s[0] = type;
  return s;
}

// One 4 KiB root cluster: room for every case in one directory.
std::unique_ptr<ScannedFat> scanRoot(const ExFatDirectory& root) {
  ExFatVolume volume(600, 3);
  volume.writeRoot(root);
  auto v = scanExFat(volume);
  EXPECT_TRUE(v->scanned);
  EXPECT_TRUE(v->observer.messages.empty());
  return v;
}

TEST(ExFatEntrySets, NamesAreNameLengthUnitsOfTheNameEntries) {
  const std::u16string longest(255, u'n');
  const struct {
    const char* what;
    std::vector<ByteVector> slots;
    std::optional<std::string> name;  // nothing: not listed
  } cases[] = {
      {"one name entry", named(u"short.txt").slots(), "short.txt"},
      {"fifteen units fill one entry", named(u"fifteen-chars.x").slots(), "fifteen-chars.x"},
      {"twenty characters in two entries", named(u"twenty-characters.tx").slots(), "twenty-characters.tx"},
      {"255 units in seventeen entries", named(longest).slots(), std::string(255, 'n')},
      {"NameLength shorter than the text", changed(u"LongerName.txt", [](auto& e) { e.nameLength = 6; }).slots(),
       "Longer"},
      {"a zero unit inside the name", named(std::u16string(u"ab\0cd", 5)).slots(), std::string("ab\0cd", 5)},
      {"letters beyond ASCII", named(u"Grüße €.txt").slots(), "Grüße €.txt"},
      {"a surrogate pair", named(u"\U0001F600.png").slots(), "\xF0\x9F\x98\x80.png"},
      {"an unpaired surrogate", named(std::u16string{0xD800, u'x'}).slots(), "\xEF\xBF\xBDx"},
      {"a vendor entry after the name",
       changed(u"vendor.txt", [](auto& e) { e.extraSecondaries = {typed(0xE0)}; }).slots(), "vendor.txt"},
      {"NameLength 0", changed(u"zero.txt", [](auto& e) { e.nameLength = 0; }).slots(), std::nullopt},
      {"NameLength beyond the name entries", changed(u"abc", [](auto& e) { e.nameLength = 16; }).slots(), std::nullopt},
      {"secondary count 1", changed(u"one.txt", [](auto& e) { e.secondaryCount = 1; }).slots(), std::nullopt},
      {"secondary count 19",
       changed(u"nineteen.txt",
               [](auto& e) {
                 e.extraSecondaries.assign(17, typed(0xE0));
                 e.secondaryCount = 19;
               })
           .slots(),
       std::nullopt},
      {"no stream entry", withoutSlot(named(u"nostream.txt").slots(), 1), std::nullopt},
      {"a deleted name entry in a live set", withType(named(u"halfgone.txt").slots(), 2, 0x41), std::nullopt},
      {"a stream entry where the name should be", withType(named(u"twostreams.txt").slots(), 2, 0xC0), std::nullopt},
      // The count takes in the next set's file and stream entries.
      {"secondary count reaching into the next set",
       changed(u"greedy.txt", [](auto& e) { e.secondaryCount = 4; }).slots(), std::nullopt},
      {"the set after it", named(u"next.txt").slots(), "next.txt"},
      {"stray stream and name entries", withoutSlot(named(u"stray.txt").slots(), 0), std::nullopt},
      {"the last set", named(u"last.txt").slots(), "last.txt"},
  };
  ExFatDirectory root;
  Names expected;
  for (const auto& c : cases) {
    root.slots(c.slots);
    if (c.name) expected.push_back(*c.name);
  }
  EXPECT_EQ(scanRoot(root)->topNames(), expected);
}

TEST(ExFatEntrySets, TheVolumesOwnEntriesAreNeverListed) {
  ByteVector label = typed(0x83);
  label[1] = 3;
  putLe16(label, 2, u'V');
  ExFatDirectory root;
  root.slot(label)
      .set(named(u"a.txt"))
      .slot(typed(0xA0))  // volume GUID
      .slot(typed(0xA1))  // TexFAT padding
      .slot(typed(0x03))  // a deleted label
      .slot(typed(0x01))  // unused
      .slot(typed(0x81))  // a second bitmap entry
      .set(named(u"b.txt"))
      .slot(typed(0x00))  // the end marker; what follows is read as left over
      .set(named(u"c.txt"));
  const auto v = scanRoot(root);
  EXPECT_EQ(v->topNames(), (Names{"a.txt", "b.txt", "c.txt"}));
}

TEST(ExFatEntrySets, ASetCutOffByTheEndOfItsFolderIsNotListed) {
  // A one-cluster folder of sixteen slots; a four-slot set from slot 12
  // just fits, from 13 on it is cut off.
  for (std::size_t start = 12; start <= 15; ++start) {
    SCOPED_TRACE(start);
    ExFatVolume volume(2400);
    const std::uint32_t cs = volume.clusterSize();
    volume.chain({30});
    volume.chain({31});  // the next cluster holds what a reader must not take for the rest
    volume.writeFolder({31}, ExFatDirectory().slots(std::vector<ByteVector>(16, typed(0xC1))));
    const ByteVector slots =
        ExFatDirectory().set(named(u"first.txt")).padTo(start).set(named(u"twenty-characters.tx")).bytes(2 * cs);
    volume.writeCluster(30, ByteVector(slots.begin(), slots.begin() + cs));
    volume.writeRoot(ExFatDirectory().set(exFolder(u"dir", 30, cs)));
    const auto v = scanExFat(volume);
    ASSERT_TRUE(v->scanned);
    const Names expected = start == 12 ? Names{"first.txt", "twenty-characters.tx"} : Names{"first.txt"};
    EXPECT_EQ(v->childNames(v->find("dir")), expected);
  }
}

TEST(ExFatEntrySets, ASetMayRunFromOneClusterOfItsFolderIntoTheNext) {
  ExFatVolume volume(2400);
  const std::uint32_t cs = volume.clusterSize();
  // The folder's clusters lie backwards; a set takes slots 14, 15 of the
  // first and 0, 1 of the second.
  volume.chain({40, 33});
  const ByteVector data = pattern(700, 9);
  volume.chain({50, 51});
  volume.spread({50, 51}, data);
  ExFatDirectory folder;
  folder.set(named(u"before.txt"))
      .padTo(14)
      .set(exFile(u"across-the-boundary.dat", 50, data.size()))
      .set(named(u"after.txt"));
  volume.writeFolder({40, 33}, folder);
  volume.writeRoot(ExFatDirectory().set(exFolder(u"dir", 40, 2 * cs)));
  const auto v = scanExFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->childNames(v->find("dir")), (Names{"before.txt", "across-the-boundary.dat", "after.txt"}));
  bool complete = false;
  EXPECT_EQ(v->content(v->find("dir/across-the-boundary.dat"), &complete), data);
  EXPECT_TRUE(complete);
}

TEST(ExFatEntrySets, DeletedSetsMustProveThemselvesByTheirChecksum) {
  const ExFatEntrySet goodFile = named(u"deleted-good.txt");
  const ExFatEntrySet badFile = changed(u"deleted-bad.txt", [](auto& e) { e.wrongChecksum = true; });
  const ExFatEntrySet liveBad = changed(u"live-bad.txt", [](auto& e) { e.wrongChecksum = true; });
  const ExFatEntrySet goneFolder = exFolder(u"deleted-folder", 0, 0);
  // A deleted set whose name slot a later set took.
  std::vector<ByteVector> reused = deletedSet(named(u"reused-slots.txt").slots());
  reused.resize(2);

  ExFatDirectory root;
  root.deleted(goodFile).deleted(badFile).set(liveBad).deleted(goneFolder).slots(reused).set(named(u"new.txt"));
  const auto v = scanRoot(root);
  EXPECT_EQ(v->topNames(), (Names{"deleted-good.txt", "live-bad.txt", "deleted-folder", "new.txt"}));
  const struct {
    const char* name;
    bool deleted, folder;
  } expected[] = {
      {"deleted-good.txt", true, false},
      {"live-bad.txt", false, false},
      {"deleted-folder", true, true},
      {"new.txt", false, false},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    const EntryId id = v->find(e.name);
    ASSERT_NE(id, kNoEntry);
    EXPECT_EQ(v->parser->isDeleted(id), e.deleted);
    EXPECT_EQ(v->parser->isFolder(id), e.folder);
  }
}

TEST(ExFatEntrySets, ADeletedSetWithAnyFieldChangedFailsItsChecksum) {
  // The checksum holds after the in-use bits were cleared, and covers every
  // other byte of the set, so no field can have been overwritten since.
  const ExFatEntrySet set = changed(u"some-name-longer-than-15.bin", [](auto& e) {
    e.firstCluster = 77;
    e.validDataLength = 12345;
    e.attributes = 0x21;
  });
  const auto v = scanRoot(ExFatDirectory().deleted(set));
  EXPECT_EQ(v->topNames(), (Names{"some-name-longer-than-15.bin"}));
  const struct {
    const char* field;
    std::size_t slot, offset;
  } changes[] = {{"attributes", 0, 4},  {"modified time", 0, 13},     {"stream flags", 1, 1},
                 {"name length", 1, 3}, {"valid length", 1, 8},       {"first cluster", 1, 20},
                 {"a name unit", 2, 2}, {"the last name byte", 3, 31}};
  for (const auto& c : changes) {
    SCOPED_TRACE(c.field);
    std::vector<ByteVector> slots = deletedSet(set.slots());
    slots[c.slot][c.offset] ^= 0x01;
    const auto changed = scanRoot(ExFatDirectory().slots(slots).set(named(u"marker.txt")));
    EXPECT_EQ(changed->topNames(), (Names{"marker.txt"}));
  }
}

}  // namespace
}  // namespace quorvel::test
