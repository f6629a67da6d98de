#include "fs/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace quorvel {

OutputFile::OutputFile(const std::filesystem::path& path) {
  // Most saves go to names nothing holds yet: create without looking first.
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ >= 0) return;
  if (errno != EEXIST) {
    error_ = errno;
    return;
  }
  // A file with a second name (a hard link, perhaps to something outside the
  // output folder) is replaced, never truncated: its other name keeps its bytes.
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) && existing.st_nlink > 1)
    ::unlink(path.c_str());
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ < 0) error_ = errno;
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::write(Bytes data) {
  if (fd_ < 0 || failed_) return false;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(length_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      error_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  length_ += data.size();
  endsInHole_ = false;
  return true;
}

bool OutputFile::zeros(std::uint64_t count) {
  if (fd_ < 0 || failed_) return false;
  length_ += count;  // a hole; the length is fixed in finish
  endsInHole_ = endsInHole_ || count > 0;
  return true;
}

namespace {
timespec toTimespec(const std::optional<FileTime>& time) {
  if (!time) return {0, UTIME_OMIT};
  return {static_cast<time_t>(time->seconds), static_cast<long>(time->nanoseconds)};
}
}  // namespace

bool OutputFile::finish(const EntryTimes& times) {
  if (fd_ < 0) return false;
  // Only a trailing hole leaves the file shorter than its content.
  const auto noteError = [this](bool succeeded) {
    if (!succeeded && error_ == 0) error_ = errno;
    return succeeded;
  };
  bool ok = !failed_ && (!endsInHole_ || noteError(::ftruncate(fd_, static_cast<off_t>(length_)) == 0));
  const timespec stamps[2] = {toTimespec(times.accessed), toTimespec(times.modified)};
  ok = noteError(::futimens(fd_, stamps) == 0) && ok;
  if (times.created) {
    // Linux has no settable creation time; keep it where tools can read it.
    const std::string value = std::to_string(times.created->seconds) + "." + std::to_string(times.created->nanoseconds);
    ::fsetxattr(fd_, "user.creation_time", value.data(), value.size(), 0);
  }
  ok = noteError(::close(fd_) == 0) && ok;
  fd_ = -1;
  return ok;
}

}  // namespace quorvel
