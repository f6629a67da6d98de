// Files the kernel deleted on ext3 and ext4 (rm on a mounted volume, a whole
// folder with rm -r): their maps and names are wiped on the volume, and come
// back from the journal's older copies or its fast commits, under their
// folders, with their sizes and bytes. The live files are as they were.
// Where another file took a deleted file's blocks since, the deleted file is
// still listed, its save is reported as not whole, and none of the other
// file's bytes are given out as its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/CliListing.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

const fs::path kKept = fs::path(QUORVEL_SOURCE_DIR) / "tests/fixtures/kernel";

struct Fact {
  enum Kind { kLive, kDeleted, kReused } kind = kLive;
  bool deleted() const { return kind != kLive; }
  std::string sha256;
  std::uint64_t size = 0;
};

// What tests/fixtures/kernel/make-ext-journal-images wrote: made afresh by
// the fixture step where it could, else the copy kept in the repository.
fs::path madeOrKept(const std::string& file) {
  const fs::path made = fixtureDir() / "kernel" / file;
  return fs::exists(made) ? made : kKept / file;
}

std::map<std::string, Fact> readFacts(const fs::path& path) {
  std::map<std::string, Fact> facts;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string kind, sha, size, file;
    std::getline(fields, kind, '\t');
    std::getline(fields, sha, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, file);
    const Fact::Kind k = kind == "reused" ? Fact::kReused : kind == "deleted" ? Fact::kDeleted : Fact::kLive;
    facts["ROOT/" + file] = {k, sha, std::stoull(size)};
  }
  return facts;
}

// sha256 of every saved file, by path below the output folder.
std::map<std::string, std::string> savedSums(const fs::path& folder) {
  const CommandResult r = runCommand(
      {"sh", "-c", "cd \"$0\" && find . -type f -print0 | xargs -0 -r sha256sum | sed 's|  \\./|  |'", folder.string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, std::string> sums;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);)
    if (line.size() > 66) sums["ROOT/" + line.substr(66)] = line.substr(0, 64);
  return sums;
}

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every KiB of the file that took the deleted files' blocks opens with this.
constexpr std::string_view kFillerMark = "FILLER BLOCK";

struct KernelImage {
  const char* name;
  std::size_t leastFacts;
  int leastDeleted;
};

void PrintTo(const KernelImage& image, std::ostream* out) { *out << image.name; }

class ExtJournalUndelete : public ::testing::TestWithParam<KernelImage> {};

TEST_P(ExtJournalUndelete, DeletedFilesComeBackUnderTheirFoldersWithTheirBytes) {
  const std::string name = GetParam().name;
  TempImage image;
  const CommandResult unpacked =
      runCommand({"sh", "-c", "gzip -dc \"$0\" > \"$1\"", madeOrKept(name + ".img.gz").string(), image.path()});
  ASSERT_EQ(unpacked.exitCode, 0) << unpacked.err;
  const std::map<std::string, Fact> facts = readFacts(madeOrKept(name + ".facts"));
  ASSERT_GT(facts.size(), GetParam().leastFacts);

  const CommandResult listed = cli({"ls", image.path(), "--volume-image", "--json"});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  std::map<std::string, JsonObject> rows;
  for (JsonObject& o : parseJsonLines(listed.out)) rows[jsonText(o, "path")] = std::move(o);

  TempFolder out;
  const CommandResult saved = cli({"save", image.path(), "--volume-image", "--path", "ROOT", "--out", out.path().string()});
  // A file that lost blocks to another cannot be saved whole, and the save says how many did not.
  int notWhole = 0;
  for (const auto& [path, fact] : facts) notWhole += fact.kind == Fact::kReused && fact.size > 0;
  if (notWhole == 0) {
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
  } else {
    EXPECT_EQ(saved.exitCode, 1) << saved.err;
    EXPECT_NE(saved.err.find(std::to_string(notWhole) + " files could not be saved whole."), std::string::npos)
        << saved.err;
  }
  const std::map<std::string, std::string> sums = savedSums(out.path());

  std::vector<std::string> problems;
  int deleted = 0;
  for (const auto& [path, fact] : facts) {
    deleted += fact.deleted();
    const auto row = rows.find(path);
    if (row == rows.end()) {
      problems.push_back(path + ": not listed");
      continue;
    }
    if (jsonBool(row->second, "deleted") != fact.deleted()) problems.push_back(path + ": deleted flag wrong");
    if (jsonUnsigned(row->second, "size") != fact.size) problems.push_back(path + ": size wrong");
    const std::optional<std::string> from = jsonTextOrNull(row->second, "recoveredFrom");
    // An empty file has no map to come back: only its name does.
    const bool fromJournal = fact.deleted() && fact.size > 0;
    if (fromJournal != (from == std::optional<std::string>("journal"))) problems.push_back(path + ": recoveredFrom wrong");
    const auto sum = sums.find(path);
    if (sum == sums.end()) {
      problems.push_back(path + ": not saved");
      continue;
    }
    if (fact.kind != Fact::kReused && sum->second != fact.sha256) problems.push_back(path + ": saved bytes differ");
    if (!fact.deleted()) continue;
    const std::string bytes = fileBytes(out.path() / path.substr(5));
    if (fact.kind == Fact::kReused && fact.size > 0 && bytes.size() >= fact.size)
      problems.push_back(path + ": saved whole though another file holds some of its blocks");
    if (bytes.find(kFillerMark) != std::string::npos) problems.push_back(path + ": saved with another file's bytes");
  }
  EXPECT_GT(deleted, GetParam().leastDeleted);
  EXPECT_TRUE(problems.empty()) << problems.size() << " problems, first: " << problems.front();
}

TEST(ExtJournalUndeleteOneFile, ASingleFileSaveSaysWhenTheFileIsNotWhole) {
  TempImage image;
  const CommandResult unpacked = runCommand(
      {"sh", "-c", "gzip -dc \"$0\" > \"$1\"", madeOrKept("ext4-reused.img.gz").string(), image.path()});
  ASSERT_EQ(unpacked.exitCode, 0) << unpacked.err;
  std::optional<std::string> reused, intact;
  for (const auto& [path, fact] : readFacts(madeOrKept("ext4-reused.facts"))) {
    if (fact.size == 0) continue;
    if (fact.kind == Fact::kReused) reused = path;
    if (fact.kind == Fact::kLive) intact = path;
  }
  ASSERT_TRUE(reused && intact);
  for (const auto& [path, whole] : {std::pair{*reused, false}, std::pair{*intact, true}}) {
    SCOPED_TRACE(path);
    TempFolder out;
    const CommandResult r = cli({"save", image.path(), "--volume-image", "--path", path, "--out", out.path().string()});
    EXPECT_EQ(r.exitCode, whole ? 0 : 1) << r.err;
    EXPECT_EQ(r.err.find("could not be saved whole") == std::string::npos, whole) << r.err;
  }
}

// ext4-fastcommit: files made and removed between two full commits, known
// only to the journal's fast-commit area. ext4-reused is smaller: after the
// rm, a filler file took the freed blocks.
INSTANTIATE_TEST_SUITE_P(KernelMade, ExtJournalUndelete,
                         ::testing::Values(KernelImage{"ext4-journal", 60, 30}, KernelImage{"ext4-1k", 60, 30},
                                           KernelImage{"ext3-journal", 60, 30}, KernelImage{"ext4-fastcommit", 60, 30},
                                           KernelImage{"ext4-reused", 30, 15}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

}  // namespace
}  // namespace quorvel
