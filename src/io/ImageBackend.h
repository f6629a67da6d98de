#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorvel {

// A run of 512-byte sectors of the disk an image holds.
struct SectorRange {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  bool operator==(const SectorRange&) const = default;
};

// What an image file holds, as the disk it stands for: a plain file or
// device, a split raw set, or a container format read through its library.
// Only io knows these exist; everything above reads the disk's bytes.
class ImageBackend {
 public:
  virtual ~ImageBackend() = default;
  // The disk's logical size in bytes.
  virtual std::uint64_t size() const = 0;
  // Reads up to byteCount bytes at a disk offset: the count read (0 at the
  // end), or -1 with errorNumber set when nothing could be read. Safe to
  // call from several threads at once.
  virtual std::int64_t readAt(std::uint64_t offset, void* destination, std::size_t byteCount) const = 0;
  // The system error number of the last failed read.
  virtual int errorNumber() const = 0;
  // Sectors whose bytes were returned although their checksum failed.
  virtual std::vector<SectorRange> unverifiedSectors() const { return {}; }
  // The caller is about to read from start to end.
  virtual void adviseSequential() const {}
  // The first disk offset at or after `offset` that may hold anything but
  // zeros: `offset` itself unless the image knows a hole lies there, size()
  // when only holes follow. Searches pass over holes instead of reading them.
  virtual std::uint64_t dataFrom(std::uint64_t offset) const { return offset; }
};

// An opened backend, or the one plain sentence saying why there is none.
struct ImageOpening {
  std::unique_ptr<ImageBackend> backend;
  std::string error;   // empty on success
  int errorNumber = 0;  // the system error where one applies
};

}  // namespace quorvel
