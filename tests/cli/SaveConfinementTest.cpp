// `quorvel-cli save` of a hand-made ext volume whose names try to leave the
// output folder, carry control bytes or collide once made safe, into an
// output folder that already holds links to a folder outside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "fs/ext/ExtBuilders.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

constexpr std::uint8_t kDir = 2;

ByteVector text(const std::string& s) { return ByteVector(s.begin(), s.end()); }

struct NamedFile {
  std::string name;
  std::string content;
};

// Every name is in the root folder; "../up" and "docs" are folders holding
// one file each.
const std::vector<NamedFile> kRootFiles = {
    {"../x", "parent escape"},
    {"a/b", "slash"},
    {"a_b", "underscore"},
    {"..", "dot dot file"},
    {std::string("nul\0.txt", 8), "nul byte"},
    {"nul\x01.txt", "control byte"},
    {"nul_.txt", "plain underscore"},
    {"bell\a\x1b[2J.txt", "terminal escape"},
    {"link.txt", "where a link waits"},
};

std::unique_ptr<TempImage> hostileVolume() {
  ExtVolumeBuilder v;
  std::vector<DirEntryPlan> entries = {{2, ".", kDir}, {2, "..", kDir}};
  std::uint32_t inode = 12;
  for (const NamedFile& f : kRootFiles) {
    v.setFile(inode, text(f.content));
    entries.push_back({inode++, f.name});
  }
  const std::uint32_t up = inode++;
  const std::uint32_t docs = inode++;
  entries.push_back({up, "../up", kDir});
  entries.push_back({docs, "docs", kDir});
  v.setFolder(2, {directoryBlock(entries, v.geometry().blockSize)});
  v.setFolder(up, {directoryBlock({{up, ".", kDir}, {2, "..", kDir}, {inode, "inner.txt"}}, v.geometry().blockSize)});
  v.setFile(inode++, text("in up"));
  v.setFolder(docs, {directoryBlock({{docs, ".", kDir}, {2, "..", kDir}, {inode, "inside.txt"}}, v.geometry().blockSize)});
  v.setFile(inode++, text("in docs"));
  return v.materialize();
}

TEST(SaveConfinement, EverythingLandsInsideTheOutputFolderUnderDistinctSafeNames) {
  const auto image = hostileVolume();
  TempFolder work;
  const fs::path out = work.path() / "out";
  const fs::path outside = work.path() / "outside";
  fs::create_directories(out);
  fs::create_directories(outside);
  fs::create_directory_symlink(outside, out / "docs");
  fs::create_symlink(outside / "target.txt", out / "link.txt");

  const CommandResult r = runCommand({cliPath(), "save", image->path(), "--volume-image", "--out", out.string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;

  // Nothing outside the output folder: not beside it, not through the links.
  EXPECT_TRUE(fs::is_empty(outside));
  std::set<std::string> beside;
  for (const auto& e : fs::directory_iterator(work.path())) beside.insert(e.path().filename().string());
  EXPECT_EQ(beside, (std::set<std::string>{"out", "outside"}));
  EXPECT_TRUE(fs::is_symlink(out / "docs"));
  EXPECT_TRUE(fs::is_symlink(out / "link.txt"));

  const std::map<std::string, std::string> saved = filesBelow(out);
  std::multiset<std::string> contents;
  for (const auto& [path, content] : saved) {
    contents.insert(content);
    for (const char c : path) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << path;
    for (const auto& part : fs::path(path)) EXPECT_NE(part, "..") << path;
  }
  std::multiset<std::string> expected = {"in up", "in docs"};
  for (const NamedFile& f : kRootFiles) expected.insert(f.content);
  EXPECT_EQ(contents, expected);

  // Names the volume cannot hold ('/', NUL, "..") come back as orphans by
  // inode; the rest keep their names, made safe and distinct.
  EXPECT_EQ(saved.at("docs (2)/inside.txt"), "in docs");
  EXPECT_EQ(saved.at("link (2).txt"), "where a link waits");
  EXPECT_EQ(saved.at("bell__[2J.txt"), "terminal escape");
  EXPECT_EQ(std::set<std::string>({saved.at("nul_.txt"), saved.at("nul_ (2).txt")}),
            std::set<std::string>({"control byte", "plain underscore"}));
}

}  // namespace
}  // namespace quorvel
