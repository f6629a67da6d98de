// `quorvel-cli volumes` and `probe` on images made by the real formatting and
// partitioning tools, with The Sleuth Kit's mmls as the oracle for where the
// volumes of a disk start and how long they are.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/CliListing.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using namespace test;

constexpr std::int64_t kMiB = 1048576;

std::string image(const std::string& name) { return fixtureImage(name).string(); }

struct Volume {
  std::string label;
  std::string kind;
  std::string volumeName;
  std::string size;
  std::int64_t startSector = 0;
  std::uint64_t sizeBytes = 0;
  std::uint64_t startByte = 0;
};

std::vector<Volume> parseVolumes(const std::string& out) {
  std::vector<Volume> volumes;
  for (const JsonObject& o : parseJsonLines(out))
    volumes.push_back({jsonText(o, "label"), jsonText(o, "kind"), jsonText(o, "volumeName"), jsonText(o, "size"),
                       jsonInteger(o, "startSector"), jsonUnsigned(o, "sizeBytes"), jsonUnsigned(o, "startByte")});
  return volumes;
}

// The size texts start with the size in MiB ("100   MB", "40  MB", "15").
std::int64_t leadingMebibytes(const std::string& sizeText) {
  std::size_t digits = 0;
  while (digits < sizeText.size() && std::isdigit(static_cast<unsigned char>(sizeText[digits]))) ++digits;
  if (digits == 0) throw std::runtime_error("size text without a number: " + sizeText);
  return std::stoll(sizeText.substr(0, digits));
}

std::vector<Volume> runVolumes(std::vector<std::string> argv) {
  argv.insert(argv.begin(), {cliPath(), "volumes"});
  argv.push_back("--json");
  const CommandResult r = runCommand(argv);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  return parseVolumes(r.out);
}

std::vector<std::int64_t> startsOf(const std::vector<Volume>& volumes) {
  std::vector<std::int64_t> starts;
  for (const Volume& v : volumes) starts.push_back(v.startSector);
  return starts;
}

std::vector<std::string> kindsOf(const std::vector<Volume>& volumes) {
  std::vector<std::string> kinds;
  for (const Volume& v : volumes) kinds.push_back(v.kind);
  return kinds;
}

// mmls rows that are data volumes: not unallocated space, not the tables
// ("Meta"), not extended containers, and not the Microsoft reserved
// partition, which the listing leaves out by its name.
struct MmlsVolume {
  std::int64_t start = 0;
  std::int64_t length = 0;
};

std::vector<MmlsVolume> mmlsDataVolumes(const std::string& path) {
  const CommandResult r = runCommand({"mmls", path});
  if (r.exitCode != 0) throw std::runtime_error("mmls " + path + " failed: " + r.err);
  std::vector<MmlsVolume> volumes;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    std::istringstream row(line);
    std::string index;
    std::string slot;
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::int64_t length = 0;
    if (!(row >> index >> slot >> start >> end >> length) || index.back() != ':') continue;
    std::string description;
    std::getline(row >> std::ws, description);
    if (slot == "Meta" || slot.starts_with("---") || description == "Unallocated" ||
        description.find("Extended") != std::string::npos || description == "Microsoft reserved partition")
      continue;
    volumes.push_back({start, length});
  }
  if (volumes.empty()) throw std::runtime_error("mmls found no volumes in " + path);
  return volumes;
}

std::vector<std::int64_t> startsOf(const std::vector<MmlsVolume>& volumes) {
  std::vector<std::int64_t> starts;
  for (const MmlsVolume& v : volumes) starts.push_back(v.start);
  return starts;
}

// "vol-fat12.img" -> "fat12": test names from image names.
std::string nameOf(const std::string& file) {
  std::string name;
  for (const char c : file.substr(0, file.find('.')))
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name.starts_with("vol") ? name.substr(3) : name;
}

// --- The standard listing against mmls.

struct ListingCase {
  std::string image;
  std::vector<std::string> kinds;  // in disk order
  bool sizesFromMbr;               // MBR and EBR entries give the size, not the boot sector
};

void PrintTo(const ListingCase& c, std::ostream* os) { *os << c.image; }

class CliVolumeListing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(CliVolumeListing, ListsTheDataVolumesMmlsFinds) {
  const ListingCase& c = GetParam();
  const std::vector<MmlsVolume> oracle = mmlsDataVolumes(image(c.image));
  const std::vector<Volume> listed = runVolumes({image(c.image)});

  EXPECT_EQ(startsOf(listed), startsOf(oracle));
  EXPECT_EQ(kindsOf(listed), c.kinds);
  for (std::size_t i = 0; i < listed.size(); ++i) {
    SCOPED_TRACE("volume at sector " + std::to_string(listed[i].startSector));
    EXPECT_EQ(listed[i].label, std::to_string(i));
    EXPECT_EQ(listed[i].volumeName, "");
    if (i >= oracle.size()) continue;
    const auto oracleStart = static_cast<std::uint64_t>(oracle[i].start) * 512;
    const auto oracleBytes = static_cast<std::uint64_t>(oracle[i].length) * 512;
    EXPECT_EQ(listed[i].startByte, oracleStart);
    if (c.sizesFromMbr) {
      EXPECT_EQ(leadingMebibytes(listed[i].size), oracle[i].length / 2048);
      EXPECT_EQ(listed[i].sizeBytes, oracleBytes);
    } else {
      // A GPT volume's size is its file system's, which fits its partition
      // and leaves less than a MiB of it unused on these disks.
      EXPECT_LE(listed[i].sizeBytes, oracleBytes);
      EXPECT_GT(listed[i].sizeBytes + static_cast<std::uint64_t>(kMiB), oracleBytes);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Disks, CliVolumeListing,
    ::testing::Values(ListingCase{"mbr-primary.img", {"NTFS", "FAT32"}, true},
                      ListingCase{"mbr-extended.img", {"FAT12", "FAT16", "extX", "NTFS"}, true},
                      // A protective MBR leads to the GPT without --gpt.
                      ListingCase{"gpt.img", {"NTFS", "FAT32", "FAT64", "extX", "HFS+"}, false}),
    [](const auto& info) { return nameOf(info.param.image); });

// --- The advanced scan finds the GPT disk's volumes without any table.

TEST(CliAdvancedScan, FindsEveryVolumeOfADiskWithoutTables) {
  const std::vector<std::int64_t> starts = startsOf(mmlsDataVolumes(image("gpt.img")));
  const std::vector<std::string> kinds = {"NTFS", "FAT32", "FAT64", "extX", "HFS+"};
  ASSERT_EQ(starts.size(), kinds.size());

  // From the first byte, and from each volume's first sector on.
  for (std::size_t from = 0; from < starts.size(); ++from) {
    SCOPED_TRACE("scan from volume " + std::to_string(from));
    std::vector<std::string> args = {image("gpt-zeroed.img"), "--advanced"};
    if (from > 0) args.insert(args.end(), {"--start-sector", std::to_string(starts[from])});
    const std::vector<Volume> found = runVolumes(args);
    EXPECT_EQ(startsOf(found), std::vector<std::int64_t>(starts.begin() + from, starts.end()));
    EXPECT_EQ(kindsOf(found), std::vector<std::string>(kinds.begin() + from, kinds.end()));
  }
}

// --- probe on volume images.

struct ProbeCase {
  std::string image;
  std::string kind;
  std::int64_t bytesBehindVolume;  // NTFS leaves its backup boot sector outside
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.image; }

class CliProbe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(CliProbe, ClassifiesAVolumeImage) {
  const ProbeCase& c = GetParam();
  const std::string path = image(c.image);
  const CommandResult r = runCommand({cliPath(), "probe", path, "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<Volume> volumes = parseVolumes(r.out);
  ASSERT_EQ(volumes.size(), 1u) << r.out;
  const Volume& v = volumes[0];
  EXPECT_EQ(v.kind, c.kind);
  EXPECT_EQ(v.label, "0");
  EXPECT_EQ(v.volumeName, "Unknown");
  EXPECT_EQ(v.startSector, 0);
  const auto fileSystemBytes = static_cast<std::int64_t>(std::filesystem::file_size(path)) - c.bytesBehindVolume;
  EXPECT_EQ(leadingMebibytes(v.size), fileSystemBytes / kMiB) << v.size;
  EXPECT_EQ(v.sizeBytes, static_cast<std::uint64_t>(fileSystemBytes));
  EXPECT_EQ(v.startByte, 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, CliProbe,
                         ::testing::Values(ProbeCase{"vol-ntfs.img", "NTFS", 512},
                                           ProbeCase{"vol-fat12.img", "FAT12", 0},
                                           ProbeCase{"vol-fat16.img", "FAT16", 0},
                                           ProbeCase{"vol-fat32.img", "FAT32", 0},
                                           ProbeCase{"vol-exfat.img", "FAT64", 0},
                                           ProbeCase{"vol-ext2.img", "extX", 0},
                                           ProbeCase{"vol-ext4.img", "extX", 0},
                                           ProbeCase{"vol-hfsplus.img", "HFS+", 0}),
                         [](const auto& info) { return nameOf(info.param.image); });

// --- `--volume LABEL` picks from the very list `volumes` prints.

std::string shown(const std::vector<std::string>& args) {
  std::string text = "quorvel-cli";
  for (const std::string& a : args) text += " " + a;
  return text;
}

void expectSameResult(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  SCOPED_TRACE(shown(a) + "  against  " + shown(b));
  const CommandResult ra = cli(a);
  const CommandResult rb = cli(b);
  EXPECT_EQ(ra.exitCode, rb.exitCode) << ra.err << rb.err;
  EXPECT_TRUE(ra.out == rb.out) << ra.out.size() << " bytes against " << rb.out.size();
  EXPECT_EQ(ra.err, rb.err);
}

struct SelectionCase {
  std::string image;
  std::vector<std::string> listing;  // how `volumes` and `--volume` list: {}, --gpt or --advanced
};

void PrintTo(const SelectionCase& c, std::ostream* os) {
  *os << c.image;
  for (const std::string& a : c.listing) *os << ' ' << a;
}

class CliVolumeSelection : public ::testing::TestWithParam<SelectionCase> {};

// Each listed label reads what its start sector and kind read (or fails
// alike, for kinds without a parser), and the label after the last is
// refused by name.
TEST_P(CliVolumeSelection, EveryListedLabelSelectsThatVolume) {
  const SelectionCase& c = GetParam();
  std::vector<std::string> args = {image(c.image)};
  args.insert(args.end(), c.listing.begin(), c.listing.end());
  const std::vector<Volume> listed = runVolumes(args);
  ASSERT_FALSE(listed.empty());
  for (const Volume& v : listed) {
    std::vector<std::string> byLabel = {"ls", image(c.image), "--volume", v.label, "--json"};
    byLabel.insert(byLabel.end(), c.listing.begin(), c.listing.end());
    expectSameResult(byLabel, {"ls", image(c.image), "--start-sector", std::to_string(v.startSector), "--kind", v.kind,
                               "--json"});
  }
  const std::string next = std::to_string(listed.size());
  std::vector<std::string> beyond = {"ls", image(c.image), "--volume", next};
  beyond.insert(beyond.end(), c.listing.begin(), c.listing.end());
  const CommandResult r = cli(beyond);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("has no volume " + next + ";"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Images, CliVolumeSelection,
                         ::testing::Values(SelectionCase{"mbr-primary.img", {}},
                                           SelectionCase{"mbr-extended.img", {}},
                                           SelectionCase{"gpt.img", {}},
                                           SelectionCase{"gpt.img", {"--gpt"}},
                                           SelectionCase{"gpt-zeroed.img", {"--advanced"}},
                                           SelectionCase{"vol-fat32.img", {}},
                                           SelectionCase{"vol-ntfs.img", {"--advanced"}}),
                         [](const auto& info) {
                           std::string name = nameOf(info.param.image);
                           for (const std::string& a : info.param.listing) name += nameOf(a);
                           return name;
                         });

// A volume image has no partition table: its list is the one volume the
// probe finds, and `--volume 0` reads it as `--volume-image` does.
class CliVolumeImageList : public ::testing::TestWithParam<std::string> {};

TEST_P(CliVolumeImageList, IsTheProbedVolumeAsVolumeZero) {
  const std::string path = image(GetParam());
  const CommandResult listed = cli({"volumes", path, "--json"});
  const CommandResult probed = cli({"probe", path, "--json"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_EQ(listed.out, probed.out);
  ASSERT_EQ(parseVolumes(listed.out).size(), 1u) << listed.out;
  expectSameResult({"ls", path, "--volume", "0", "--json"}, {"ls", path, "--volume-image", "--json"});
  expectSameResult({"search", path, "--volume", "0", "--json", "."}, {"search", path, "--volume-image", "--json", "."});
}

INSTANTIATE_TEST_SUITE_P(Images, CliVolumeImageList,
                         ::testing::Values("vol-ntfs.img", "vol-fat12.img", "vol-fat16.img", "vol-fat32.img",
                                           "vol-exfat.img", "vol-ext4.img", "vol-hfsplus.img"),
                         [](const auto& info) { return nameOf(info.param); });

// --- The text table says what the JSON says.

TEST(CliVolumesText, HeaderThenOneRowPerVolume) {
  const std::string disk = image("mbr-extended.img");
  const std::vector<Volume> volumes = runVolumes({disk});
  const CommandResult r = runCommand({cliPath(), "volumes", disk});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  std::istringstream in(r.out);
  std::string header;
  std::getline(in, header);
  std::istringstream headerWords(header);
  std::vector<std::string> words;
  for (std::string w; headerWords >> w;) words.push_back(w);
  EXPECT_EQ(words, (std::vector<std::string>{"VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR"}));

  std::size_t rows = 0;
  for (std::string line; std::getline(in, line); ++rows) {
    ASSERT_LT(rows, volumes.size()) << line;
    const Volume& v = volumes[rows];
    std::istringstream row(line);
    std::string label;
    std::string kind;
    row >> label >> kind;
    EXPECT_EQ(label, v.label);
    EXPECT_EQ(kind, v.kind);
    EXPECT_NE(line.find(v.size), std::string::npos) << line;
    EXPECT_TRUE(line.ends_with(" " + std::to_string(v.startSector))) << line;
  }
  EXPECT_EQ(rows, volumes.size());
}

// --- Errors: a plain sentence on stderr, nothing on stdout, and the status
// tells unreadable input (1) from bad arguments (2).

TEST(CliErrors, ExitStatusAndMessages) {
  TempImage zeros;
  zeros.resize(kMiB);
  const std::string missing = (fixtureDir() / "no-such-image.img").string();
  const std::string disk = image("gpt.img");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
  };
  const std::vector<Case> cases = {
      {{"volumes", missing}, 1},
      {{"volumes", missing, "--json"}, 1},
      {{"probe", missing}, 1},
      {{"probe", zeros.path(), "--json"}, 1},
      {{"volumes", disk, "--no-such-option"}, 2},
      {{"volumes", disk, "--start-sector", "100"}, 2},
      {{"volumes", disk, "--end-sector", "100"}, 2},
      {{"volumes", disk, "--no-skip"}, 2},
      {{"volumes", disk, "--advanced", "--start-sector", "-5"}, 2},
      {{"volumes"}, 2},
      {{"probe", disk, "extra"}, 2},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {cliPath()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string shown;
    for (const std::string& a : c.args) shown += " " + a;
    SCOPED_TRACE("quorvel-cli" + shown);

    const CommandResult r = runCommand(argv);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(!r.err.empty() && r.err.back() == '\n') << r.err;
    // Unreadable input is one sentence; bad arguments may add a hint.
    if (c.exitCode == 1) {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
  }
}

}  // namespace
}  // namespace quorvel
