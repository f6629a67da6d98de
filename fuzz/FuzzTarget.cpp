// One libFuzzer target; QUORVEL_FUZZ_TARGET names what it exercises. The
// input becomes an image file in memory, since the parsers read files.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzHarness.h"

namespace {

const std::string& memoryImage() {
  static const std::string path = [] {
    const int fd = ::memfd_create("quorvel-fuzz", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    return "/proc/self/fd/" + std::to_string(fd);
  }();
  return path;
}

int memoryFd() { return std::stoi(memoryImage().substr(std::string("/proc/self/fd/").size())); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view target = QUORVEL_FUZZ_TARGET;
  if (target == "lznt1") {
    quorvel::fuzz::exerciseLznt1(quorvel::Bytes(data, size));
    return 0;
  }
  if (target == "ext-journal") {
    quorvel::fuzz::exerciseExtJournal(quorvel::Bytes(data, size));
    return 0;
  }
  const int fd = memoryFd();
  if (::ftruncate(fd, 0) != 0) std::abort();
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  quorvel::fuzz::exerciseTarget(target, memoryImage());
  return 0;
}
