// `quorvel-cli volumes` and `probe` on images made by the real formatting and
// partitioning tools, with The Sleuth Kit's mmls as the oracle for where the
// volumes of a disk start.
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

#include "support/TestSupport.h"

namespace quorvel {
namespace {

using namespace test;

constexpr std::int64_t kMiB = 1048576;

std::string image(const std::string& name) {
  const std::filesystem::path path = fixtureDir() / name;
  if (!std::filesystem::exists(path)) throw std::runtime_error("missing fixture image " + path.string());
  return path.string();
}

// The flat objects `--json` prints: every value a string or an integer.
struct JsonValue {
  std::string text;
  bool quoted = false;
};

std::map<std::string, JsonValue> parseJsonObject(const std::string& line) {
  std::size_t i = 0;
  const auto fail = [&]() -> void { throw std::runtime_error("not a flat JSON object: " + line); };
  const auto skipSpace = [&] {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
  };
  const auto take = [&](char c) {
    skipSpace();
    if (i >= line.size() || line[i] != c) fail();
    ++i;
  };
  const auto string = [&] {
    take('"');
    std::string s;
    for (; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\') {
        if (++i >= line.size()) fail();
        const char escaped = line[i];
        if (escaped == 'u') fail();  // no volume text here needs one
        s += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
      } else {
        s += line[i];
      }
    }
    take('"');
    return s;
  };

  std::map<std::string, JsonValue> fields;
  take('{');
  do {
    const std::string key = string();
    take(':');
    skipSpace();
    JsonValue value;
    if (i < line.size() && line[i] == '"') {
      value = {string(), true};
    } else {
      for (; i < line.size() && (std::isdigit(static_cast<unsigned char>(line[i])) || line[i] == '-'); ++i)
        value.text += line[i];
      if (value.text.empty()) fail();
    }
    if (!fields.emplace(key, value).second) fail();
    skipSpace();
  } while (i < line.size() && line[i] == ',' && ++i);
  take('}');
  skipSpace();
  if (i != line.size()) fail();
  return fields;
}

struct Volume {
  std::string label;
  std::string kind;
  std::string volumeName;
  std::string size;
  std::int64_t startSector = 0;
};

std::vector<Volume> parseVolumes(const std::string& out) {
  std::vector<Volume> volumes;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    auto fields = parseJsonObject(line);
    const auto text = [&](const std::string& key) {
      const auto it = fields.find(key);
      if (it == fields.end() || !it->second.quoted) throw std::runtime_error("no text field " + key + ": " + line);
      return it->second.text;
    };
    const auto start = fields.find("startSector");
    if (start == fields.end() || start->second.quoted) throw std::runtime_error("no number startSector: " + line);
    volumes.push_back({text("label"), text("kind"), text("volumeName"), text("size"), std::stoll(start->second.text)});
  }
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
    if (c.sizesFromMbr && i < oracle.size()) {
      EXPECT_EQ(leadingMebibytes(listed[i].size), oracle[i].length / 2048);
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
