// The source image is only ever read: every fixture image goes through
// volumes, probe, ls, search, save (standard and advanced mode) and carve, and its
// bytes, size, modification and change times are the same afterwards. The
// descriptor the sector source holds is opened read-only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/FileReadSeek.h"
#include "support/TestSupport.h"

namespace quorvel {
namespace {

using namespace test;
namespace fs = std::filesystem;

std::vector<fs::path> fixtureImages() {
  std::vector<fs::path> images;
  for (const auto& e : fs::recursive_directory_iterator(fixtureDir()))
    if (e.is_regular_file() && e.path().extension() == ".img") images.push_back(e.path());
  std::sort(images.begin(), images.end());
  return images;
}

struct ImageState {
  std::uint64_t digest = 0;  // FNV-1a of every byte
  struct stat info {};

  bool operator==(const ImageState& o) const {
    return digest == o.digest && info.st_size == o.info.st_size && info.st_mtim.tv_sec == o.info.st_mtim.tv_sec &&
           info.st_mtim.tv_nsec == o.info.st_mtim.tv_nsec && info.st_ctim.tv_sec == o.info.st_ctim.tv_sec &&
           info.st_ctim.tv_nsec == o.info.st_ctim.tv_nsec;
  }
};

ImageState stateOf(const fs::path& image) {
  ImageState state;
  EXPECT_EQ(::stat(image.c_str(), &state.info), 0) << image;
  std::ifstream in(image, std::ios::binary);
  std::vector<char> block(1 << 20);
  std::uint64_t hash = 0xcbf29ce484222325ull;
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) hash = (hash ^ static_cast<unsigned char>(block[i])) * 0x100000001b3ull;
  }
  state.digest = hash;
  return state;
}

TEST(ReadOnlyGuarantee, EveryCommandLeavesEveryFixtureImageAsItWas) {
  const std::vector<fs::path> images = fixtureImages();
  ASSERT_FALSE(images.empty());
  for (const fs::path& image : images) {
    SCOPED_TRACE(image.string());
    const ImageState before = stateOf(image);
    TempFolder out;
    const std::string path = image.string();
    const std::vector<std::vector<std::string>> commands = {
        {"volumes", path},
        {"volumes", path, "--gpt"},
        {"probe", path},
        {"ls", path, "--volume-image"},
        {"search", path, ".", "--volume-image"},
        {"save", path, "--volume-image", "--out", (out.path() / "standard").string()},
        {"ls", path, "--volume-image", "--mode", "advanced"},
        {"save", path, "--volume-image", "--mode", "advanced", "--out", (out.path() / "advanced").string()},
        {"carve", path, "--volume-image", "--out", (out.path() / "carved").string()},
    };
    for (std::vector<std::string> args : commands) {
      args.insert(args.begin(), cliPath());
      const CommandResult r = runCommand(args);
      EXPECT_LT(r.exitCode, 128) << args[1] << ": " << r.err;  // failures are fine; crashes are not
    }
    EXPECT_TRUE(stateOf(image) == before);
  }
}

// The open descriptor's access mode, as the kernel reports it.
int accessModeOfDescriptorFor(const fs::path& image) {
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(e.path(), error) != fs::canonical(image)) continue;
    std::ifstream info("/proc/self/fdinfo/" + e.path().filename().string());
    std::string key;
    std::string value;
    while (info >> key >> value)
      if (key == "flags:") return static_cast<int>(std::stoul(value, nullptr, 8)) & O_ACCMODE;
  }
  return -1;
}

TEST(ReadOnlyGuarantee, TheSourceDescriptorIsOpenedReadOnly) {
  for (const fs::path& image : fixtureImages()) {
    SCOPED_TRACE(image.string());
    FileReadSeek source;
    ASSERT_TRUE(source.open(image.string()));
    EXPECT_EQ(accessModeOfDescriptorFor(image), O_RDONLY);
  }
}

}  // namespace
}  // namespace quorvel
