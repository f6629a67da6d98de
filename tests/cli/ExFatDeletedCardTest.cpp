// An exFAT card as people have them: files written and some deleted with rm
// through a driver, then both boot sectors lost. The deletions freed
// clusters among the first 64, so the bitmap no longer opens with ones; the
// first heap offset and cluster size offered must still be the volume's,
// and every live file must come back with its bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/CliListing.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

const fs::path kKept = fs::path(QUORVEL_SOURCE_DIR) / "tests/fixtures/kernel";

// The image tests/fixtures/kernel/make-exfat-deleted-image wrote through a
// loop mount: made afresh by the fixture step where it could, else the copy
// kept in the repository. Its files are the same either way, and so are
// their sums.
std::unique_ptr<TempImage> deletedCard() {
  auto image = std::make_unique<TempImage>();
  fs::path packed = fixtureDir() / "kernel" / "exfat-deleted.img.gz";
  if (!fs::exists(packed)) packed = kKept / "exfat-deleted.img.gz";
  const CommandResult r = runCommand({"sh", "-c", "gzip -dc \"$0\" > \"$1\"", packed.string(), image->path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return image;
}

// `sha256sum` lines: path below the root -> hash.
std::map<std::string, std::string> readSums(const std::string& text) {
  std::map<std::string, std::string> sums;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.size() > 66) sums[line.substr(66)] = line.substr(0, 64);
  return sums;
}

TEST(ExFatDeletedCard, FirstOffersSaveEveryLiveFile) {
  const auto image = deletedCard();
  const CommandResult offers = cli({"candidates", image->path(), "--volume-image", "--kind", "exFAT", "--json"});
  ASSERT_EQ(offers.exitCode, 0) << offers.err;
  std::map<std::string, std::vector<JsonObject>> lists;
  for (const JsonObject& o : parseJsonLines(offers.out)) lists[jsonText(o, "list")].push_back(o);
  ASSERT_FALSE(lists["tfs"].empty());
  ASSERT_FALSE(lists["heapOffset"].empty());
  ASSERT_FALSE(lists["sectorsPerCluster"].empty());
  // The first heap offset is the one the root's structures agree on; none
  // lies in the boot regions, where mkfs.exfat's sectors of ones are.
  EXPECT_EQ(jsonStrings(lists["heapOffset"].front(), "evidence"),
            (std::vector<std::string>{"upcase", "bitmap", "root"}));
  for (const JsonObject& heap : lists["heapOffset"]) EXPECT_GE(jsonUnsigned(heap, "offset"), 24u * 512);

  TempFolder out;
  const CommandResult saved =
      cli({"save", image->path(), "--volume-image", "--kind", "exFAT", "--mode", "advanced", "--tfs", "0", "--spc",
           jsonText(lists["sectorsPerCluster"].front(), "text"), "--heap", "0", "--path", "ROOT", "--out",
           out.path().string()});
  ASSERT_EQ(saved.exitCode, 0) << saved.err;

  std::ifstream kept(kKept / "exfat-deleted.sums");
  std::stringstream keptText;
  keptText << kept.rdbuf();
  const std::map<std::string, std::string> originals = readSums(keptText.str());
  ASSERT_GT(originals.size(), 50u);
  const CommandResult hashed =
      runCommand({"sh", "-c", "cd \"$0\" && find . -type f -print0 | xargs -0 sha256sum | sed 's|  \\./|  |'",
                  out.path().string()});
  ASSERT_EQ(hashed.exitCode, 0) << hashed.err;
  const std::map<std::string, std::string> found = readSums(hashed.out);

  std::vector<std::string> problems;
  for (const auto& [path, hash] : originals) {
    const auto it = found.find(path);
    if (it == found.end())
      problems.push_back(path + " was not saved in its place");
    else if (it->second != hash)
      problems.push_back(path + " differs from the file written");
  }
  expectNoProblems(problems, "live files of the card");
}

}  // namespace
}  // namespace quorvel
