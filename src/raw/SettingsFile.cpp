#include "raw/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace quorvel::raw {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool writeAll(int fd, const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

SettingsRead readSettingsFile(const std::filesystem::path& path, SettingsOrigin origin) {
  SettingsRead result;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (origin == SettingsOrigin::Chosen) result.message = kCannotOpenFile;
    return result;
  }
  std::error_code error;
  const std::uint64_t length = std::filesystem::file_size(path, error);
  const std::uint64_t count = error ? 0 : length / kRecordBytes;
  if (count == 0 || (count - 1) * kRecordBytes > kLastRecordLimit) {
    result.message = kNotValidFile;
    return result;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count * kRecordBytes));
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
    result.message = origin == SettingsOrigin::Chosen ? kCannotOpenFile : kNotValidFile;
    return result;
  }
  for (std::uint64_t i = 0; i < count; ++i)
    result.records.push_back(decodeRecord(Bytes(bytes.data() + i * kRecordBytes, kRecordBytes)));
  if (origin == SettingsOrigin::Chosen && result.records.back().sizeFieldBytes > 8) {
    result.records.clear();
    result.message = kNotValidFile;
    return result;
  }
  result.ok = true;
  return result;
}

std::string appendToSettingsFile(const std::filesystem::path& path, const SignatureForm& form) {
  const Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (fd.get() < 0) return kCannotCreateFile;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return kCannotCreateFile;
  const auto index = static_cast<std::uint8_t>(static_cast<std::uint64_t>(info.st_size) / kRecordBytes);
  const FormRecord made = recordFromForm(form, index);
  if (!made.record) return made.message;
  const auto bytes = encodeRecord(*made.record);
  if (!writeAll(fd.get(), bytes.data(), bytes.size())) return kCannotCreateFile;
  return made.message;
}

bool writeSettingsFile(const std::filesystem::path& path, std::vector<SignatureRecord> records) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::size_t i = 0; i < records.size(); ++i) {
    records[i].index = static_cast<std::uint8_t>(i);
    const auto bytes = encodeRecord(records[i]);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  out.close();
  return static_cast<bool>(out);
}

}  // namespace quorvel::raw
