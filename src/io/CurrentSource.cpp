#include "io/CurrentSource.h"

namespace quorvel {

std::atomic<std::uint64_t> totalSectors{0};

namespace {
std::unique_ptr<FileReadSeek>& slot() {
  static std::unique_ptr<FileReadSeek> source;
  return source;
}
}  // namespace

FileReadSeek* currentSource() { return slot().get(); }

void replaceCurrentSource(std::unique_ptr<FileReadSeek> source) { slot() = std::move(source); }

}  // namespace quorvel
