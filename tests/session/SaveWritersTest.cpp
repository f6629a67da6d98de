#include "session/SaveWriters.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>


namespace quorvel {
namespace {

namespace fs = std::filesystem;

Bytes bytesOf(const std::string& text) { return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}; }

// What a sink was given, as text: bytes as they are, a hole as "<n zeros>".
struct RunsSink : ContentSink {
  bool write(Bytes data) override {
    runs += std::string(data.begin(), data.end());
    return true;
  }
  bool zeros(std::uint64_t count) override {
    runs += "<" + std::to_string(count) + " zeros>";
    return true;
  }
  std::string runs;
};

TEST(HeldContent, ReplaysBytesAndHolesInOrderAndRefusesPastItsLimit) {
  HeldContent held(8);
  EXPECT_TRUE(held.write(bytesOf("ab")));
  EXPECT_TRUE(held.write(bytesOf("cd")));
  EXPECT_TRUE(held.zeros(5));
  EXPECT_TRUE(held.zeros(0));
  EXPECT_TRUE(held.zeros(3));
  EXPECT_TRUE(held.write(bytesOf("e")));
  RunsSink sink;
  EXPECT_TRUE(held.replay(sink));
  EXPECT_EQ(sink.runs, "abcd<8 zeros>e");
  EXPECT_FALSE(held.overflowed());

  EXPECT_FALSE(held.write(bytesOf("fghi")));  // 9 bytes would pass the limit
  EXPECT_TRUE(held.overflowed());
  EXPECT_FALSE(held.zeros(1));
}

class SaveWritersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out = fs::temp_directory_path() / ("quorvel-writers-" + std::to_string(::getpid()));
    fs::remove_all(out);
    fs::create_directories(out);
  }
  void TearDown() override { fs::remove_all(out); }

  static HeldContent held(const std::string& text) {
    HeldContent content(1 << 20);
    content.write(bytesOf(text));
    return content;
  }
  static std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path out;
};

TEST_F(SaveWritersTest, PauseHoldsTheWritersUntilResume) {
  JobContext job;
  SaveWriters writers(job, 2);
  job.pause();
  writers.write(out / "held.txt", held("content"), {}, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(fs::exists(out / "held.txt"));
  job.resume();
  const SaveWriters::Counts counts = writers.counts();
  EXPECT_EQ(counts.saved, 1u);
  EXPECT_EQ(readText(out / "held.txt"), "content");
}

TEST_F(SaveWritersTest, CountsIncompleteAndUncreatableFilesAsFailed) {
  for (const unsigned threads : {0u, 3u}) {  // none: written on the calling thread
    SCOPED_TRACE(threads);
    fs::remove_all(out);
    fs::create_directories(out);
    JobContext job;
    SaveWriters writers(job, threads);
    writers.write(out / "whole.txt", held("a"), {}, true);
    writers.write(out / "partial.txt", held("b"), {}, false);
    writers.write(out / "no-such-folder" / "x.txt", held("c"), {}, true);
    const SaveWriters::Counts counts = writers.counts();
    EXPECT_EQ(counts.saved, 1u);
    EXPECT_EQ(counts.failed, 2u);
    EXPECT_EQ(readText(out / "whole.txt"), "a");
    EXPECT_EQ(readText(out / "partial.txt"), "b");  // what could be read is kept
  }
}

}  // namespace
}  // namespace quorvel
