// The FAT16 and NTFS volume images and the MBR disk image, written again as
// VHD, VHDX, VMDK, QCOW2, E01 and split raw (tests/fixtures/build-image-formats):
// quorvel-cli lists, saves and finds volumes in each exactly as in the raw
// original. Then the ways an image set can be broken: each says so plainly.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/FileReadSeek.h"
#include "io/UnverifiedSectors.h"
#include "session/ScanSession.h"
#include "support/CliListing.h"
#include "support/TestSupport.h"
#include "volumes/VolumeList.h"

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

[[maybe_unused]] const bool kInUtc = useUtc();

fs::path formatFixture(const std::string& name) { return fixtureImage(fs::path("image-formats") / name); }

// What each source image was written as; the name is the part after the
// source's name ("vol-fat16" + "-two.E01").
const std::vector<std::string> kVariants = {
    ".vhd",       "-fixed.vhd",       ".vhdx",       ".vmdk",         "-stream.vmdk",   "-child.vmdk",
    ".qcow2",     "-compressed.qcow2", "-child.qcow2", "-one.E01",      "-two.E01",       "-split.001",
    "-split.002", "-split0.000",      "-split0.001"};

struct FormatCase {
  std::string source;   // "vol-fat16"
  std::string variant;  // "-two.E01"
};
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.source << c.variant; }

std::vector<FormatCase> casesFor(const std::string& source) {
  std::vector<FormatCase> cases;
  for (const std::string& variant : kVariants) cases.push_back({source, variant});
  return cases;
}

std::string caseName(const ::testing::TestParamInfo<FormatCase>& info) {
  std::string name = info.param.source + info.param.variant;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

class VolumeImageFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(VolumeImageFormats, ListsAndSavesAsTheRawImage) {
  const FormatCase& c = GetParam();
  const fs::path raw = fixtureDir() / (c.source + ".img");
  const fs::path image = formatFixture(c.source + c.variant);

  const CommandResult rawListing = cli({"ls", raw.string(), "--volume-image", "--json"});
  ASSERT_EQ(rawListing.exitCode, 0) << rawListing.err;
  const CommandResult listing = cli({"ls", image.string(), "--volume-image", "--json"});
  ASSERT_EQ(listing.exitCode, 0) << listing.err;
  EXPECT_EQ(listing.out, rawListing.out);
  EXPECT_EQ(listing.err, "");
  EXPECT_GT(parseListing(listing.out).entries.size(), 3u);

  TempFolder rawOut, out;
  ASSERT_EQ(cli({"save", raw.string(), "--volume-image", "--out", rawOut.path().string()}).exitCode, 0);
  const CommandResult saved = cli({"save", image.string(), "--volume-image", "--out", out.path().string()});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  const auto want = filesBelow(rawOut.path());
  EXPECT_FALSE(want.empty());
  EXPECT_EQ(filesBelow(out.path()), want);
}

INSTANTIATE_TEST_SUITE_P(Fat16, VolumeImageFormats, ::testing::ValuesIn(casesFor("vol-fat16")), caseName);
INSTANTIATE_TEST_SUITE_P(Ntfs, VolumeImageFormats, ::testing::ValuesIn(casesFor("vol-ntfs")), caseName);

class DiskImageFormats : public ::testing::TestWithParam<FormatCase> {};

// The disk's size is the image's logical size, so the advanced scan covers
// the same sectors and finds the same volumes, and a volume inside reads
// the same.
TEST_P(DiskImageFormats, FindsTheVolumesOfTheRawImage) {
  const FormatCase& c = GetParam();
  const fs::path raw = fixtureDir() / (c.source + ".img");
  const fs::path image = formatFixture(c.source + c.variant);
  for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"--advanced"}}) {
    std::vector<std::string> args = {"volumes", raw.string(), "--json"};
    args.insert(args.end(), options.begin(), options.end());
    const CommandResult want = cli(args);
    ASSERT_EQ(want.exitCode, 0) << want.err;
    args[1] = image.string();
    const CommandResult got = cli(args);
    ASSERT_EQ(got.exitCode, 0) << got.err;
    EXPECT_EQ(got.out, want.out) << (options.empty() ? "tables" : "advanced");
  }
  const CommandResult want = cli({"ls", raw.string(), "--volume", "1", "--json"});
  ASSERT_EQ(want.exitCode, 0) << want.err;
  const CommandResult got = cli({"ls", image.string(), "--volume", "1", "--json"});
  EXPECT_EQ(got.out, want.out) << got.err;
}

INSTANTIATE_TEST_SUITE_P(Mbr, DiskImageFormats, ::testing::ValuesIn(casesFor("mbr-primary")), caseName);

TEST(ImageFormats, SizeIsTheDisksNotTheFiles) {
  const std::uint64_t rawSize = fs::file_size(fixtureDir() / "vol-ntfs.img");
  for (const std::string& variant : kVariants) {
    FileReadSeek source;
    ASSERT_TRUE(source.open(formatFixture("vol-ntfs" + variant).string())) << variant << ": " << source.lastErrorText();
    EXPECT_EQ(source.sourceLength(), rawSize) << variant;
    EXPECT_EQ(source.sectorCount(), rawSize / 512) << variant;
  }
}

// --- Broken sets: the command fails with one sentence that names the cause.

// Copies fixture files into a fresh folder, so that a test can leave out
// or spoil one of them.
struct ImageSet {
  TempFolder folder;
  fs::path copy(const std::string& name) {
    const fs::path to = folder.path() / name;
    fs::copy_file(formatFixture(name), to);
    return to;
  }
};

struct BrokenCase {
  const char* name;
  std::vector<std::string> copied;  // the first is opened
  std::string said;                 // a part of the one error sentence
};
void PrintTo(const BrokenCase& c, std::ostream* os) { *os << c.name; }

class BrokenImages : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenImages, SayWhatIsWrong) {
  const BrokenCase& c = GetParam();
  ImageSet set;
  fs::path first;
  for (const std::string& name : c.copied) {
    const fs::path copied = set.copy(name);
    if (first.empty()) first = copied;
  }
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"volumes", first.string()}, {"ls", first.string(), "--volume-image"}}) {
    const CommandResult result = cli(args);
    EXPECT_EQ(result.exitCode, 1) << args[0];
    EXPECT_EQ(result.out, "") << args[0];
    EXPECT_NE(result.err.find(c.said), std::string::npos) << args[0] << ": " << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenImages,
    ::testing::Values(BrokenCase{"E01SecondSegmentMissing", {"vol-fat16-two.E01"}, "the segment"},
                      BrokenCase{"SplitMiddlePartMissing", {"vol-fat16-split.001", "vol-fat16-split.003"},
                                 "vol-fat16-split.002 is missing"},
                      BrokenCase{"SplitLaterPartChosenWithoutTheOnesBefore", {"vol-fat16-split.003", "vol-fat16-split.001"},
                                 "vol-fat16-split.002 is missing"},
                      BrokenCase{"QcowBackingFileGone", {"orphan-child.qcow2"}, "parent disk gone.qcow2 is missing"},
                      BrokenCase{"QcowBackingFileNotBeside", {"vol-fat16-child.qcow2"}, "parent disk vol-fat16.qcow2 is missing"},
                      BrokenCase{"VmdkParentNotBeside", {"vol-ntfs-child.vmdk"}, "parent disk vol-ntfs.vmdk is missing"},
                      BrokenCase{"QcowEncrypted", {"encrypted.qcow2"}, "is encrypted"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BrokenImages, E01MissingSegmentIsNamed) {
  ImageSet set;
  const fs::path first = set.copy("vol-ntfs-two.E01");
  const CommandResult result = cli({"volumes", first.string()});
  EXPECT_NE(result.err.find((set.folder.path() / "vol-ntfs-two.E02").string() + " is missing"), std::string::npos)
      << result.err;
}

// --- An E01 chunk whose checksum fails: its bytes are still read, and the
// sectors are named.

// A copy of the uncompressed one-segment FAT16 E01 with one byte of
// readme.txt's content flipped inside its chunk.
struct SpoiltEwf {
  ImageSet set;
  fs::path path = set.copy("vol-fat16-one.E01");
  SpoiltEwf() {
    std::string bytes = readWhole(path);
    const std::size_t at = bytes.find("Quorvel fixture volume.");
    if (at == std::string::npos) throw std::runtime_error("readme.txt's bytes are not in the E01 file");
    bytes[at] = 'q';
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
};

TEST(SpoiltEwfChunk, BytesAreReadAndTheSectorsNamed) {
  SpoiltEwf image;
  TempFolder out;
  const CommandResult saved = cli({"save", image.path.string(), "--volume-image", "--out", out.path().string()});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  EXPECT_EQ(readWhole(out.path() / "readme.txt"), "quorvel fixture volume.\n");
  EXPECT_EQ(readWhole(out.path() / "notes" / "todo.txt"), "Buy milk.\nCall the bank.\n");
  // 32 KiB chunks: the flipped byte lies in the chunk of sectors 64 to 127.
  EXPECT_NE(saved.err.find("warning: Sectors 64-127 of the image failed their checksum"), std::string::npos)
      << saved.err;
}

class DetailRecorder : public RecordingObserver {
 public:
  void detailChanged(const std::string& text) override { details.push_back(text); }
  std::vector<std::string> details;
};

TEST(SpoiltEwfChunk, ScanDetailLineNamesTheSectors) {
  SpoiltEwf image;
  FileReadSeek source;
  ASSERT_TRUE(source.open(image.path.string())) << source.lastErrorText();
  VolumeRecord volume;
  ASSERT_TRUE(probeVolumeImage(source, volume));
  std::unique_ptr<FileSystemParser> parser = parserFor(volume.fileSystem, RecoveryMode::Standard);
  ASSERT_NE(parser, nullptr);
  ScanSession session(scanRequestFor(volume, RecoveryMode::Standard), std::move(parser));
  DetailRecorder recorder;
  JobContext job(&recorder);
  ASSERT_TRUE(session.run(source, job));
  ASSERT_FALSE(recorder.details.empty());
  EXPECT_EQ(recorder.details.back(),
            "Sectors 64-127 of the image failed their checksum; their bytes were used as stored.");
}

TEST(SpoiltEwfChunk, IntactImageSaysNothing) {
  FileReadSeek source;
  ASSERT_TRUE(source.open(formatFixture("vol-fat16-one.E01").string()));
  std::vector<std::uint8_t> all(source.sourceLength());
  ASSERT_TRUE(source.readAt(0, all.data(), all.size()));
  EXPECT_TRUE(source.unverifiedSectors().empty());
}

}  // namespace
}  // namespace quorvel
