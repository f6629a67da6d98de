#include "io/images/RawImage.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace quorvel {

namespace {

class RawImage final : public ImageBackend {
 public:
  RawImage(int fd, std::uint64_t size) : fd_(fd), size_(size) {
    struct stat info {};
    sparseCapable_ = ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
  }
  ~RawImage() override { ::close(fd_); }
  RawImage(const RawImage&) = delete;
  RawImage& operator=(const RawImage&) = delete;

  std::uint64_t size() const override { return size_; }
  int errorNumber() const override { return error_.load(); }

  std::int64_t readAt(std::uint64_t offset, void* destination, std::size_t byteCount) const override {
    auto* out = static_cast<std::uint8_t*>(destination);
    std::size_t done = 0;
    while (done < byteCount) {
      const ssize_t got = ::pread(fd_, out + done, byteCount - done, static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        return done > 0 ? static_cast<std::int64_t>(done) : -1;
      }
      if (got == 0) break;  // the end
      done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
  }

  void adviseSequential() const override { ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL); }

  // Only the descriptor's position moves, which no read here uses (pread).
  std::uint64_t dataFrom(std::uint64_t offset) const override {
    if (!sparseCapable_ || offset >= size_) return offset;
    const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
    if (data >= 0) return std::min<std::uint64_t>(static_cast<std::uint64_t>(data), size_);
    // ENXIO: only a hole lies behind. Anything else: the file system cannot tell.
    return errno == ENXIO ? size_ : offset;
  }

 private:
  int fd_;
  std::uint64_t size_;
  bool sparseCapable_ = false;
  mutable std::atomic<int> error_{0};
};

}  // namespace

bool sizeOfDescriptor(int fd, std::uint64_t& size, int& errorNumber) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    errorNumber = errno;
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    errorNumber = EISDIR;
    return false;
  }
  size = 0;
  if (S_ISBLK(info.st_mode)) {
    // The kernel's byte count: geometry products understate modern disks.
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0) size = 0;
  } else if (S_ISREG(info.st_mode)) {
    size = static_cast<std::uint64_t>(info.st_size);
  } else {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
  }
  return true;
}

std::unique_ptr<ImageBackend> rawImageOnDescriptor(int fd, std::uint64_t size) {
  return std::make_unique<RawImage>(fd, size);
}

ImageOpening openRawImage(const std::string& path) {
  ImageOpening opening;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    opening.errorNumber = errno;
    opening.error = "Cannot open " + path + ": " + std::strerror(opening.errorNumber) + ".";
    return opening;
  }
  std::uint64_t size = 0;
  if (!sizeOfDescriptor(fd, size, opening.errorNumber)) {
    ::close(fd);
    opening.error = "Cannot open " + path + ": " + std::strerror(opening.errorNumber) + ".";
    return opening;
  }
  opening.backend = rawImageOnDescriptor(fd, size);
  return opening;
}

}  // namespace quorvel
