#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/ImageBackend.h"
#include "io/ReadWriteInterface.h"

namespace quorvel {

inline constexpr std::uint32_t kSectorSize = 512;

// A read-only image or block device, addressed in bytes from a settable base
// offset. Image formats (split raw, E01, VHD/VHDX, VMDK, QCOW2) are read as
// the disk they hold, so every offset and size here is the disk's. `seek`/`read` share one position; `readAt` is positional and keeps
// no state, so concurrent readers may use it while nothing seeks.
class FileReadSeek : public readWriteInterface {
 public:
  FileReadSeek() = default;
  ~FileReadSeek() override;
  FileReadSeek(const FileReadSeek&) = delete;
  FileReadSeek& operator=(const FileReadSeek&) = delete;

  // Opens read-only, in whatever image format the path holds; replaces an
  // earlier handle. Sets sourceLength, the
  // sector count and the process-wide totalSectors; the position becomes 0.
  bool open(const std::string& path) override;

  // Reads byteCount bytes at the position and advances it by what was read.
  // True only for a full read. A short read zero-fills the rest of the
  // destination; a read that gets nothing leaves the destination untouched.
  bool read(void* destination, std::uint32_t byteCount) override;

  // Position = base offset + offset (for SeekOrigin::Begin). A position
  // past the end is accepted; the following read then fails.
  bool seek(std::int64_t offset, SeekOrigin origin = SeekOrigin::Begin) override;

  // Positional read at base offset + offset, with read's rules for short
  // reads. Thread-safe with other readAt calls.
  bool readAt(std::int64_t offset, void* destination, std::size_t byteCount) const;

  // Positional read of at most byteCount bytes without zero-filling:
  // the count read (0 at the end), or -1 when the read failed.
  std::int64_t readUpTo(std::int64_t offset, void* destination, std::size_t byteCount) const;

  // Asks the kernel to read ahead: the caller is about to read sequentially.
  void adviseSequential() const;

  // The first offset (from the base offset) at or after `offset` that may
  // hold anything but zeros; holes the image knows of are passed over.
  std::uint64_t dataFrom(std::uint64_t offset) const;

  // Sectors of the image whose bytes were read although their checksum
  // failed (E01), in the order found.
  std::vector<SectorRange> unverifiedSectors() const;

  bool isOpen() const { return backend_ != nullptr; }
  const std::string& path() const { return path_; }
  std::uint64_t sourceLength() const { return sourceLength_; }
  std::uint64_t sectorCount() const { return sourceLength_ / kSectorSize; }
  // The system error of the last failed open, read or seek (0 if none).
  int lastError() const { return lastError_; }
  // One plain sentence saying why the last open failed (a missing segment
  // or parent, a variant that cannot be read, a missing file...).
  std::string lastErrorText() const;

  // Added to every offset; a parser sets it to its volume's first byte.
  std::int64_t baseOffset = 0;

 private:
  // Reads up to byteCount bytes at an absolute offset; the count read, or -1.
  std::int64_t readFully(std::int64_t absolute, void* destination, std::size_t byteCount) const;
  // Zero-fills behind a short read; true only when the whole count arrived.
  static bool finishRead(std::int64_t got, void* destination, std::size_t byteCount);

  std::unique_ptr<ImageBackend> backend_;
  std::string path_;
  std::string openError_;
  std::uint64_t sourceLength_ = 0;
  std::int64_t position_ = 0;
  mutable int lastError_ = 0;
};

}  // namespace quorvel
