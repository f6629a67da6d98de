// Directory slots: what each kind of slot is, short names as DOS shows
// them, and long names put together from their slots.
#include <gtest/gtest.h>

#include <functional>

#include "fs/fat/FatBuilders.h"
#include "fs/fat/FatDirectoryEntry.h"

namespace quorvel::test {
namespace {

using fatfmt::FatWidth;
using fatfmt::SlotKind;
using Names = std::vector<std::string>;

ByteVector shortSlot(const std::string& name11, std::uint8_t attributes, std::uint8_t caseFlags = 0) {
  ShortSlot e;
  e.name = name11;
  e.attributes = attributes;
  e.caseFlags = caseFlags;
  return e.bytes();
}

TEST(FatSlots, EachSlotIsClassifiedByItsNameAndAttributes) {
  struct Case {
    const char* what;
    ByteVector slot;
    SlotKind kind;
  };
  const ByteVector longPart = longNameSlots(u"name", 0x12).front();
  const Case cases[] = {
      {"never used", ByteVector(32, 0), SlotKind::NeverUsed},
      {"never used with stale attributes", [] { ByteVector s = shortSlot("A       TXT", 0x20); s[0] = 0; return s; }(),
       SlotKind::NeverUsed},
      {"dot", shortSlot(".          ", 0x10), SlotKind::Dot},
      {"dot dot", shortSlot("..         ", 0x10), SlotKind::Dot},
      {"dot with a name after it", shortSlot(".X         ", 0x10), SlotKind::Invalid},
      {"long-name part", longPart, SlotKind::LongName},
      {"deleted long-name part", deletedSlot(longPart), SlotKind::LongName},
      {"volume label", shortSlot("MY DISK    ", 0x08), SlotKind::VolumeLabel},
      {"archive label", shortSlot("MY DISK    ", 0x28), SlotKind::VolumeLabel},
      {"folder", shortSlot("DOCS       ", 0x10), SlotKind::Folder},
      {"hidden system folder", shortSlot("DOCS       ", 0x16), SlotKind::Folder},
      {"file, no attributes", shortSlot("A       TXT", 0x00), SlotKind::File},
      {"file, archive", shortSlot("A       TXT", 0x20), SlotKind::File},
      {"file, read-only hidden system archive", shortSlot("A       TXT", 0x27), SlotKind::File},
      {"deleted file", shortSlot("\xE5       TXT", 0x20), SlotKind::File},
      {"first byte 0x05", shortSlot("\x05" "BC     TXT", 0x20), SlotKind::File},
      {"code page bytes", shortSlot("\x81" "BER    T\x82X", 0x20), SlotKind::File},
      {"control byte in the name", shortSlot("A\x01      TXT", 0x20), SlotKind::Invalid},
      {"control byte first", shortSlot("\x01       TXT", 0x20), SlotKind::Invalid},
      {"forbidden character", shortSlot("A*      TXT", 0x20), SlotKind::Invalid},
      {"forbidden character in the extension", shortSlot("A       T?T", 0x20), SlotKind::Invalid},
      {"reserved attribute bits", shortSlot("A       TXT", 0x60), SlotKind::Invalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(fatfmt::classifySlot(c.slot), c.kind);
  }
  EXPECT_EQ(fatfmt::classifySlot(Bytes(shortSlot("A       TXT", 0x20)).first(31)), SlotKind::Invalid);
}

TEST(FatSlots, ShortEntryFieldsDecodeAtTheirOffsets) {
  ShortSlot e;
  e.name = "README  TXT";
  e.attributes = 0x21;
  e.caseFlags = 0x18;
  e.creationTenths = 151;
  e.creationTime = 0x1234;
  e.creationDate = 0x2345;
  e.accessDate = 0x3456;
  e.writeTime = 0x4567;
  e.writeDate = 0x5678;
  e.firstCluster = 0x0009ABCD;
  e.size = 0x87654321;
  const fatfmt::ShortEntry d = fatfmt::decodeShortEntry(e.bytes());
  EXPECT_EQ(d.rawName, rawName("README  TXT"));
  EXPECT_EQ(d.attributes, 0x21);
  EXPECT_EQ(d.caseFlags, 0x18);
  EXPECT_EQ(d.creationTenths, 151);
  EXPECT_EQ(d.creationTime, 0x1234);
  EXPECT_EQ(d.creationDate, 0x2345);
  EXPECT_EQ(d.accessDate, 0x3456);
  EXPECT_EQ(d.writeTime, 0x4567);
  EXPECT_EQ(d.writeDate, 0x5678);
  EXPECT_EQ(d.size, 0x87654321u);
  // FAT12/16 keep other data in the high word.
  EXPECT_EQ(d.firstCluster(fatfmt::FatWidth::Fat32), 0x0009ABCDu);
  EXPECT_EQ(d.firstCluster(fatfmt::FatWidth::Fat16), 0xABCDu);
  EXPECT_EQ(d.firstCluster(fatfmt::FatWidth::Fat12), 0xABCDu);
  EXPECT_FALSE(d.deleted());
  EXPECT_TRUE(fatfmt::decodeShortEntry(shortSlot("\xE5" "EADME  TXT", 0x20)).deleted());
}

TEST(FatShortNames, NamesAreBuiltAsDosShowsThem) {
  struct Case {
    const char* name11;
    std::uint8_t caseFlags;
    const char* text;
  };
  const Case cases[] = {
      {"README  TXT", 0x00, "README.TXT"},
      {"FOO        ", 0x00, "FOO"},
      {"FOO     C  ", 0x00, "FOO.C"},
      {"FOO     CC ", 0x00, "FOO.CC"},
      {"ABCDEFGHIJK", 0x00, "ABCDEFGH.IJK"},
      {"A B     T X", 0x00, "A B.T X"},  // inner blanks stay, trailing ones go
      {"README  TXT", 0x08, "readme.TXT"},
      {"README  TXT", 0x10, "README.txt"},
      {"README  TXT", 0x18, "readme.txt"},
      {"MAKEFILE   ", 0x18, "makefile"},
      {"NOCASE~1   ", 0x08, "nocase~1"},
      {"\x81" "BER    TXT", 0x00, "\xC3\xBC" "BER.TXT"},       // 0x81 is u with diaeresis
      {"\x81" "BER    TXT", 0x08, "\xC3\xBC" "ber.TXT"},       // case flags touch ASCII only
      {"CAF\x90    DOC", 0x00, "CAF\xC3\x89.DOC"},               // 0x90 is E with acute
      {"FILE    \xE1\xE2\xE3", 0x00, "FILE.\xC3\x9F\xCE\x93\xCF\x80"},  // sharp s, Gamma, pi
      {"\x05" "BC     TXT", 0x00, "\xCF\x83" "BC.TXT"},       // 0x05 stands for 0xE5: sigma
      {"\xE5" "EADME  TXT", 0x00, "\xEF\xBF\xA5" "EADME.TXT"},  // the lost first letter
      {"\xE5" "EADME  TXT", 0x18, "\xEF\xBF\xA5" "eadme.txt"},
      {"\xE5          ", 0x00, "\xEF\xBF\xA5"},
      {"\xE5" "B      C  ", 0x00, "\xEF\xBF\xA5" "B.C"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name11);
    EXPECT_EQ(fatfmt::shortNameText(fatfmt::decodeShortEntry(shortSlot(c.name11, 0x20, c.caseFlags))), c.text);
  }
}

TEST(FatShortNames, ChecksumsAreThoseFormattersWrite) {
  // Read from long-name slots that mtools wrote.
  EXPECT_EQ(fatfmt::shortNameChecksum(rawName("ANNUAL~1TXT")), 0xD8);
  EXPECT_EQ(fatfmt::shortNameChecksum(rawName("README~1TXT")), 0x6B);
  EXPECT_EQ(fatfmt::shortNameChecksum(rawName("ZEBRAS~1JPE")), 0x7B);
}

// ---------------------------------------------------------------- long names

struct LongNameCase {
  const char* what;
  std::vector<ByteVector> slots;
  ShortSlot entry;
  std::optional<std::string> name;
};

ShortSlot entryNamed(const std::string& name11) {
  ShortSlot e;
  e.name = name11;
  return e;
}

ShortSlot deletedEntry(std::string name11) {
  name11[0] = '\xE5';
  return entryNamed(name11);
}

std::uint8_t sumOf(const std::string& name11) { return fatfmt::shortNameChecksum(rawName(name11)); }

std::vector<ByteVector> concat(std::vector<ByteVector> a, const std::vector<ByteVector>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<ByteVector> without(std::vector<ByteVector> slots, std::size_t index) {
  slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(index));
  return slots;
}

std::vector<ByteVector> withByte(std::vector<ByteVector> slots, std::size_t index, std::size_t offset, std::uint8_t value) {
  slots.at(index).at(offset) = value;
  return slots;
}

std::optional<std::string> assemble(const std::vector<ByteVector>& slots, const ShortSlot& entry) {
  fatfmt::LongNameAssembler assembler;
  for (const ByteVector& s : slots) assembler.add(s);
  return assembler.assembleLongName(fatfmt::decodeShortEntry(entry.bytes()));
}

TEST(FatLongNames, RunsAttachOnlyToTheShortEntryTheyBelongTo) {
  const std::u16string name255(255, u'n');
  const std::u16string name260(260, u'x');
  const std::string hello = "HELLO   TXT";
  const std::string other = "OTHER   TXT";
  const std::string longf = "ABCDEF~1TXT";
  const auto three = longNameSlots(u"abcdefghijklmnopqrstuvwxyz0123.txt", sumOf(longf));  // 34 units: 3 slots
  const LongNameCase cases[] = {
      {"one slot", longNameSlots(u"hello.txt", sumOf(hello)), entryNamed(hello), "hello.txt"},
      {"exactly one slot, no terminator", longNameSlots(u"hello world.t", sumOf(hello)), entryNamed(hello),
       "hello world.t"},
      {"two slots", longNameSlots(u"fourteen chars", sumOf(hello)), entryNamed(hello), "fourteen chars"},
      {"three slots", three, entryNamed(longf), "abcdefghijklmnopqrstuvwxyz0123.txt"},
      {"twenty slots, 255 characters", longNameSlots(name255, sumOf(hello)), entryNamed(hello), std::string(255, 'n')},
      {"non-BMP characters", longNameSlots(u"notes \U0001F4C1 \U0001D11E.txt", sumOf(hello)), entryNamed(hello),
       "notes \xF0\x9F\x93\x81 \xF0\x9D\x84\x9E.txt"},
      {"surrogate pair across two slots", longNameSlots(u"abcdefghijkl\U0001F600z", sumOf(hello)), entryNamed(hello),
       "abcdefghijkl\xF0\x9F\x98\x80z"},
      {"unpaired surrogate", longNameSlots(u"a\xD800" "b", sumOf(hello)), entryNamed(hello), "a\xEF\xBF\xBD" "b"},
      {"stale name before an unrelated entry", longNameSlots(u"other.txt", sumOf(other)), entryNamed(hello), std::nullopt},
      {"a newer run replaces an older one",
       concat(longNameSlots(u"other.txt", sumOf(other)), longNameSlots(u"hello.txt", sumOf(hello))), entryNamed(hello),
       "hello.txt"},
      {"missing middle slot", without(three, 1), entryNamed(longf), std::nullopt},
      {"missing first slot", without(three, 0), entryNamed(longf), std::nullopt},
      {"missing last slot", without(three, 2), entryNamed(longf), std::nullopt},
      {"repeated slot", concat(three, {three[2]}), entryNamed(longf), std::nullopt},
      {"slot of another checksum inside the run", withByte(three, 1, 13, 0x00), entryNamed(longf), std::nullopt},
      {"ordinal beyond twenty", withByte(longNameSlots(u"x", sumOf(hello)), 0, 0, 0x40 | 21), entryNamed(hello),
       std::nullopt},
      {"ordinal zero", withByte(longNameSlots(u"x", sumOf(hello)), 0, 0, 0x40), entryNamed(hello), std::nullopt},
      {"empty name", longNameSlots(u"", sumOf(hello)), entryNamed(hello), std::nullopt},
      {"deleted run before a live entry", deletedSlots(longNameSlots(u"hello.txt", sumOf(hello))), entryNamed(hello),
       std::nullopt},
      {"deleted run of a deleted entry", deletedSlots(longNameSlots(u"hello.txt", sumOf(hello))), deletedEntry(hello),
       "hello.txt"},
      {"deleted three-slot run", deletedSlots(three), deletedEntry(longf), "abcdefghijklmnopqrstuvwxyz0123.txt"},
      {"deleted 255 characters", deletedSlots(longNameSlots(name255, sumOf("NNNNNN~1   "))), deletedEntry("NNNNNN~1   "),
       std::string(255, 'n')},
      {"deleted run of more than twenty slots",
       deletedSlots(concat({longNameSlots(u"x", sumOf(hello))[0]}, longNameSlots(name260, sumOf(hello)))),
       deletedEntry(hello), std::nullopt},
      {"deleted run of another name before a deleted entry", deletedSlots(longNameSlots(u"zebra.txt", sumOf("ZEBRA   TXT"))),
       deletedEntry(hello), std::nullopt},
      {"deleted run whose name starts with a dot", deletedSlots(longNameSlots(u".profile", sumOf("PROFILE    "))),
       deletedEntry("PROFILE    "), ".profile"},
      {"deleted run whose name starts with a code page letter",
       deletedSlots(longNameSlots(u"\u00C9t\u00E9 2024.txt", sumOf("\x90T\x90" "202~1TXT"))), deletedEntry("\x90T\x90" "202~1TXT"),
       "\xC3\x89t\xC3\xA9 2024.txt"},
      {"deleted run of a name first written as 0x05",
       deletedSlots(longNameSlots(u"\u03C3igma file", sumOf("\x05" "IGMAF~1   "))), deletedEntry("\x05" "IGMAF~1   "),
       "\xCF\x83igma file"},
  };
  for (const LongNameCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(assemble(c.slots, c.entry), c.name);
  }
}

TEST(FatLongNames, ARunIsUsedUpByTheEntryAfterIt) {
  const std::string hello = "HELLO   TXT";
  fatfmt::LongNameAssembler assembler;
  for (const ByteVector& s : longNameSlots(u"hello.txt", sumOf(hello))) assembler.add(s);
  EXPECT_EQ(assembler.assembleLongName(fatfmt::decodeShortEntry(entryNamed(hello).bytes())), "hello.txt");
  EXPECT_EQ(assembler.assembleLongName(fatfmt::decodeShortEntry(entryNamed(hello).bytes())), std::nullopt);
  // A mismatch uses the run up as well, and a reset drops it.
  for (const ByteVector& s : longNameSlots(u"hello.txt", sumOf(hello))) assembler.add(s);
  EXPECT_EQ(assembler.assembleLongName(fatfmt::decodeShortEntry(entryNamed("OTHER   TXT").bytes())), std::nullopt);
  EXPECT_EQ(assembler.assembleLongName(fatfmt::decodeShortEntry(entryNamed(hello).bytes())), std::nullopt);
  for (const ByteVector& s : longNameSlots(u"hello.txt", sumOf(hello))) assembler.add(s);
  assembler.reset();
  EXPECT_EQ(assembler.assembleLongName(fatfmt::decodeShortEntry(entryNamed(hello).bytes())), std::nullopt);
}

// ---------------------------------------------------------------- in a volume

TEST(FatNamesInAVolume, TheListingShowsLongNamesWhereTheyBelongAndShortNamesElsewhere) {
  FatVolume volume(FatWidth::Fat12, 200);
  ShortSlot report = entryNamed("ANNUAL~1PDF");
  ShortSlot stale = entryNamed("PLAIN   TXT");
  ShortSlot gone = entryNamed("OLDREP~1DOC");
  ShortSlot lower = entryNamed("MAKEFILE   ");
  lower.caseFlags = 0x08;
  Directory root;
  root.entry([] { ShortSlot l = entryNamed("MY VOLUME  "); l.attributes = 0x08; return l; }())
      .named(u"Annual report 2023.pdf", report)
      .slots(longNameSlots(u"not mine.txt", sumOf("NOTMIN~1TXT")))
      .entry(stale)
      .slots(deletedSlots(longNameSlots(u"old report.doc", gone.checksum())))
      .entry(deletedEntry(gone.name))
      .entry(lower)
      .named(u"\U0001F4C1 photos", [] { ShortSlot f = entryNamed("PHOTOS~1   "); f.attributes = 0x10; f.firstCluster = 9; return f; }());
  volume.writeRoot(root);
  volume.writeFolder(9, Directory().dots(9, 0));
  volume.chain({9});
  const auto v = scanFat(volume);
  ASSERT_TRUE(v->scanned);
  EXPECT_EQ(v->topNames(), (Names{"Annual report 2023.pdf", "PLAIN.TXT", "old report.doc", "makefile",
                                  "\xF0\x9F\x93\x81 photos"}));
  EXPECT_TRUE(v->parser->isDeleted(v->find("old report.doc")));
  EXPECT_FALSE(v->parser->isDeleted(v->find("PLAIN.TXT")));
}

TEST(FatNamesInAVolume, SlotsThatAreNotEntriesBreakALongName) {
  // A label, a dot entry or a damaged slot between a run and its entry
  // leaves the entry with its short name.
  const std::string hello = "HELLO   TXT";
  const ByteVector breakers[] = {shortSlot("LABEL      ", 0x08), shortSlot(".          ", 0x10),
                                 shortSlot("BAD*    TXT", 0x20)};
  for (const ByteVector& breaker : breakers) {
    FatVolume volume(FatWidth::Fat12, 200);
    volume.writeRoot(Directory().slots(longNameSlots(u"hello.txt", sumOf(hello))).slot(breaker).entry(entryNamed(hello)));
    const auto v = scanFat(volume);
    ASSERT_TRUE(v->scanned);
    EXPECT_EQ(v->topNames(), (Names{"HELLO.TXT"}));
  }
}

}  // namespace
}  // namespace quorvel::test
