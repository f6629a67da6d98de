#include "support/TestSupport.h"

#include <time.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace quorvel::test {

std::filesystem::path fixtureDir() {
  if (const char* dir = std::getenv("QUORVEL_FIXTURES"); dir && *dir) return dir;
  return QUORVEL_DEFAULT_FIXTURE_DIR;
}

std::filesystem::path fixtureImage(const std::filesystem::path& relative) {
  const std::filesystem::path path = (fixtureDir() / relative).lexically_normal();
  if (!std::filesystem::exists(path)) throw std::runtime_error("missing fixture " + path.string());
  return path;
}

bool useUtc() {
  setenv("TZ", "UTC", 1);
  tzset();
  return true;
}

std::string cliPath() {
  if (const char* cli = std::getenv("QUORVEL_CLI"); cli && *cli) return cli;
  return QUORVEL_DEFAULT_CLI;
}

CommandResult runCommand(const std::vector<std::string>& argv) {
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);

  CommandResult result;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0 && poll(fds, 2, -1) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[65536];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  if (spawned != 0) return result;
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

TempImage::TempImage(const std::vector<std::uint8_t>& bytes) {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  dir_ = pattern;
  path_ = (dir_ / "image.img").string();
  std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

TempImage::~TempImage() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void TempImage::write(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
  const int fd = ::open(path_.c_str(), O_WRONLY);
  if (fd < 0 || pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
                    static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("write " + path_);
  close(fd);
}

void TempImage::resize(std::uint64_t size) { std::filesystem::resize_file(path_, size); }

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string readWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::map<std::string, std::string> filesBelow(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::exists(folder)) return files;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder))
    if (item.is_regular_file())
      files[std::filesystem::relative(item.path(), folder).generic_string()] = readWhole(item.path());
  return files;
}

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string describeDifference(const std::string& got, const std::string& want) {
  const auto mismatch = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  return std::to_string(got.size()) + " bytes, expected " + std::to_string(want.size()) +
         " (first difference at byte " + std::to_string(mismatch.first - got.begin()) + ")";
}

void expectNoProblems(const std::vector<std::string>& problems, const std::string& what) {
  std::string text;
  for (std::size_t i = 0; i < problems.size() && i < 25; ++i) text += "\n  " + problems[i];
  if (problems.size() > 25) text += "\n  ...";
  EXPECT_TRUE(problems.empty()) << problems.size() << " " << what << ":" << text;
}

void putLe16(std::vector<std::uint8_t>& b, std::size_t off, std::uint16_t v) {
  for (int i = 0; i < 2; ++i) b.at(off + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void putLe32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(off + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void putLe64(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b.at(off + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void putBe32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(off + i) = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}
void putText(std::vector<std::uint8_t>& b, std::size_t off, const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) b.at(off + i) = static_cast<std::uint8_t>(text[i]);
}

}  // namespace quorvel::test
