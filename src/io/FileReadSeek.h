#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/ImageBackend.h"

namespace quorvel {

inline constexpr std::uint32_t kSectorSize = 512;

// A read-only image or block device, addressed in bytes from its start.
// Image formats (split raw, E01, VHD/VHDX, VMDK, QCOW2) are read as the disk
// they hold, so every offset and size here is the disk's. Every read names
// its offset and keeps no state, so concurrent readers may share a source.
// A reader of one volume goes through a VolumeView.
class FileReadSeek {
 public:
  FileReadSeek() = default;
  ~FileReadSeek();
  FileReadSeek(const FileReadSeek&) = delete;
  FileReadSeek& operator=(const FileReadSeek&) = delete;

  // Opens read-only, in whatever image format the path holds; replaces an
  // earlier handle and sets sourceLength and the sector count. A failed
  // open keeps the earlier handle.
  bool open(const std::string& path);

  // Reads byteCount bytes at offset. True only for a full read. A short read
  // zero-fills the rest of the destination; a read that gets nothing leaves
  // the destination untouched. Thread-safe with other reads.
  bool readAt(std::int64_t offset, void* destination, std::size_t byteCount) const;

  // Positional read of at most byteCount bytes without zero-filling:
  // the count read (0 at the end), or -1 when the read failed.
  std::int64_t readUpTo(std::int64_t offset, void* destination, std::size_t byteCount) const;

  // Asks the kernel to read ahead: the caller is about to read sequentially.
  void adviseSequential() const;

  // The first offset at or after `offset` that may hold anything but zeros;
  // holes the image knows of are passed over.
  std::uint64_t dataFrom(std::uint64_t offset) const;

  // Sectors of the image whose bytes were read although their checksum
  // failed (E01), in the order found.
  std::vector<SectorRange> unverifiedSectors() const;

  bool isOpen() const { return backend_ != nullptr; }
  const std::string& path() const { return path_; }
  std::uint64_t sourceLength() const { return sourceLength_; }
  std::uint64_t sectorCount() const { return sourceLength_ / kSectorSize; }
  // The system error of the last failed open or read (0 if none).
  int lastError() const { return lastError_; }
  // One plain sentence saying why the last open failed (a missing segment
  // or parent, a variant that cannot be read, a missing file...).
  std::string lastErrorText() const;

 private:
  // Zero-fills behind a short read; true only when the whole count arrived.
  static bool finishRead(std::int64_t got, void* destination, std::size_t byteCount);

  std::unique_ptr<ImageBackend> backend_;
  std::string path_;
  std::string openError_;
  std::uint64_t sourceLength_ = 0;
  mutable int lastError_ = 0;
};

}  // namespace quorvel
