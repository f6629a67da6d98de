#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "raw/SettingsFile.h"
#include "raw/SignatureRecord.h"
#include "raw/SignatureTable.h"
#include "support/TestSupport.h"

namespace quorvel::raw {
namespace {

using test::TempFolder;

SignatureForm pngForm() {
  SignatureForm form;
  form.extension = "png";
  form.startSignature = "0x89,0x50,0x4E,0x47";
  form.endSignature = "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82";
  form.approximateSize = "1048576";
  form.category = "Pictures";
  return form;
}

std::uint64_t fileLength(const std::filesystem::path& path) { return std::filesystem::file_size(path); }

TEST(SignatureRecord, AnyRecordBytesRoundTripExactly) {
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    std::array<std::uint8_t, kRecordBytes> bytes{};
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    EXPECT_EQ(encodeRecord(decodeRecord(Bytes(bytes))), bytes) << "round " << round;
  }
}

TEST(SignatureRecord, FieldsLieAtTheirOffsets) {
  const FormRecord made = recordFromForm(pngForm(), 7);
  ASSERT_TRUE(made.record);
  const auto bytes = encodeRecord(*made.record);
  EXPECT_EQ(bytes[0], 'p');
  EXPECT_EQ(bytes[2], 'n');
  EXPECT_EQ(bytes[8], 0);
  EXPECT_EQ(bytes[10], 3);
  EXPECT_EQ(bytes[11], 0x89);
  EXPECT_EQ(bytes[21], 0x49);
  EXPECT_EQ(bytes[31], 4);
  EXPECT_EQ(bytes[32], 8);
  EXPECT_EQ(bytes[33], 7);
  EXPECT_EQ(le32(Bytes(bytes), 34), 0xFFFFFFFFu);  // no size field
  EXPECT_EQ(le64(Bytes(bytes), 51), 1048576u);
  EXPECT_EQ(bytes[67], 'P');
  EXPECT_EQ(bytes[67 + 16], 0);  // "Pictures" ends with a zero unit
}

TEST(SignatureRecord, SignatureTexts) {
  const struct {
    const char* text;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"0x89,0x50,0x4E,0x47", {0x89, 0x50, 0x4E, 0x47}},
      {"89, 50,,4e", {0x89, 0x50, 0x4E}},
      {"0X1ff,zz,  0x2A", {0xFF, 0x00, 0x2A}},
      {",,,", {}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseSignatureText(c.text), c.bytes) << c.text;
}

TEST(SignatureRecord, FormRules) {
  SignatureForm form = pngForm();
  form.startSignature = "1,2,3,4,5,6,7,8,9,a,b";  // an eleventh byte is dropped
  form.extension = "jpeg2000";                     // stored as "jpeg" with its full length
  form.category = std::string(60, 'c');            // the first 50 units, no terminating zero
  form.sizeFieldOffset = "0";                      // not above 0: none
  form.sizeFieldBytes = "four";                    // unreadable: 0
  form.skipSize = "-5";
  const FormRecord made = recordFromForm(form, 0);
  ASSERT_TRUE(made.record);
  const SignatureRecord& r = *made.record;
  EXPECT_EQ(r.startLength, 10);
  EXPECT_EQ(r.startSignature[9], 0x0A);
  EXPECT_EQ(extensionText(r), "jpeg");
  EXPECT_EQ(r.extensionLength, 8);
  EXPECT_EQ(r.extension[4], 0);
  EXPECT_EQ(categoryText(r), std::string(50, 'c'));
  EXPECT_EQ(r.sizeFieldOffset, -1);
  EXPECT_EQ(r.sizeFieldBytes, 0);
  EXPECT_EQ(r.skipSize, -5);
  EXPECT_EQ(made.message, kRecordSaved);

  form = pngForm();
  form.extension = "";
  EXPECT_EQ(recordFromForm(form, 0).message, kExtensionEmpty);
  form = pngForm();
  form.startSignature = ",,";
  EXPECT_EQ(recordFromForm(form, 0).message, kSignatureEmpty);
}

TEST(SignatureRecord, SignaturesThatAreNotBytesOrTooShortAreRefusedWithTheReason) {
  // Stored as they parse, "hello" would be one 0x00 byte: a match in nearly
  // every sector.
  const struct {
    const char* start;
    const char* end;
    const char* says;  // empty: accepted
  } cases[] = {
      {"hello", "", "\"hello\" is not one"},
      {"0x89,0x5G", "", "\"0x5G\" is not one"},
      {"0x89,0x1ff", "", "\"0x1ff\" is not one"},
      {"0x00", "", "at least 2 bytes"},
      {"0x89,,", "", "at least 2 bytes"},
      {"0x89,0x50", "ff", "end signature needs at least 2 bytes"},
      {"0x89,0x50", "0xFF,0xD9,x", "\"x\" is not one"},
      {" 0x89 , 50 ,4e", "", ""},
      {"0x89,0x50", "", ""},
      {"FF,D8", "ff, d9", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.start) + " / " + c.end);
    SignatureForm form = pngForm();
    form.startSignature = c.start;
    form.endSignature = c.end;
    const FormRecord made = recordFromForm(form, 0);
    if (*c.says == '\0') {
      EXPECT_TRUE(made.record);
      EXPECT_EQ(made.message, kRecordSaved);
    } else {
      EXPECT_FALSE(made.record);
      EXPECT_NE(made.message.find(c.says), std::string::npos) << made.message;
    }
  }
}

TEST(SettingsFile, AppendingKeepsWhatTheFileHeld) {
  TempFolder folder;
  const auto path = folder.path() / "mine.set";
  EXPECT_EQ(appendToSettingsFile(path, pngForm()), kRecordSaved);  // created when missing
  SignatureForm second = pngForm();
  second.extension = "gif";
  EXPECT_EQ(appendToSettingsFile(path, second), kRecordSaved);
  SignatureForm empty = pngForm();
  empty.extension = "";
  EXPECT_EQ(appendToSettingsFile(path, empty), kExtensionEmpty);
  EXPECT_EQ(fileLength(path), 2 * kRecordBytes);

  const SettingsRead read = readSettingsFile(path, SettingsOrigin::Chosen);
  ASSERT_TRUE(read.ok) << read.message;
  ASSERT_EQ(read.records.size(), 2u);
  EXPECT_EQ(extensionText(read.records[0]), "png");
  EXPECT_EQ(extensionText(read.records[1]), "gif");
  EXPECT_EQ(read.records[1].index, 1);
}

TEST(SettingsFile, EveryRecordPastTheIndexByteWrapIsRead) {
  std::vector<SignatureRecord> records(300, *recordFromForm(pngForm(), 0).record);
  records.back().extension[0] = u'x';
  TempFolder folder;
  const auto path = folder.path() / "many.set";
  ASSERT_TRUE(writeSettingsFile(path, records));
  const SettingsRead read = readSettingsFile(path, SettingsOrigin::Chosen);
  ASSERT_TRUE(read.ok);
  ASSERT_EQ(read.records.size(), 300u);
  EXPECT_EQ(read.records.back().index, 299 & 0xFF);
  EXPECT_EQ(extensionText(read.records.back()), "xng");
}

TEST(SettingsFile, RefusedFiles) {
  TempFolder folder;
  const SignatureRecord png = *recordFromForm(pngForm(), 0).record;
  SignatureRecord wideSize = png;
  wideSize.sizeFieldBytes = 9;
  const struct {
    const char* what;
    std::vector<SignatureRecord> records;
    std::size_t extraBytes;
    SettingsOrigin origin;
    bool ok;
    const char* message;
  } cases[] = {
      {"one record", {png}, 0, SettingsOrigin::Chosen, true, ""},
      {"shorter than a record", {}, 170, SettingsOrigin::Chosen, false, kNotValidFile},
      {"size field of 9 bytes", {png, wideSize}, 0, SettingsOrigin::Chosen, false, kNotValidFile},
      {"size field of 9 bytes, default file", {png, wideSize}, 0, SettingsOrigin::Default, true, ""},
      {"last record past 1 MiB", std::vector<SignatureRecord>(6200, png), 0, SettingsOrigin::Chosen, false, kNotValidFile},
      {"a cut last record is not read", {png}, 100, SettingsOrigin::Chosen, true, ""},
  };
  for (const auto& c : cases) {
    const auto path = folder.path() / "case.set";
    ASSERT_TRUE(writeSettingsFile(path, c.records));
    std::ofstream(path, std::ios::app | std::ios::binary) << std::string(c.extraBytes, '\0');
    const SettingsRead read = readSettingsFile(path, c.origin);
    EXPECT_EQ(read.ok, c.ok) << c.what;
    EXPECT_EQ(read.message, c.message) << c.what;
    if (c.ok) {
      EXPECT_EQ(read.records.size(), c.records.size()) << c.what;
    }
  }
  EXPECT_EQ(readSettingsFile(folder.path() / "absent", SettingsOrigin::Chosen).message, kCannotOpenFile);
  EXPECT_EQ(readSettingsFile(folder.path() / "absent", SettingsOrigin::Default).message, "");
}

TEST(SignatureTable, TheShippedTableMakesEveryDefaultType) {
  std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/data/signatures.tsv");
  std::stringstream text;
  text << in.rdbuf();
  const SignatureTable table = parseSignatureTable(text.str());
  ASSERT_EQ(table.error, "");
  std::set<std::string> extensions, categories;
  for (const SignatureRecord& r : table.records) {
    extensions.insert(extensionText(r));
    categories.insert(categoryText(r));
  }
  for (const char* e : {"jpg", "png", "gif", "bmp", "tif", "pdf", "zip", "rar", "7z", "gz", "mp3", "wav", "avi", "mp4",
                        "mkv", "db", "doc", "exe", "elf"})
    EXPECT_TRUE(extensions.count(e)) << e;
  EXPECT_EQ(categories, (std::set<std::string>{"Pictures", "Documents", "Archives", "Audio", "Video", "Other"}));
  EXPECT_NE(parseSignatureTable("jpg\tPictures\tFF\n").error, "");
}

}  // namespace
}  // namespace quorvel::raw
