#include "fs/ntfs/RunList.h"

#include <algorithm>

namespace quorvel::ntfsfmt {

namespace {

std::uint64_t readUnsignedField(Bytes b, std::size_t offset, unsigned width) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < width; ++i) value |= static_cast<std::uint64_t>(b[offset + i]) << (8 * i);
  return value;
}

// Sign-extended from the top bit of its last (most significant) byte.
std::int64_t readSignedField(Bytes b, std::size_t offset, unsigned width) {
  std::uint64_t value = readUnsignedField(b, offset, width);
  if (width < 8 && (b[offset + width - 1] & 0x80) != 0) value |= ~0ull << (8 * width);
  return static_cast<std::int64_t>(value);
}

}  // namespace

namespace {

// Walks the mapping pairs, handing each run that fits the extent to `onRun`.
template <typename OnRun>
RunListEnd walkRunList(Bytes pairs, std::uint64_t firstVcn, std::uint64_t vcnCount, OnRun&& onRun) {
  std::size_t pos = 0;
  std::int64_t lcn = 0;
  std::uint64_t mapped = 0;
  // Each pair takes at least two bytes, which bounds the loop.
  while (pos < pairs.size()) {
    const std::uint8_t header = pairs[pos];
    if (header == 0) return RunListEnd::Terminated;
    const unsigned lengthWidth = header & 0x0F;
    const unsigned offsetWidth = header >> 4;
    if (lengthWidth == 0 || lengthWidth > 8 || offsetWidth > 8) return RunListEnd::Damaged;
    if (pairs.size() - pos - 1 < lengthWidth + offsetWidth) return RunListEnd::Truncated;

    const std::uint64_t length = readUnsignedField(pairs, pos + 1, lengthWidth);
    if (length == 0) return RunListEnd::Damaged;
    DataRun run;
    run.vcn = firstVcn + mapped;
    run.length = length;
    if (offsetWidth != 0) {
      const std::int64_t delta = readSignedField(pairs, pos + 1 + lengthWidth, offsetWidth);
      std::int64_t next = 0;
      if (__builtin_add_overflow(lcn, delta, &next) || next < 0) return RunListEnd::Damaged;
      lcn = next;
      run.lcn = Lcn{lcn};
    }
    if (length > vcnCount - mapped) return RunListEnd::Overrun;
    mapped += length;
    onRun(run);
    pos += 1 + lengthWidth + offsetWidth;
  }
  return RunListEnd::Truncated;
}

}  // namespace

RunListEnd decodeRunList(Bytes pairs, std::uint64_t firstVcn, std::uint64_t vcnCount, std::vector<DataRun>& out) {
  return walkRunList(pairs, firstVcn, vcnCount, [&](const DataRun& run) { out.push_back(run); });
}

std::uint64_t mappedClusters(Bytes pairs, std::uint64_t vcnCount) {
  std::uint64_t mapped = 0;
  walkRunList(pairs, 0, vcnCount, [&](const DataRun& run) { mapped = run.endVcn(); });
  return mapped;
}

void normaliseRuns(std::vector<DataRun>& runs) {
  std::stable_sort(runs.begin(), runs.end(), [](const DataRun& a, const DataRun& b) { return a.vcn < b.vcn; });
  std::size_t kept = 0;
  std::uint64_t end = 0;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (kept > 0 && runs[i].vcn < end) continue;
    end = runs[i].endVcn();
    runs[kept++] = runs[i];
  }
  runs.resize(kept);
}

const DataRun* findRun(const std::vector<DataRun>& runs, std::uint64_t vcn) {
  auto it = std::upper_bound(runs.begin(), runs.end(), vcn, [](std::uint64_t v, const DataRun& r) { return v < r.vcn; });
  if (it == runs.begin()) return nullptr;
  --it;
  return vcn < it->endVcn() ? &*it : nullptr;
}

}  // namespace quorvel::ntfsfmt
