#pragma once
// Sinks that tests stream entry contents into.
#include <cstdint>
#include <limits>
#include <vector>

#include "fs/FileSystemParser.h"

namespace quorvel::test {

// Keeps everything; zero runs are counted apart as well.
class CollectingSink : public ContentSink {
 public:
  bool write(Bytes data) override {
    bytes.insert(bytes.end(), data.begin(), data.end());
    return true;
  }
  bool zeros(std::uint64_t count) override {
    zeroCalls += 1;
    bytes.insert(bytes.end(), count, 0);
    return true;
  }
  std::vector<std::uint8_t> bytes;
  int zeroCalls = 0;
};

// Counts without keeping, so huge claimed sizes cost nothing; refuses more
// once `limit` bytes have come.
class CountingSink : public ContentSink {
 public:
  explicit CountingSink(std::uint64_t limit = std::numeric_limits<std::uint64_t>::max()) : limit_(limit) {}
  bool write(Bytes data) override { return take(data.size()); }
  bool zeros(std::uint64_t count) override { return take(count); }
  std::uint64_t bytes = 0;

 private:
  bool take(std::uint64_t count) {
    bytes += count;
    return bytes < limit_;
  }
  std::uint64_t limit_;
};

}  // namespace quorvel::test
