#pragma once
// A parser's window on its volume: offsets count from the volume's first
// byte, and no read goes past the volume's end or the source's.
#include <cstddef>
#include <cstdint>
#include <span>

#include "io/FileReadSeek.h"

namespace quorvel {

// Where a volume lies in its source. A size of 0 means unknown: the volume
// then runs to the source's end.
struct VolumeExtent {
  std::uint64_t startByte = 0;
  std::uint64_t sizeBytes = 0;
  bool operator==(const VolumeExtent&) const = default;
};

class VolumeView {
 public:
  VolumeView() = default;
  VolumeView(const FileReadSeek& source, VolumeExtent extent);

  const FileReadSeek* source() const { return source_; }
  const VolumeExtent& extent() const { return extent_; }
  // The bytes that can be read: the extent's size, cut to what the source
  // holds behind the volume's start.
  std::uint64_t size() const { return size_; }

  // The same volume, no larger than `bytes` (a file system's own size where
  // it is smaller than its extent). 0 keeps the view as it is.
  VolumeView limitedTo(std::uint64_t bytes) const;

  // Reads at most out.size() bytes at a volume offset, never past size():
  // the count read (0 at the end), or -1 on a read error.
  std::int64_t readUpTo(std::uint64_t offset, std::span<std::uint8_t> out) const;
  // Reads out.size() bytes at a volume offset; what could not be read is
  // zero-filled. True only when every byte was read.
  bool read(std::uint64_t offset, std::span<std::uint8_t> out) const;
  bool read(std::uint64_t offset, void* destination, std::size_t count) const {
    return read(offset, std::span<std::uint8_t>(static_cast<std::uint8_t*>(destination), count));
  }
  // Whether `count` bytes from `offset` lie inside the view.
  bool contains(std::uint64_t offset, std::uint64_t count) const {
    return offset <= size_ && count <= size_ - offset;
  }

  // The caller is about to read the volume from start to end.
  void adviseSequential() const;

  // The first volume offset at or after `offset` that may hold anything but
  // zeros (size() when only a hole of the image follows).
  std::uint64_t dataFrom(std::uint64_t offset) const;

 private:
  const FileReadSeek* source_ = nullptr;
  VolumeExtent extent_;
  std::uint64_t size_ = 0;
};

}  // namespace quorvel
