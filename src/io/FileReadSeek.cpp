#include "io/FileReadSeek.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

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
  lastError_ = 0;
  openError_.clear();
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

bool FileReadSeek::finishRead(std::int64_t got, void* destination, std::size_t byteCount) {
  if (got <= 0) return byteCount == 0 && got == 0;
  const auto count = static_cast<std::size_t>(got);
  if (count < byteCount) std::memset(static_cast<std::uint8_t*>(destination) + count, 0, byteCount - count);
  return count >= byteCount;
}

std::int64_t FileReadSeek::readUpTo(std::int64_t offset, void* destination,
                                   std::size_t byteCount) const {
  if (!backend_) {
    lastError_ = EBADF;
    return -1;
  }
  if (offset < 0) {
    lastError_ = EINVAL;
    return -1;
  }
  const std::int64_t got = backend_->readAt(static_cast<std::uint64_t>(offset), destination, byteCount);
  if (got < 0) lastError_ = backend_->errorNumber();
  return got;
}

bool FileReadSeek::readAt(std::int64_t offset, void* destination, std::size_t byteCount) const {
  return finishRead(readUpTo(offset, destination, byteCount), destination, byteCount);
}

void FileReadSeek::adviseSequential() const {
  if (backend_) backend_->adviseSequential();
}

std::uint64_t FileReadSeek::dataFrom(std::uint64_t offset) const {
  if (!backend_) return offset;
  return std::max(backend_->dataFrom(offset), offset);
}

}  // namespace quorvel
