// A save of a folder where files were deleted and others of the same names
// written later, as editors and package managers do all day: every live
// file keeps its name and its bytes, every deleted namesake is saved too,
// under a numbered name, and nothing overwrites anything else.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "fs/ext/ExtBuilders.h"
#include "support/CliListing.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

// The image the kernel-side maker wrote through an ntfs-3g mount, kept
// compressed in the repository (tests/fixtures/kernel).
std::unique_ptr<TempImage> ntfsNamesakes() {
  auto image = std::make_unique<TempImage>();
  const fs::path packed = fs::path(QUORVEL_SOURCE_DIR) / "tests/fixtures/kernel/ntfs-namesakes.img.gz";
  const CommandResult r = runCommand({"sh", "-c", "gzip -dc \"$0\" > \"$1\"", packed.string(), image->path()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return image;
}

TEST(NamesakeSave, NtfsLiveFilesKeepTheirNamesAndDeletedOnesGetNumbers) {
  const auto image = ntfsNamesakes();
  const Listing listing = listVolume(image->path(), {"--volume-image"});
  std::map<std::string, int> live, deleted;
  for (const LsEntry& e : listing.entries) {
    if (e.folder || e.path.rfind("ROOT/many/", 0) != 0) continue;
    ++(e.deleted ? deleted : live)[e.path.substr(10)];
  }
  // What makes the case: names both live and deleted in one folder.
  int shared = 0;
  for (const auto& [name, count] : deleted) shared += live.count(name) ? 1 : 0;
  ASSERT_GT(shared, 50);

  TempFolder out;
  const CommandResult r =
      runCommand({cliPath(), "save", image->path(), "--volume-image", "--path", "ROOT/many", "--out", out.path().string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::map<std::string, std::string> saved = filesBelow(out.path());

  // Every live file under its own name, with what was written last: the
  // maker rewrote f000..f199 ("second ...") and left f200..f299 ("first ...").
  std::vector<std::string> problems;
  for (const auto& [name, count] : live) {
    const auto it = saved.find(name);
    const int number = std::stoi(name.substr(1, 3));
    const std::string want = (number < 200 ? "second f" : "first f") + name.substr(1, 3);
    if (it == saved.end())
      problems.push_back(name + ": not saved");
    else if (it->second.rfind(want, 0) != 0)
      problems.push_back(name + ": holds \"" + it->second.substr(0, 40) + "\"");
  }
  expectNoProblems(problems, "live files saved without their last content");

  // Every deleted one too, beside them under a numbered name.
  std::size_t entries = 0;
  for (const auto& [name, count] : live) entries += count;
  for (const auto& [name, count] : deleted) entries += count;
  EXPECT_EQ(saved.size(), entries);
  const std::regex numbered(R"(f\d{3} \(\d+\)\.txt)");
  int numberedCount = 0;
  for (const auto& [name, content] : saved)
    if (std::regex_match(name, numbered)) {
      ++numberedCount;
      EXPECT_EQ(content.rfind("first f" + name.substr(1, 3), 0), 0u) << name;
    }
  EXPECT_EQ(numberedCount, shared);
}

// ext keeps a removed name in the slack of the entry before it; a kernel
// of today wipes it, older ones left it, so the volume is built by hand.
TEST(NamesakeSave, ExtRemovedNameInTheSlackDoesNotReplaceTheLiveFile) {
  constexpr std::uint8_t kDir = 2;
  ExtVolumeBuilder v;
  const auto bytes = [](const std::string& s) { return ByteVector(s.begin(), s.end()); };
  v.setFile(12, bytes("the live report"));
  v.setFile(13, bytes("the old report"), false);
  // Its block is free again, as a deletion leaves it: the next one handed
  // out follows it.
  const std::uint64_t next = v.allocate();
  v.setBlockInUse(next, false);
  v.setBlockInUse(next - 1, false);
  v.setFile(14, bytes("a folder's namesake"));
  v.setFolder(15, {directoryBlock({{15, ".", kDir}, {2, "..", kDir}}, v.geometry().blockSize)});
  v.setFolder(2, {directoryBlock({{2, ".", kDir},
                                  {2, "..", kDir},
                                  {12, "report.txt", 1, {{13, "report.txt"}}},
                                  {15, "notes", kDir},
                                  {14, "notes"}},
                                 v.geometry().blockSize)});
  const auto image = v.materialize();
  TempFolder out;
  const CommandResult r = runCommand({cliPath(), "save", image->path(), "--volume-image", "--out", out.path().string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::map<std::string, std::string> saved = filesBelow(out.path());
  EXPECT_EQ(saved.at("report.txt"), "the live report");
  EXPECT_EQ(saved.at("report (2).txt"), "the old report");
  EXPECT_EQ(saved.at("notes (2)"), "a folder's namesake");
  EXPECT_TRUE(fs::is_directory(out.path() / "notes"));
}

}  // namespace
}  // namespace quorvel
