// quorvel-cli carve and signatures over the carving fixture: every planted
// file of a type with a walkable structure comes out byte-equal.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "support/TestSupport.h"

namespace quorvel {
namespace {

using test::runCommand;
using test::TempFolder;

struct Planted {
  std::string name, extension;
  std::uint64_t offset = 0, length = 0;
  std::string sha256;
  bool walkable = false;
};

std::filesystem::path carveImage() { return test::fixtureDir() / "carve" / "carve.img"; }

std::vector<Planted> manifest() {
  std::ifstream in(test::fixtureDir() / "carve" / "carve.manifest");
  std::vector<Planted> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Planted p;
    std::string walkable;
    std::getline(fields, p.name, '\t');
    std::getline(fields, p.extension, '\t');
    fields >> p.offset >> p.length >> p.sha256 >> walkable;
    p.walkable = walkable == "1";
    rows.push_back(p);
  }
  return rows;
}

std::string sha256Of(const std::filesystem::path& path) {
  const test::CommandResult r = runCommand({"sha256sum", path.string()});
  return r.out.substr(0, 64);
}

TEST(CarveEndToEnd, EveryWalkablePlantedFileComesOutByteEqual) {
  const std::vector<Planted> planted = manifest();
  ASSERT_GE(planted.size(), 20u);
  TempFolder out;
  const test::CommandResult r =
      runCommand({test::cliPath(), "carve", carveImage().string(), "--volume-image", "--out", out.path().string(), "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> problems;
  std::set<std::string> extensions;
  for (const Planted& p : planted) {
    if (!p.walkable) continue;
    extensions.insert(p.extension);
    const std::string name = std::to_string(p.offset) + " ." + p.extension;
    const std::filesystem::path file = out.path() / name;
    if (!std::filesystem::exists(file)) {
      problems.push_back(p.name + ": no " + name);
      continue;
    }
    if (std::filesystem::file_size(file) != p.length || sha256Of(file) != p.sha256)
      problems.push_back(p.name + ": " + std::to_string(std::filesystem::file_size(file)) + " bytes, expected " +
                         std::to_string(p.length));
    const std::string json = "{\"name\":\"" + name + "\",";
    if (r.out.find(json) == std::string::npos) problems.push_back(p.name + ": not listed");
  }
  test::expectNoProblems(problems, "carved files");
  for (const char* e : {"jpg", "png", "gif", "bmp", "tif", "mp3", "rar", "zip", "docx", "pdf", "db", "wav", "avi", "7z", "gz", "elf", "exe",
                        "doc", "mp4", "mov", "mkv"})
    EXPECT_TRUE(extensions.count(e)) << "the fixture plants no " << e;
  // Nothing is written outside the output folder, and every JSON line names a category.
  for (const auto& entry : std::filesystem::directory_iterator(out.path())) EXPECT_TRUE(entry.is_regular_file());
  EXPECT_NE(r.out.find("\"category\":\"Pictures\""), std::string::npos);
}

// JPEG by its markers alone: a user's setting with an end signature.
test::CommandResult addJpegByMarkers(const std::string& settings) {
  return runCommand({test::cliPath(), "signatures", "add", settings, "--ext", "jpg", "--start", "0xFF,0xD8,0xFF", "--end",
                     "0xFF,0xD9", "--approx", "10000000", "--category", "Mine"});
}

TEST(CarveEndToEnd, UserSettingsKeepTheGenericRules) {
  TempFolder folder;
  const std::string settings = (folder.path() / "mine.set").string();
  // A picture with a thumbnail is cut at the thumbnail's end marker, as the
  // generic rules say.
  const test::CommandResult add = addJpegByMarkers(settings);
  ASSERT_EQ(add.exitCode, 0) << add.err;
  EXPECT_EQ(add.out, "everything initialized well.....\n");
  const test::CommandResult bad = runCommand({test::cliPath(), "signatures", "add", settings, "--ext", "x", "--start", ","});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("signature length is zero.."), std::string::npos) << bad.err;

  const test::CommandResult list = runCommand({test::cliPath(), "signatures", "list", settings, "--json"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out,
            "{\"record\":0,\"index\":0,\"extension\":\"jpg\",\"extensionLength\":3,\"start\":\"0xFF,0xD8,0xFF\","
            "\"end\":\"0xFF,0xD9\",\"sizeFieldOffset\":-1,\"sizeFieldBytes\":0,\"headerSize\":0,"
            "\"sizeIncludesHeader\":false,\"approximateSize\":10000000,\"skipSize\":0,\"category\":\"Mine\"}\n");

  TempFolder out;
  const test::CommandResult r = runCommand({test::cliPath(), "carve", carveImage().string(), "--volume-image",
                                            "--no-default", "--settings", settings, "--out", out.path().string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const Planted& p : manifest()) {
    if (p.extension != "jpg") continue;
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(out.path())) {
      if (entry.path().filename().string().find(".jpg") == std::string::npos) continue;
      found = found || sha256Of(entry.path()) == p.sha256;
    }
    EXPECT_EQ(found, p.name != "thumbnailed.jpg") << p.name;
  }
}

// A file closed by its end signature is named after where it starts, as the
// JSON's start says, and saved under that name.
TEST(CarveEndToEnd, FilesClosedByAnEndSignatureAreNamedAfterTheirStart) {
  TempFolder folder;
  const std::string settings = (folder.path() / "mine.set").string();
  ASSERT_EQ(addJpegByMarkers(settings).exitCode, 0);
  TempFolder out;
  const test::CommandResult r = runCommand({test::cliPath(), "carve", carveImage().string(), "--volume-image",
                                            "--no-default", "--settings", settings, "--out", out.path().string(), "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::regex line(R"re(\{"name":"([^"]*)","category":"Mine","start":(\d+),"length":(\d+)\})re");
  std::istringstream lines(r.out);
  std::string text;
  std::size_t files = 0;
  while (std::getline(lines, text)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    EXPECT_EQ(m[1].str(), m[2].str() + " .jpg") << text;
    EXPECT_EQ(std::filesystem::file_size(out.path() / m[1].str()), std::stoull(m[3].str())) << text;
    ++files;
  }
  std::size_t jpegs = 0;
  for (const Planted& p : manifest()) jpegs += p.extension == "jpg";
  EXPECT_GE(files, jpegs);
}

TEST(CarveEndToEnd, TypesNarrowTheSettingsIntoAFolderTheCarveMakes) {
  TempFolder folder;
  const std::filesystem::path out = folder.path() / "not" / "there";
  const test::CommandResult r = runCommand({test::cliPath(), "carve", carveImage().string(), "--volume-image", "--types",
                                            "png,pdf", "--out", out.string(), "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::size_t wanted = 0;
  for (const Planted& p : manifest()) wanted += p.extension == "png" || p.extension == "pdf";
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name.ends_with(" .png") || name.ends_with(" .pdf")) << name;
    ++files;
  }
  EXPECT_EQ(files, wanted);
}

TEST(CarveEndToEnd, BadInputGetsAPlainSentence) {
  TempFolder out;
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"carve", carveImage().string(), "--volume-image", "--no-default", "--out", out.path().string()}, 2},
      {{"carve", carveImage().string(), "--volume-image", "--settings", "/nonexistent", "--out", out.path().string()}, 1},
      {{"carve", "/nonexistent.img", "--volume-image", "--out", out.path().string()}, 1},
      // An output folder below a file cannot be made.
      {{"carve", carveImage().string(), "--volume-image", "--out", (carveImage() / "out").string()}, 1},
      {{"signatures", "list", carveImage().string()}, 1},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv{test::cliPath()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const test::CommandResult r = runCommand(argv);
    EXPECT_EQ(r.exitCode, c.status) << c.args[0] << ' ' << c.args.back() << ": " << r.err;
    EXPECT_FALSE(r.err.empty());
  }
}

}  // namespace
}  // namespace quorvel
