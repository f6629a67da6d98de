#include "io/images/SplitRawImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "io/images/RawImage.h"

namespace quorvel {

namespace {

bool isFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string partName(const std::string& stem, unsigned number, std::size_t digits) {
  std::string text = std::to_string(number);
  if (text.size() < digits) text.insert(0, digits - text.size(), '0');
  return stem + text;
}

// Parts are concatenated: part i covers [starts_[i], starts_[i + 1]).
class SplitRawImage final : public ImageBackend {
 public:
  explicit SplitRawImage(std::vector<std::unique_ptr<ImageBackend>> parts) : parts_(std::move(parts)) {
    std::uint64_t start = 0;
    for (const auto& part : parts_) {
      starts_.push_back(start);
      start += part->size();
    }
    size_ = start;
  }

  std::uint64_t size() const override { return size_; }
  int errorNumber() const override { return errorNumber_; }

  std::int64_t readAt(std::uint64_t offset, void* destination, std::size_t byteCount) const override {
    auto* out = static_cast<std::uint8_t*>(destination);
    std::size_t done = 0;
    while (done < byteCount && offset + done < size_) {
      const std::uint64_t at = offset + done;
      const auto after = std::upper_bound(starts_.begin(), starts_.end(), at);
      const std::size_t index = static_cast<std::size_t>(after - starts_.begin()) - 1;
      const std::uint64_t within = at - starts_[index];
      const std::uint64_t left = parts_[index]->size() - within;
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, byteCount - done));
      const std::int64_t got = parts_[index]->readAt(within, out + done, want);
      if (got < 0) {
        errorNumber_ = parts_[index]->errorNumber();
        return done > 0 ? static_cast<std::int64_t>(done) : -1;
      }
      done += static_cast<std::size_t>(got);
      if (static_cast<std::size_t>(got) < want) break;  // a part shrank since it was opened
    }
    return static_cast<std::int64_t>(done);
  }

  void adviseSequential() const override {
    for (const auto& part : parts_) part->adviseSequential();
  }

  std::uint64_t dataFrom(std::uint64_t offset) const override {
    if (offset >= size_) return offset;
    auto index = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin()) - 1;
    std::uint64_t within = offset - starts_[index];
    // A part that holds only a hole from here hands over to the next part.
    for (; index < parts_.size(); ++index, within = 0) {
      const std::uint64_t data = parts_[index]->dataFrom(within);
      if (data < parts_[index]->size()) return starts_[index] + data;
    }
    return size_;
  }

 private:
  std::vector<std::unique_ptr<ImageBackend>> parts_;
  std::vector<std::uint64_t> starts_;
  std::uint64_t size_ = 0;
  mutable std::atomic<int> errorNumber_{0};
};

}  // namespace

std::optional<std::vector<std::string>> splitRawParts(const std::string& path, std::string& missingPart) {
  missingPart.clear();
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
  const std::string suffix = path.substr(dot + 1);
  if (suffix.size() != 3 || !std::all_of(suffix.begin(), suffix.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const std::string stem = path.substr(0, dot + 1);
  const std::size_t digits = suffix.size();
  const unsigned chosen = static_cast<unsigned>(std::stoul(suffix));
  const unsigned first = isFile(partName(stem, 0, digits)) ? 0 : 1;
  if (chosen < first) return std::nullopt;

  std::vector<std::string> parts;
  constexpr unsigned kMostParts = 1000;
  for (unsigned number = first; number < kMostParts; ++number) {
    const std::string name = partName(stem, number, digits);
    if (!isFile(name)) break;
    parts.push_back(name);
  }
  if (parts.empty()) return std::nullopt;  // a numbered name, not a set
  const unsigned end = first + static_cast<unsigned>(parts.size());
  // A gap: the chosen part, or the one behind the first missing one, exists.
  if (chosen >= end || isFile(partName(stem, end + 1, digits))) {
    missingPart = partName(stem, end, digits);
    return std::vector<std::string>{};
  }
  if (parts.size() < 2) return std::nullopt;
  return parts;
}

ImageOpening openSplitRawImage(const std::vector<std::string>& names) {
  ImageOpening opening;
  std::vector<std::unique_ptr<ImageBackend>> parts;
  for (const std::string& name : names) {
    ImageOpening part = openRawImage(name);
    if (!part.backend) return part;
    parts.push_back(std::move(part.backend));
  }
  opening.backend = std::make_unique<SplitRawImage>(std::move(parts));
  return opening;
}

}  // namespace quorvel
