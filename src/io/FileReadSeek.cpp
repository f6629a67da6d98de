#include "io/FileReadSeek.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "io/CurrentSource.h"

namespace quorvel {

FileReadSeek::~FileReadSeek() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileReadSeek::open(const std::string& path) {
  attemptedPath_ = path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    lastError_ = errno;
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    lastError_ = S_ISDIR(info.st_mode) ? EISDIR : errno;
    ::close(fd);
    return false;
  }
  std::uint64_t length = 0;
  if (S_ISBLK(info.st_mode)) {
    // The kernel's byte count: geometry products understate modern disks.
    if (::ioctl(fd, BLKGETSIZE64, &length) != 0) length = 0;
  } else if (S_ISREG(info.st_mode)) {
    length = static_cast<std::uint64_t>(info.st_size);
  } else {
    const off_t end = ::lseek(fd, 0, SEEK_END);
    length = end > 0 ? static_cast<std::uint64_t>(end) : 0;
  }

  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  path_ = path;
  sourceLength_ = length;
  position_ = 0;
  lastError_ = 0;
  totalSectors = sectorCount();
  return true;
}

std::string FileReadSeek::lastErrorText() const {
  if (lastError_ == 0) return {};
  return "Cannot open " + attemptedPath_ + ": " + std::strerror(lastError_) + ".";
}

std::int64_t FileReadSeek::readFully(std::int64_t absolute, void* destination,
                                     std::size_t byteCount) const {
  if (fd_ < 0) {
    lastError_ = EBADF;
    return -1;
  }
  if (absolute < 0) {
    lastError_ = EINVAL;
    return -1;
  }
  auto* out = static_cast<std::uint8_t*>(destination);
  std::size_t done = 0;
  while (done < byteCount) {
    const off_t at = static_cast<off_t>(absolute) + static_cast<off_t>(done);
    const ssize_t got = ::pread(fd_, out + done, byteCount - done, at);
    if (got < 0) {
      if (errno == EINTR) continue;
      lastError_ = errno;
      return done > 0 ? static_cast<std::int64_t>(done) : -1;
    }
    if (got == 0) break;  // end of the source
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

bool FileReadSeek::finishRead(std::int64_t got, void* destination, std::size_t byteCount) {
  if (got <= 0) return byteCount == 0 && got == 0;
  const auto count = static_cast<std::size_t>(got);
  if (count < byteCount) std::memset(static_cast<std::uint8_t*>(destination) + count, 0, byteCount - count);
  return count >= byteCount;
}

bool FileReadSeek::read(void* destination, std::uint32_t byteCount) {
  const std::int64_t got = readFully(position_, destination, byteCount);
  if (got > 0) position_ += got;
  return finishRead(got, destination, byteCount);
}

std::int64_t FileReadSeek::readUpTo(std::int64_t offset, void* destination,
                                   std::size_t byteCount) const {
  if (offset > std::numeric_limits<std::int64_t>::max() - baseOffset) return -1;
  return readFully(baseOffset + offset, destination, byteCount);
}

bool FileReadSeek::readAt(std::int64_t offset, void* destination, std::size_t byteCount) const {
  return finishRead(readUpTo(offset, destination, byteCount), destination, byteCount);
}

bool FileReadSeek::seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t from = 0;
  switch (origin) {
    case SeekOrigin::Begin: from = baseOffset; break;
    case SeekOrigin::Current: from = position_; break;
    case SeekOrigin::End: from = static_cast<std::int64_t>(sourceLength_); break;
  }
  if (fd_ < 0) {
    lastError_ = EBADF;
    return false;
  }
  if ((offset > 0 && from > std::numeric_limits<std::int64_t>::max() - offset) || from + offset < 0) {
    lastError_ = EINVAL;
    return false;
  }
  position_ = from + offset;
  return true;
}

void FileReadSeek::adviseSequential() const {
  if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

}  // namespace quorvel
