#include "io/images/EwfImage.h"

#include <fcntl.h>
#include <libewf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "io/images/LibraryImage.h"

namespace quorvel {

namespace {

using images::cannotRead;

std::string takeError(libewf_error_t*& error) {
  return images::takeLibraryError(error, libewf_error_sprint, libewf_error_free);
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// The name of the segment after `name` (x.E01 -> x.E02, x.E99 -> x.EAA),
// for saying which one is missing.
std::string nextSegmentName(const std::string& name) {
  std::string next = name;
  if (next.size() < 2) return next;
  char& tens = next[next.size() - 2];
  char& ones = next[next.size() - 1];
  if (ones >= '0' && ones < '9') {
    ++ones;
  } else if (ones == '9' && tens >= '0' && tens < '9') {
    ones = '0';
    ++tens;
  } else {
    return {};
  }
  return next;
}

// Whether an EWF1 segment file says that more segments follow: its chain of
// sections ends in "next" rather than "done". The library opens a set that
// lacks its later segments without complaint and reads zeros there.
bool segmentSaysMoreFollow(const std::string& segment) {
  constexpr std::uint64_t kFileHeaderSize = 13;
  constexpr std::size_t kDescriptorSize = 76;  // type[16], next offset, size, padding, checksum
  constexpr int kMostSections = 1 << 20;
  const int fd = ::open(segment.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::array<char, 8> signature{};
  bool more = false;
  if (::pread(fd, signature.data(), signature.size(), 0) == 8 && std::memcmp(signature.data(), "EVF\x09", 4) == 0) {
    std::uint64_t at = kFileHeaderSize;
    for (int i = 0; i < kMostSections; ++i) {
      std::array<unsigned char, kDescriptorSize> descriptor{};
      if (::pread(fd, descriptor.data(), descriptor.size(), static_cast<off_t>(at)) != static_cast<ssize_t>(kDescriptorSize))
        break;
      const std::string type(reinterpret_cast<const char*>(descriptor.data()), ::strnlen(reinterpret_cast<const char*>(descriptor.data()), 16));
      if (type == "next") more = true;
      if (type == "next" || type == "done") break;
      std::uint64_t next = 0;
      for (int b = 7; b >= 0; --b) next = next << 8 | descriptor[16 + static_cast<std::size_t>(b)];
      if (next <= at) break;
      at = next;
    }
  }
  ::close(fd);
  return more;
}

class EwfImage final : public ImageBackend {
 public:
  explicit EwfImage(libewf_handle_t* handle) : handle_(handle) {
    libewf_error_t* error = nullptr;
    size64_t mediaSize = 0;
    if (libewf_handle_get_media_size(handle_, &mediaSize, &error) == 1) size_ = mediaSize;
    takeError(error);
    std::uint32_t bytesPerSector = 0;
    if (libewf_handle_get_bytes_per_sector(handle_, &bytesPerSector, &error) == 1 && bytesPerSector > 0)
      bytesPerSector_ = bytesPerSector;
    takeError(error);
  }
  ~EwfImage() override {
    libewf_error_t* error = nullptr;
    libewf_handle_close(handle_, &error);
    takeError(error);
    libewf_handle_free(&handle_, &error);
    takeError(error);
  }
  EwfImage(const EwfImage&) = delete;
  EwfImage& operator=(const EwfImage&) = delete;

  std::uint64_t size() const override { return size_; }
  int errorNumber() const override { return errorNumber_; }

  std::int64_t readAt(std::uint64_t offset, void* destination, std::size_t byteCount) const override {
    if (offset >= size_) return 0;
    if (byteCount > size_ - offset) byteCount = static_cast<std::size_t>(size_ - offset);
    // One handle, one position inside the library: reads take turns.
    std::lock_guard lock(mutex_);
    libewf_error_t* error = nullptr;
    const ssize_t got =
        libewf_handle_read_random(handle_, destination, byteCount, static_cast<off64_t>(offset), &error);
    takeError(error);
    if (got < 0) {
      errorNumber_ = EIO;
      return -1;
    }
    return got;
  }

  // A chunk whose checksum fails is still returned (the library does not
  // zero it unless told to); the library keeps the list of such sectors.
  std::vector<SectorRange> unverifiedSectors() const override {
    std::lock_guard lock(mutex_);
    std::vector<SectorRange> ranges;
    libewf_error_t* error = nullptr;
    std::uint32_t count = 0;
    if (libewf_handle_get_number_of_checksum_errors(handle_, &count, &error) != 1) count = 0;
    takeError(error);
    const std::uint64_t scale = bytesPerSector_;
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint64_t first = 0;
      std::uint64_t sectors = 0;
      if (libewf_handle_get_checksum_error(handle_, i, &first, &sectors, &error) == 1 && sectors > 0)
        ranges.push_back({first * scale / 512, (sectors * scale + 511) / 512});
      takeError(error);
    }
    return ranges;
  }

 private:
  mutable libewf_handle_t* handle_;
  std::uint64_t size_ = 0;
  std::uint64_t bytesPerSector_ = 512;
  mutable std::mutex mutex_;
  mutable std::atomic<int> errorNumber_{0};
};

}  // namespace

ImageOpening openEwfImage(const std::string& path) {
  ImageOpening opening;
  opening.errorNumber = EINVAL;
  libewf_error_t* error = nullptr;
  char** names = nullptr;
  int nameCount = 0;
  if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &nameCount, &error) != 1 ||
      nameCount < 1) {
    opening.error = cannotRead("E01", path, "its segment files could not be found", takeError(error));
    return opening;
  }
  const std::string lastFound = names[nameCount - 1];
  libewf_handle_t* handle = nullptr;
  bool opened = libewf_handle_initialize(&handle, &error) == 1;
  if (opened) opened = libewf_handle_open(handle, names, nameCount, LIBEWF_OPEN_READ, &error) == 1;
  // A chunk that fails its checksum is given as stored, not as zeros: the
  // bytes are most likely right, and the job says which sectors they are.
  if (opened) opened = libewf_handle_set_read_zero_chunk_on_error(handle, 0, &error) == 1;
  libewf_error_t* globError = nullptr;
  libewf_glob_free(names, nameCount, &globError);
  takeError(globError);
  if (!opened) {
    const std::string libraryText = takeError(error);
    if (handle != nullptr) libewf_handle_free(&handle, &error);
    takeError(error);
    // The set ends early when a segment in the middle is gone: the last one
    // found says it is not the last.
    const std::string next = nextSegmentName(lastFound);
    const std::string reason = !next.empty() && !exists(next)
                                   ? "the segment " + next + " is missing or the segments are damaged"
                                   : "the library cannot read this variant or the file is damaged";
    opening.error = cannotRead("E01", path, reason, libraryText);
    return opening;
  }
  if (segmentSaysMoreFollow(lastFound)) {
    libewf_handle_close(handle, &error);
    takeError(error);
    libewf_handle_free(&handle, &error);
    takeError(error);
    const std::string next = nextSegmentName(lastFound);
    opening.errorNumber = ENOENT;
    opening.error = cannotRead("E01", path, "the segment " + (next.empty() ? "after " + lastFound : next) + " is missing");
    return opening;
  }
  opening.errorNumber = 0;
  opening.backend = std::make_unique<EwfImage>(handle);
  return opening;
}

}  // namespace quorvel
