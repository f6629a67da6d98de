#pragma once
#include <cstdint>
#include <string>

namespace quorvel {

// Origins for seek; every caller in the system moves from the beginning.
enum class SeekOrigin { Begin, Current, End };

// The abstract sector source. Despite its name nothing in the system writes
// through it: the source of a recovery is only ever read.
class readWriteInterface {
 public:
  virtual ~readWriteInterface() = default;
  virtual bool open(const std::string& path) = 0;
  virtual bool read(void* destination, std::uint32_t byteCount) {
    (void)destination;
    (void)byteCount;
    return true;
  }
  virtual bool seek(std::int64_t offset, SeekOrigin origin = SeekOrigin::Begin) {
    (void)offset;
    (void)origin;
    return true;
  }
};

}  // namespace quorvel
