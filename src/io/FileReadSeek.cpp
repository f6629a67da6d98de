#include "io/FileReadSeek.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "io/CurrentSource.h"
#include "io/ImageFormat.h"

namespace quorvel {

FileReadSeek::~FileReadSeek() = default;

bool FileReadSeek::open(const std::string& path) {
  ImageOpening opening = openImage(path);
  if (!opening.backend) {
    lastError_ = opening.errorNumber != 0 ? opening.errorNumber : EINVAL;
    openError_ = opening.error;
    return false;
  }
  backend_ = std::move(opening.backend);
  path_ = path;
  sourceLength_ = backend_->size();
  position_ = 0;
  lastError_ = 0;
  openError_.clear();
  totalSectors = sectorCount();
  return true;
}

std::string FileReadSeek::lastErrorText() const {
  if (lastError_ == 0) return {};
  if (!openError_.empty()) return openError_;
  return "Cannot read " + path_ + ": " + std::strerror(lastError_) + ".";
}

std::vector<SectorRange> FileReadSeek::unverifiedSectors() const {
  return backend_ ? backend_->unverifiedSectors() : std::vector<SectorRange>{};
}

std::int64_t FileReadSeek::readFully(std::int64_t absolute, void* destination,
                                     std::size_t byteCount) const {
  if (!backend_) {
    lastError_ = EBADF;
    return -1;
  }
  if (absolute < 0) {
    lastError_ = EINVAL;
    return -1;
  }
  const std::int64_t got = backend_->readAt(static_cast<std::uint64_t>(absolute), destination, byteCount);
  if (got < 0) lastError_ = backend_->errorNumber();
  return got;
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
  if (!backend_) {
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
  if (backend_) backend_->adviseSequential();
}

std::uint64_t FileReadSeek::dataFrom(std::uint64_t offset) const {
  if (!backend_ || baseOffset < 0) return offset;
  const auto base = static_cast<std::uint64_t>(baseOffset);
  if (offset > std::numeric_limits<std::uint64_t>::max() - base) return offset;
  const std::uint64_t data = backend_->dataFrom(base + offset);
  return data > base + offset ? data - base : offset;
}

}  // namespace quorvel
