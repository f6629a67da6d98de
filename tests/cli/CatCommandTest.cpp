// `cat` writes one file's bytes to standard output, as icat reads them, or a
// window of them; folders and missing paths are refused with a message.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "support/CliListing.h"
#include "support/TestSupport.h"
#include "support/TskOracle.h"

namespace quorvel {
namespace {

using namespace test;

// A live regular file whose fls path is also its path here: no system
// files, no named streams or volume labels, names in plain ASCII (how other names are shown
// is tested with each kind).
bool plainFile(const TskEntry& e) {
  if (e.folder || e.deleted || e.lostParent || e.mode.rfind("r/r", 0) != 0) return false;
  for (const char c : e.path)
    if (c == '$' || c == ':' || static_cast<unsigned char>(c) >= 0x80) return false;
  // fls's body lines cut very long names short.
  const std::size_t slash = e.path.rfind('/');
  const std::size_t nameLength = e.path.size() - (slash == std::string::npos ? 0 : slash + 1);
  return nameLength < 128 && e.path.find("(Volume Label Entry)") == std::string::npos;
}

struct KindCase {
  const char* name;
  const char* image;  // below the fixture folder: a volume image
};

class CatCommand : public ::testing::TestWithParam<KindCase> {
 protected:
  std::string image() const { return (fixtureDir() / GetParam().image).string(); }
  CommandResult cat(const std::string& path, std::vector<std::string> more = {}) const {
    std::vector<std::string> args = {"cat", image(), "--volume-image", "--path", path};
    args.insert(args.end(), more.begin(), more.end());
    return cli(args);
  }
};

TEST_P(CatCommand, FilesOfEverySizeComeOutAsIcatReadsThem) {
  // Each cat scans the volume again: a dozen files from the smallest to the
  // largest stand for the rest.
  std::vector<TskEntry> files;
  for (const TskEntry& e : flsEntries(image()))
    if (plainFile(e)) files.push_back(e);
  ASSERT_GE(files.size(), 3u);
  std::sort(files.begin(), files.end(), [](const TskEntry& a, const TskEntry& b) { return a.size < b.size; });
  constexpr std::size_t kSample = 12;
  const std::size_t step = std::max<std::size_t>(1, files.size() / kSample);
  for (std::size_t i = 0; i < files.size(); i += step) {
    const TskEntry& e = i + step >= files.size() ? files.back() : files[i];
    SCOPED_TRACE(e.path);
    const CommandResult r = cat("ROOT/" + e.path);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, icat(image(), e.address));
  }
}

TEST_P(CatCommand, AWindowIsTheSameBytesAsTheWholeFilesSlice) {
  // The largest live file, so that windows cross reads and runs.
  const TskEntry* largest = nullptr;
  const std::vector<TskEntry> entries = flsEntries(image());
  for (const TskEntry& e : entries)
    if (plainFile(e) && (!largest || e.size > largest->size))
      largest = &e;
  ASSERT_TRUE(largest);
  const std::string whole = icat(image(), largest->address);
  const std::uint64_t size = whole.size();
  struct Window {
    std::uint64_t offset;
    std::optional<std::uint64_t> length;
  };
  for (const Window w : {Window{0, 0}, Window{0, 1}, Window{1, 4095}, Window{size / 2, std::nullopt},
                         Window{size - 1, 100}, Window{size, 10}, Window{size + 4096, std::nullopt}}) {
    std::vector<std::string> more = {"--offset", std::to_string(w.offset)};
    if (w.length) more.insert(more.end(), {"--length", std::to_string(*w.length)});
    SCOPED_TRACE(more.back());
    const CommandResult r = cat("ROOT/" + largest->path, more);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string want = w.offset >= size ? "" : whole.substr(w.offset, w.length.value_or(std::string::npos));
    EXPECT_EQ(r.out, want);
  }
}

TEST_P(CatCommand, FoldersAndMissingPathsAreRefusedWithAMessage) {
  struct Refusal {
    std::string path;
    int exitCode;
    const char* says;
  };
  for (const Refusal& r : {Refusal{"ROOT", 2, "is a folder"}, Refusal{"ROOT/no such file", 1, "has no entry"}}) {
    SCOPED_TRACE(r.path);
    const CommandResult result = cat(r.path);
    EXPECT_EQ(result.exitCode, r.exitCode);
    EXPECT_TRUE(result.out.empty());
    EXPECT_NE(result.err.find(r.says), std::string::npos) << result.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, CatCommand,
                         ::testing::Values(KindCase{"ext4", "ext/ext4.img"}, KindCase{"fat32", "fat/fat32-4k.img"},
                                           KindCase{"ntfs", "vol-ntfs.img"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
