#include "contract/SeededSpoil.h"

#include <algorithm>
#include <stdexcept>

namespace quorvel::test {

SeededSpoil::SeededSpoil(const std::vector<Copy>& copies, std::vector<ByteRange> ranges, std::uint64_t seed)
    : ranges_(std::move(ranges)), random_(seed) {
  for (const Copy& c : copies) {
    copies_.push_back({std::fstream(c.file, std::ios::in | std::ios::out | std::ios::binary), c.volumeStart});
    if (!copies_.back().file) throw std::runtime_error("cannot open " + c.file.string());
  }
  if (copies_.empty()) throw std::runtime_error("nothing to spoil");
  std::erase_if(ranges_, [](const ByteRange& r) { return r.length == 0; });
}

void SeededSpoil::put(std::uint64_t offset, char value) {
  for (OpenCopy& c : copies_) {
    c.file.seekp(static_cast<std::streamoff>(c.volumeStart + offset));
    c.file.put(value);
    c.file.flush();
    if (!c.file) throw std::runtime_error("cannot write a spoilt copy");
  }
}

int SeededSpoil::spoil(int maxHits) {
  if (ranges_.empty() || maxHits < 1) return 0;
  const int hits = 1 + static_cast<int>(random_() % static_cast<std::uint64_t>(maxHits));
  OpenCopy& first = copies_.front();
  for (int k = 0; k < hits; ++k) {
    const ByteRange& range = ranges_[static_cast<std::size_t>(k) % ranges_.size()];
    const std::uint64_t offset = range.start + random_() % range.length;
    char before = 0;
    first.file.seekg(static_cast<std::streamoff>(first.volumeStart + offset));
    first.file.read(&before, 1);
    changes_.push_back({offset, before});
    auto after = static_cast<std::uint8_t>(before);
    switch (random_() % 4) {
      case 0: after = static_cast<std::uint8_t>(random_()); break;
      case 1: after = 0xFF; break;
      case 2: after = 0; break;
      default: after ^= static_cast<std::uint8_t>(1u << (random_() % 8)); break;
    }
    put(offset, static_cast<char>(after));
  }
  return hits;
}

void SeededSpoil::undo() {
  // Backwards, so a byte hit twice gets its first value back.
  for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) put(it->offset, it->before);
  changes_.clear();
}

}  // namespace quorvel::test
