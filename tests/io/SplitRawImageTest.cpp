#include "io/images/SplitRawImage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "io/FileReadSeek.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using test::TempFolder;

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

struct PartsCase {
  const char* name;
  std::vector<std::string> existing;
  std::string chosen;
  std::optional<std::vector<std::string>> parts;  // none: not a split set
  std::string missing;
};
void PrintTo(const PartsCase& c, std::ostream* os) { *os << c.name; }

class SplitParts : public ::testing::TestWithParam<PartsCase> {};

TEST_P(SplitParts, FoundFromAnyPartsName) {
  const PartsCase& c = GetParam();
  TempFolder folder;
  for (const std::string& name : c.existing) writeFile(folder.path() / name, {1, 2, 3});
  const std::string base = folder.path().string() + "/";
  std::string missing;
  const auto parts = splitRawParts(base + c.chosen, missing);
  ASSERT_EQ(parts.has_value(), c.parts.has_value());
  EXPECT_EQ(missing, c.missing.empty() ? "" : base + c.missing);
  if (!parts || !c.missing.empty()) return;
  std::vector<std::string> want;
  for (const std::string& name : *c.parts) want.push_back(base + name);
  EXPECT_EQ(*parts, want);
}

using Names = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(
    Cases, SplitParts,
    ::testing::Values(
        PartsCase{"FromOne", {"d.001", "d.002", "d.003"}, "d.001", Names{"d.001", "d.002", "d.003"}, ""},
        PartsCase{"FromZero", {"d.000", "d.001"}, "d.000", Names{"d.000", "d.001"}, ""},
        PartsCase{"ZeroLeadsWhenPresent", {"d.000", "d.001", "d.002"}, "d.001", Names{"d.000", "d.001", "d.002"}, ""},
        PartsCase{"LaterPartChosen", {"d.001", "d.002", "d.003"}, "d.003", Names{"d.001", "d.002", "d.003"}, ""},
        PartsCase{"LoneNumberedFileIsPlain", {"d.001"}, "d.001", std::nullopt, ""},
        PartsCase{"OtherSetsBesideAreIgnored", {"d.001", "d.002", "e.003"}, "d.001", Names{"d.001", "d.002"}, ""},
        PartsCase{"GapIsAMissingPart", {"d.001", "d.002", "d.004"}, "d.001", Names{}, "d.003"},
        PartsCase{"ChosenBehindAGap", {"d.001", "d.003"}, "d.003", Names{}, "d.002"},
        PartsCase{"NoFirstPartIsPlain", {"d.005", "d.006"}, "d.005", std::nullopt, ""},
        PartsCase{"TwoDigitsArePlain", {"d.01", "d.02"}, "d.01", std::nullopt, ""},
        PartsCase{"FourDigitsArePlain", {"d.0001", "d.0002"}, "d.0001", std::nullopt, ""},
        PartsCase{"NoNumberIsPlain", {"d.img"}, "d.img", std::nullopt, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Parts of odd sizes, so that reads cross part ends inside a sector.
TEST(SplitRawImage, ReadsAcrossPartsAsOneDisk) {
  TempFolder folder;
  std::vector<std::uint8_t> whole(2700);
  for (std::size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<std::uint8_t>(i * 13 + i / 256);
  const std::size_t cuts[] = {0, 1000, 2000, 2700};
  for (int i = 0; i < 3; ++i)
    writeFile(folder.path() / ("disk." + std::string("00") + char('1' + i)),
              std::vector<std::uint8_t>(whole.begin() + static_cast<long>(cuts[i]), whole.begin() + static_cast<long>(cuts[i + 1])));

  FileReadSeek source;
  ASSERT_TRUE(source.open((folder.path() / "disk.002").string())) << source.lastErrorText();
  EXPECT_EQ(source.sourceLength(), whole.size());
  EXPECT_EQ(source.sectorCount(), 5u);
  for (const std::int64_t offset : {0, 488, 512, 999, 1000, 1500, 1999, 2000}) {
    std::vector<std::uint8_t> got(512, 0xCC);
    const bool complete = offset + 512 <= 2700;
    EXPECT_EQ(source.readAt(offset, got.data(), got.size()), complete) << offset;
    for (std::size_t i = 0; i < got.size(); ++i) {
      const std::size_t at = static_cast<std::size_t>(offset) + i;
      ASSERT_EQ(got[i], at < whole.size() ? whole[at] : 0) << "offset " << offset << " byte " << i;
    }
  }
  std::vector<std::uint8_t> all(whole.size());
  ASSERT_TRUE(source.readAt(0, all.data(), all.size()));
  EXPECT_EQ(all, whole);
  std::uint8_t past = 0xCC;
  EXPECT_FALSE(source.readAt(2700, &past, 1));
  EXPECT_EQ(past, 0xCC);
}

}  // namespace
}  // namespace quorvel
