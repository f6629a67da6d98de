#include "io/ImageFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/FileReadSeek.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

std::vector<std::uint8_t> sectorStartingWith(const std::string& magic) {
  std::vector<std::uint8_t> bytes(512, 0);
  std::copy(magic.begin(), magic.end(), bytes.begin());
  return bytes;
}

struct MagicCase {
  const char* name;
  std::string head;
  std::string tail;
  ImageFormat format;
};
void PrintTo(const MagicCase& c, std::ostream* os) { *os << c.name; }

class Detection : public ::testing::TestWithParam<MagicCase> {};

TEST_P(Detection, FromTheContentAlone) {
  const MagicCase& c = GetParam();
  const auto head = sectorStartingWith(c.head);
  const auto tail = sectorStartingWith(c.tail);
  EXPECT_EQ(detectImageFormat(head, tail), c.format);
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Cases, Detection,
    ::testing::Values(MagicCase{"E01", "EVF\x09\x0d\x0a\xff\x00"s, "", ImageFormat::Ewf},
                      MagicCase{"Ex01", "EVF2\x0d\x0a\x81\x00"s, "", ImageFormat::Ewf},
                      MagicCase{"Vhdx", "vhdxfile", "", ImageFormat::Vhdx},
                      MagicCase{"DynamicVhdLeadsWithItsFooter", "conectix", "conectix", ImageFormat::Vhd},
                      MagicCase{"FixedVhdEndsWithItsFooter", "\xeb\x52\x90NTFS    "s, "conectix", ImageFormat::Vhd},
                      MagicCase{"SparseVmdk", "KDMV", "", ImageFormat::Vmdk},
                      MagicCase{"VmdkDescriptor", "# Disk DescriptorFile\nversion=1", "", ImageFormat::Vmdk},
                      MagicCase{"Qcow", "QFI\xfb"s, "", ImageFormat::Qcow},
                      MagicCase{"NtfsVolumeIsRaw", "\xeb\x52\x90NTFS    "s, "", ImageFormat::Raw},
                      MagicCase{"ZerosAreRaw", "", "", ImageFormat::Raw},
                      MagicCase{"MagicNotAtTheStartIsRaw", " KDMV", " conectix", ImageFormat::Raw},
                      MagicCase{"ShortenedMagicIsRaw", "EVF\x09"s, "", ImageFormat::Raw}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Detection, ShortImages) {
  const std::vector<std::uint8_t> qcow = {'Q', 'F', 'I', 0xfb};
  EXPECT_EQ(detectImageFormat(qcow, {}), ImageFormat::Qcow);
  EXPECT_EQ(detectImageFormat(std::span<const std::uint8_t>(qcow).first(3), {}), ImageFormat::Raw);
  EXPECT_EQ(detectImageFormat({}, {}), ImageFormat::Raw);
}

// A file that only looks like a container is refused with the format's
// name instead of being read as a raw disk of garbage.
TEST(Opening, DamagedContainerIsRefusedByName) {
  struct Case {
    std::string magic;
    std::string kind;
  };
  for (const Case& c : {Case{"QFI\xfb"s, "QCOW2"}, Case{"vhdxfile", "VHDX"}, Case{"KDMV", "VMDK"},
                        Case{"EVF\x09\x0d\x0a\xff\x00"s, "E01"}}) {
    test::TempImage image(sectorStartingWith(c.magic));
    image.resize(65536);
    FileReadSeek source;
    EXPECT_FALSE(source.open(image.path())) << c.kind;
    EXPECT_EQ(source.lastErrorText().rfind("Cannot read the " + c.kind + " image " + image.path() + ": ", 0), 0u)
        << source.lastErrorText();
    EXPECT_FALSE(source.isOpen());
  }
}

TEST(Opening, MissingFileSaysSo) {
  FileReadSeek source;
  EXPECT_FALSE(source.open("/nonexistent/disk.E01"));
  EXPECT_EQ(source.lastErrorText(), "Cannot open /nonexistent/disk.E01: No such file or directory.");
}

}  // namespace
}  // namespace quorvel
