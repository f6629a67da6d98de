#include "session/RecycleBin.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/FakeParser.h"

namespace quorvel {
namespace {

using test::FakeParser;

// An index file of the older layout (path at byte 24) or the newer one
// (version 2, name length at 24, path at 28).
std::string indexFile(const std::u16string& path, int version) {
  std::string bytes(version == 2 ? 28 : 24, '\0');
  bytes[0] = static_cast<char>(version);
  if (version == 2) bytes[24] = static_cast<char>(path.size() + 1);
  for (const char16_t unit : path) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  bytes += std::string(version == 2 ? 2 : 520 - 2 * path.size(), '\0');
  return bytes;
}

std::optional<std::string> former(const std::string& bytes) {
  return formerNameFromIndexFile(Bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TEST(RecycleBinIndexFile, BothLayouts) {
  EXPECT_EQ(former(indexFile(u"C:\\Users\\me\\Report.docx", 1)), "Report.docx");
  EXPECT_EQ(former(indexFile(u"C:\\Users\\me\\Пример 😀.txt", 2)), "Пример 😀.txt");
  EXPECT_EQ(former(indexFile(u"nobackslash.txt", 1)), "nobackslash.txt");
  EXPECT_FALSE(former(std::string(10, '\0')));
  EXPECT_EQ(former(indexFile(u"", 2)), "");
}

struct Bin {
  FakeParser p;
  EntryId userFolder = kNoEntry;
  EntryId data = kNoEntry;
  EntryId loose = kNoEntry;
};

std::unique_ptr<Bin> makeBin(const std::string& binName, int version) {
  auto made = std::make_unique<Bin>();
  Bin& bin = *made;
  const EntryId top = bin.p.folder(binName);
  bin.userFolder = bin.p.folder("S-1-5-21-1000", top);
  bin.p.file("$IAB12CD.docx", bin.userFolder, indexFile(u"C:\\Users\\me\\Report.docx", version));
  bin.data = bin.p.file("$RAB12CD.docx", bin.userFolder, "report body");
  bin.p.file("$IXY.txt", top, indexFile(u"D:\\loose.txt", version));
  bin.loose = bin.p.file("$RXY.txt", top, "loose");
  return made;
}

TEST(RecycleBinNames, DataFilesInUserFoldersGetTheirFormerNames) {
  for (const int version : {1, 2}) {
    const auto binMade = makeBin("$RECYCLE.BIN", version);
  Bin& bin = *binMade;
    EXPECT_EQ(restoreRecycleBinNames(bin.p), 1);
    EXPECT_EQ(bin.p.name(bin.data), "Report.docx");
    EXPECT_EQ(bin.p.name(bin.loose), "$RXY.txt");  // directly in the bin: not a user folder
  }
}

TEST(RecycleBinNames, FlatBinsAndUnrecognisedFolders) {
  const auto flatMade = makeBin("$RECYCLEBIN", 1);
  Bin& flat = *flatMade;
  flat.p.recycleBin = RecycleBinLayout::FlatAndUserFolders;
  EXPECT_EQ(restoreRecycleBinNames(flat.p), 2);
  EXPECT_EQ(flat.p.name(flat.loose), "loose.txt");
  EXPECT_EQ(flat.p.name(flat.data), "Report.docx");

  const auto wrongCaseMade = makeBin("$Recycle.Bin", 1);
  Bin& wrongCase = *wrongCaseMade;
  EXPECT_EQ(restoreRecycleBinNames(wrongCase.p), 0);

  const auto notHandledMade = makeBin("$RECYCLE.BIN", 1);
  Bin& notHandled = *notHandledMade;
  notHandled.p.recycleBin = RecycleBinLayout::None;
  EXPECT_EQ(restoreRecycleBinNames(notHandled.p), 0);
}

TEST(RecycleBinNames, TwoIndexFilesNamingOneFileGiveTwoDataFilesThatName) {
  FakeParser p;
  const EntryId user = p.folder("u", p.folder("$RECYCLE.BIN"));
  p.file("$IAAAAAA.txt", user, indexFile(u"C:\\same.txt", 2));
  p.file("$IBBBBBB.txt", user, indexFile(u"C:\\other\\same.txt", 1));
  const EntryId first = p.file("$RAAAAAA.txt", user, "1");
  const EntryId second = p.file("$RBBBBBB.txt", user, "2");
  const EntryId orphanIndex = p.file("$ICCCCCC.txt", user, indexFile(u"C:\\gone.txt", 1));
  EXPECT_EQ(restoreRecycleBinNames(p), 2);
  EXPECT_EQ(p.name(first), "same.txt");
  EXPECT_EQ(p.name(second), "same.txt");
  EXPECT_EQ(p.name(orphanIndex), "$ICCCCCC.txt");
}

}  // namespace
}  // namespace quorvel
