#include "session/HeldContent.h"

namespace quorvel {

bool HeldContent::write(Bytes data) {
  if (overflowed_ || data.size() > limit_ - bytes_.size()) {
    overflowed_ = true;
    return false;
  }
  if (data.empty()) return true;
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  if (!runs_.empty() && !runs_.back().zeros)
    runs_.back().length += data.size();
  else
    runs_.push_back({false, data.size()});
  return true;
}

bool HeldContent::zeros(std::uint64_t count) {
  if (overflowed_) return false;
  if (count == 0) return true;
  if (!runs_.empty() && runs_.back().zeros)
    runs_.back().length += count;
  else
    runs_.push_back({true, count});
  return true;
}

bool HeldContent::replay(ContentSink& sink) const {
  std::size_t offset = 0;
  for (const Run& run : runs_) {
    if (run.zeros) {
      if (!sink.zeros(run.length)) return false;
      continue;
    }
    const auto length = static_cast<std::size_t>(run.length);
    if (!sink.write(Bytes(bytes_.data() + offset, length))) return false;
    offset += length;
  }
  return true;
}

}  // namespace quorvel
