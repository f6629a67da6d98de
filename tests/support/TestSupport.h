#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "io/JobContext.h"

namespace quorvel::test {

// Folder of the images that tests/fixtures/build-images made
// ($QUORVEL_FIXTURES overrides the build's default).
std::filesystem::path fixtureDir();
// An image below fixtureDir(); throws naming it when the build made none,
// so that a missing fixture fails the test instead of passing it empty.
std::filesystem::path fixtureImage(const std::filesystem::path& relative);
// Puts the process in UTC, where the oracles print their times; returns true
// so that a test file can do it before its tests run.
bool useUtc();
// The quorvel-cli binary under test ($QUORVEL_CLI overrides).
std::string cliPath();

struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
// Runs argv without a shell; stdout and stderr are captured apart.
CommandResult runCommand(const std::vector<std::string>& argv);

// A file in a fresh temporary folder, removed with the object.
class TempImage {
 public:
  explicit TempImage(const std::vector<std::uint8_t>& bytes = {});
  ~TempImage();
  TempImage(const TempImage&) = delete;
  TempImage& operator=(const TempImage&) = delete;
  const std::string& path() const { return path_; }
  // Writes bytes at an offset, growing the file (sparse where untouched).
  void write(std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
  void resize(std::uint64_t size);

 private:
  std::filesystem::path dir_;
  std::string path_;
};

// A fresh temporary folder, removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A whole file's bytes; throws when it cannot be read.
std::string readWhole(const std::filesystem::path& path);
// Every regular file below a folder, by its '/'-separated path relative to
// it, with its content; empty when the folder does not exist.
std::map<std::string, std::string> filesBelow(const std::filesystem::path& folder);

// The last '/'-separated part of a path.
std::string baseName(const std::string& path);

// "42 bytes, expected 40 (first difference at byte 7)"
std::string describeDifference(const std::string& got, const std::string& want);

// Many per-entry findings become one failure that names the first of them.
void expectNoProblems(const std::vector<std::string>& problems, const std::string& what);

// Remembers what a job said, in order.
class RecordingObserver : public JobObserver {
 public:
  void statusChanged(const std::string& text) override { statuses.push_back(text); }
  void progressRangeChanged(std::int64_t low, std::int64_t high) override { ranges.emplace_back(low, high); }
  void progressChanged(std::int64_t position) override { positions.push_back(position); }
  void message(const std::string& text) override { messages.push_back(text); }

  std::vector<std::string> statuses;
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
  std::vector<std::int64_t> positions;
  std::vector<std::string> messages;
};

// Little-endian stores into a byte vector, for hand-made structures.
void putLe16(std::vector<std::uint8_t>& b, std::size_t off, std::uint16_t v);
void putLe32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v);
void putLe64(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v);
void putBe32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v);
void putText(std::vector<std::uint8_t>& b, std::size_t off, const std::string& text);

}  // namespace quorvel::test
