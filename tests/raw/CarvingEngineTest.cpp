#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "io/FileReadSeek.h"
#include "raw/CarvingEngine.h"
#include "support/TestSupport.h"

namespace quorvel::raw {
namespace {

using test::RecordingObserver;
using test::TempImage;

constexpr std::uint64_t kMiB = 1 << 20;

SignatureForm form(const char* extension, const char* start, const char* end = "", const char* approximate = "0",
                   const char* category = "Things") {
  SignatureForm f;
  f.extension = extension;
  f.startSignature = start;
  f.endSignature = end;
  f.approximateSize = approximate;
  f.category = category;
  return f;
}

void plant(std::vector<std::uint8_t>& image, std::uint64_t at, std::vector<std::uint8_t> bytes) {
  if (image.size() < at + bytes.size()) image.resize(at + bytes.size());
  std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

struct Carved {
  std::vector<CarvedFile> files;
  std::vector<std::string> categoryTexts;
  RecordingObserver said;
};

Carved carveWith(const std::vector<std::uint8_t>& image, const std::vector<SignatureForm>& forms, bool stopFirst = false) {
  std::vector<SignatureRecord> records;
  for (const SignatureForm& f : forms) records.push_back(*recordFromForm(f, 0).record);
  CarvingEngine engine;
  engine.load(records, false);
  TempImage file(image);
  FileReadSeek source;
  EXPECT_TRUE(source.open(file.path()));
  const VolumeView view(source, {0, 0});
  Carved out;
  JobContext job(&out.said);
  if (stopFirst) job.requestStop();
  EXPECT_TRUE(engine.carve(view, job));
  out.files = engine.carvedFiles();
  for (const CarveCategory& c : engine.runs().back().categories) out.categoryTexts.push_back(c.text());
  return out;
}

std::vector<std::tuple<std::uint64_t, std::uint64_t, std::string>> ranges(const Carved& carved) {
  std::vector<std::tuple<std::uint64_t, std::uint64_t, std::string>> out;
  for (const CarvedFile& f : carved.files) out.emplace_back(f.start, f.length, f.name);
  std::sort(out.begin(), out.end());
  return out;
}

// Files closed by an end signature are named after their start, as every
// other carved file is.
TEST(CarvingEngine, EndSignaturesAtAnyByteAcrossChunksEndAtTheirLastByte) {
  std::vector<std::uint8_t> image(2 * kMiB, 0x55);
  plant(image, 3 * 512, {0xAB, 0xCD, 0xEF});
  plant(image, 3 * 512 + 700, {0x12, 0x34, 0x56});  // inside a sector
  plant(image, kMiB - 512, {0xAB, 0xCD, 0xEF});
  plant(image, kMiB - 1, {0x12, 0x34, 0x56});       // across the chunk boundary
  const Carved carved = carveWith(image, {form("bin", "AB,CD,EF", "12,34,56")});
  using Row = std::tuple<std::uint64_t, std::uint64_t, std::string>;
  EXPECT_EQ(ranges(carved), (std::vector<Row>{{3 * 512, 703, "1536 .bin"}, {kMiB - 512, 514, "1048064 .bin"}}));
  for (const CarvedFile& f : carved.files) EXPECT_EQ(f.name, std::to_string(f.start) + " .bin");
  EXPECT_EQ(carved.said.messages, std::vector<std::string>{kCarveDone});
  EXPECT_EQ(carved.categoryTexts, std::vector<std::string>{"Things (2)"});
}

TEST(CarvingEngine, SizeFieldFilesResumeRightBehindThemselves) {
  // A file of exactly two sectors with the next file right behind it.
  std::vector<std::uint8_t> image(kMiB, 0);
  plant(image, 0, {0x51, 0x52, 0, 0, 0x00, 0x04, 0, 0});  // size 1024 at offset 4
  plant(image, 1024, {0x51, 0x52, 0, 0, 0x00, 0x02, 0, 0});
  SignatureForm sized = form("sz", "51,52", "", "100000");
  sized.sizeFieldOffset = "4";
  sized.sizeFieldBytes = "4";
  using Row = std::tuple<std::uint64_t, std::uint64_t, std::string>;
  EXPECT_EQ(ranges(carveWith(image, {sized})), (std::vector<Row>{{0, 1024, "0 .sz"}, {1024, 512, "1024 .sz"}}));

  // Above the approximate size, or with an approximate size of 0: nothing.
  sized.approximateSize = "1000";
  EXPECT_EQ(ranges(carveWith(image, {sized})), (std::vector<Row>{{1024, 512, "1024 .sz"}}));
  sized.approximateSize = "0";
  EXPECT_TRUE(carveWith(image, {sized}).files.empty());
  // A size field that would lie past the first 512 bytes is not read: the
  // approximate size applies.
  sized.approximateSize = "4096";
  sized.sizeFieldOffset = "510";
  const auto far = ranges(carveWith(image, {sized}));
  ASSERT_FALSE(far.empty());
  EXPECT_EQ(std::get<1>(far.front()), 4096u);
}

TEST(CarvingEngine, TheTailBehindTheLastWholeMebibyteIsScanned) {
  std::vector<std::uint8_t> image(kMiB + 3000, 0x11);
  plant(image, kMiB + 1024, {0x7A, 0x7B, 0x7C});
  const Carved carved = carveWith(image, {form("t", "7A,7B,7C", "", "100")});
  ASSERT_EQ(carved.files.size(), 1u);
  EXPECT_EQ(carved.files[0].start, kMiB + 1024);
  EXPECT_EQ(carved.files[0].length, 100u);
}

TEST(CarvingEngine, MatchingRules) {
  using Row = std::tuple<std::uint64_t, std::uint64_t, std::string>;
  const struct {
    const char* what;
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> planted;
    std::vector<SignatureForm> forms;
    std::vector<Row> carved;
  } cases[] = {
      {"a * matches any byte", {{512, {0x11, 0x99, 0x33}}}, {form("w", "11,2A,33", "", "10")}, {{512, 10, "512 .w"}}},
      {"signatures are looked for on sectors only", {{700, {0x11, 0x22}}}, {form("s", "11,22", "", "10")}, {}},
      {"a one-byte signature never matches", {{512, {0x11}}}, {form("o", "11", "", "10")}, {}},
      {"the setting loaded first wins",
       {{512, {0x11, 0x22}}},
       {form("first", "11,22", "", "10"), form("second", "11,22", "", "20")},
       {{512, 10, "512 .firs"}}},
      {"a start that is another's end is a start",
       {{0, {0xAA, 0xBB}}, {1024, {0xCC, 0xDD}}},
       {form("a", "AA,BB", "CC,DD", "100"), form("b", "CC,DD", "", "8")},
       {{1024, 8, "1024 .b"}, {0, 100, "0 .a"}}},
      {"an end closes the oldest open start; the others run to the next start",
       {{0, {0xAA, 0xBB}}, {512, {0xAA, 0xBB}}, {2048, {0xAA, 0xBB}}, {3000, {0xEE, 0xFF}}},
       {form("n", "AA,BB", "EE,FF", "5000")},
       {{0, 3002, "0 .n"}, {512, 1536, "512 .n"}, {2048, 5000, "2048 .n"}}},
      {"no end and no size: the approximate size, even 0", {{512, {0x61, 0x62}}}, {form("z", "61,62", "", "0")},
       {{512, 0, "512 .z"}}},
      {"an extension cannot leave the folder", {{0, {0x61, 0x62}}}, {form("a/b", "61,62", "", "4")}, {{0, 4, "0 .a_b"}}},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> image(8192, 0);
    for (const auto& [at, bytes] : c.planted) plant(image, at, bytes);
    auto got = ranges(carveWith(image, c.forms));
    auto want = c.carved;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << c.what;
  }
}

TEST(CarvingEngine, AStoppedRunStillCarvesItsOpenStartsAndTheNextRunStartsAfresh) {
  std::vector<std::uint8_t> image(kMiB, 0);
  plant(image, 0, {0xAA, 0xBB});
  const Carved stopped = carveWith(image, {form("s", "AA,BB", "EE,FF", "64")}, true);
  EXPECT_TRUE(stopped.files.empty());  // stopped before the first chunk
  EXPECT_EQ(stopped.said.messages, std::vector<std::string>{kCarveDone});
  const Carved again = carveWith(image, {form("s", "AA,BB", "EE,FF", "64")});
  ASSERT_EQ(again.files.size(), 1u);
  EXPECT_EQ(again.files[0].length, 64u);
}

TEST(CarvingEngine, CategoriesAreSharedByText) {
  std::vector<std::uint8_t> image(8192, 0);
  plant(image, 0, {0x01, 0x02});
  plant(image, 512, {0x03, 0x04});
  plant(image, 1024, {0x03, 0x04});
  const Carved carved = carveWith(image, {form("a", "01,02", "", "1", "Pics"), form("b", "05,06", "", "1", "Docs"),
                                          form("c", "03,04", "", "1", "Pics")});
  EXPECT_EQ(carved.categoryTexts, (std::vector<std::string>{"Pics (3)", "Docs"}));
}

}  // namespace
}  // namespace quorvel::raw
