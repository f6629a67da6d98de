// Where a default type's file ends, on hand-made bytes: the cases the
// fixture's well-formed files do not reach (false starts, cut files, a PDF
// followed by another).
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "io/FileReadSeek.h"
#include "raw/FileEnds.h"
#include "support/TestSupport.h"

namespace quorvel::raw {
namespace {

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::optional<std::uint64_t> endOf(FileStructure structure, const std::vector<std::uint8_t>& bytes,
                                   std::uint64_t limit = 1 << 20) {
  test::TempImage image(bytes);
  FileReadSeek source;
  EXPECT_TRUE(source.open(image.path()));
  const VolumeView view(source, {0, 0});
  const std::optional<FileEnd> end = findFileEnd(structure, view, 0, limit);
  if (!end) return std::nullopt;
  return end->length;
}

std::string pdfBody(const std::string& tail) { return "%PDF-1.4\n1 0 obj\n<<>>\nendobj\ntrailer\n<<>>\n%%EOF\n" + tail; }

std::vector<std::uint8_t> smallBmp() {
  std::vector<std::uint8_t> bmp(64, 0);
  bmp[0] = 'B', bmp[1] = 'M', bmp[2] = 64, bmp[10] = 54, bmp[14] = 40;
  return bmp;
}

TEST(FileEnds, WalkedEndsAndRefusedStarts) {
  const std::string onePdf = pdfBody("");
  std::string nextPdf = pdfBody("2 0 obj\n");  // looks like an update ...
  nextPdf.resize(512, ' ');
  nextPdf += pdfBody("");                      // ... but a new PDF starts on the next sector
  const std::string updated = pdfBody("2 0 obj\n<<>>\nendobj\n%%EOF\n");
  const std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0,
                                         0,    0,   'I', 'E', 'N',  'D',  0,    0,    0, 0};
  std::vector<std::uint8_t> bmpReserved = smallBmp();
  bmpReserved[6] = 1;
  std::vector<std::uint8_t> sqlite(4096, 0);
  const std::string sqliteMagic("SQLite format 3\0", 16);
  std::copy(sqliteMagic.begin(), sqliteMagic.end(), sqlite.begin());
  sqlite[16] = 0x04, sqlite[21] = 64, sqlite[22] = 32, sqlite[23] = 32, sqlite[31] = 1;  // 1024-byte pages, 1 page
  std::vector<std::uint8_t> sqliteStale = sqlite;
  sqliteStale[27] = 5;  // changed since the page count was written

  const struct {
    const char* what;
    FileStructure structure;
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint64_t> end;
  } cases[] = {
      {"a PDF ends after its %%EOF line", FileStructure::Pdf, bytesOf(onePdf + "\x01\x02 filler"), onePdf.size()},
      {"an incremental update ends at the last %%EOF", FileStructure::Pdf, bytesOf(updated + "\xFF\xFE"), updated.size()},
      {"a PDF on the next sector ends the one before", FileStructure::Pdf, bytesOf(nextPdf), pdfBody("").size()},
      {"a PDF without %%EOF is no file", FileStructure::Pdf, bytesOf("%PDF-1.4\n1 0 obj\n"), std::nullopt},
      {"a JPEG start followed by noise", FileStructure::Jpeg, {0xFF, 0xD8, 0xFF, 0x00, 0x12, 0x34}, std::nullopt},
      {"a JPEG with no frame or scan", FileStructure::Jpeg, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xD9}, std::nullopt},
      {"a PNG whose first chunk is not IHDR", FileStructure::Png, png, std::nullopt},
      {"a BMP", FileStructure::Bmp, smallBmp(), 64},
      {"a BMP with reserved bytes set", FileStructure::Bmp, bmpReserved, std::nullopt},
      {"a ZIP cut before its directory", FileStructure::Zip, bytesOf(std::string("PK\x03\x04", 4) + std::string(26, '\0')),
       std::nullopt},
      {"an SQLite database", FileStructure::Sqlite, sqlite, 1024},
      {"an SQLite page count gone stale", FileStructure::Sqlite, sqliteStale, std::nullopt},
      {"a RIFF size past the limit", FileStructure::Riff, bytesOf(std::string("RIFF\xFF\xFF\xFF\x00WAVEfmt ", 16)),
       std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(endOf(c.structure, c.bytes), c.end) << c.what;
}

// A RAR 4 archive: marker, archive header (its CRC checked), one stored
// file of 5 bytes, end of archive; then filler.
std::vector<std::uint8_t> rar4(bool goodCrc) {
  std::vector<std::uint8_t> b = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  std::vector<std::uint8_t> archive = {0, 0, 0x73, 0, 0, 13, 0, 0, 0, 0, 0, 0, 0};
  const auto crc = static_cast<std::uint16_t>(crc32(0, archive.data() + 2, 11) & 0xFFFF) ^ (goodCrc ? 0 : 1);
  archive[0] = static_cast<std::uint8_t>(crc), archive[1] = static_cast<std::uint8_t>(crc >> 8);
  b.insert(b.end(), archive.begin(), archive.end());
  std::vector<std::uint8_t> file(33, 0);
  file[2] = 0x74, file[4] = 0x80, file[5] = 33, file[7] = 5, file[26] = 1, file[32] = 'a';  // packed size 5, name "a"
  b.insert(b.end(), file.begin(), file.end());
  b.insert(b.end(), {1, 2, 3, 4, 5});
  b.insert(b.end(), {0, 0, 0x7B, 0, 0, 7, 0});
  b.insert(b.end(), 100, 0xEE);
  return b;
}

TEST(FileEnds, Rar4BlocksToTheEndOfArchive) {
  EXPECT_EQ(endOf(FileStructure::Rar, rar4(true)), 65u);
  EXPECT_EQ(endOf(FileStructure::Rar, rar4(false)), std::nullopt);
}

TEST(FileEnds, NoWalkReadsPastItsLimit) {
  EXPECT_EQ(endOf(FileStructure::Bmp, smallBmp(), 64), 64u);
  EXPECT_EQ(endOf(FileStructure::Bmp, smallBmp(), 63), std::nullopt);
}

}  // namespace
}  // namespace quorvel::raw
