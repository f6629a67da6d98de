#include "fs/ntfs/NtfsExtraction.h"

#include <algorithm>

#include "fs/ntfs/Lznt1.h"

namespace quorvel::ntfsfmt {

namespace {

constexpr std::size_t kReadPiece = 1u << 20;
// Real volumes use units of 16 clusters of at most 4 KiB; anything far
// beyond is a damaged header, read as stored bytes instead.
constexpr unsigned kMaxCompressionUnit = 8;
constexpr std::uint64_t kMaxUnitBytes = 4u << 20;

// Hands bytes to the sink in file order, never past the content's length,
// and zeros for whatever lies past the initialized size.
class Writer {
 public:
  Writer(ContentSink& sink, std::uint64_t length, std::uint64_t initialized)
      : sink_(sink), length_(length), initialized_(std::min(initialized, length)) {}

  std::uint64_t offset() const { return offset_; }
  bool done() const { return offset_ >= length_ || !ok_; }
  bool sinkOk() const { return ok_; }

  void zeros(std::uint64_t count) {
    count = std::min(count, length_ - offset_);
    if (count == 0 || !ok_) return;
    ok_ = sink_.zeros(count);
    offset_ += count;
  }

  void bytes(Bytes data) {
    std::uint64_t count = std::min<std::uint64_t>(data.size(), length_ - offset_);
    if (count == 0 || !ok_) return;
    if (offset_ < initialized_) {
      const std::size_t real = static_cast<std::size_t>(std::min(count, initialized_ - offset_));
      ok_ = sink_.write(data.first(real));
      offset_ += real;
      count -= real;
    }
    zeros(count);
  }

  // Zeros up to `target`, for parts the runs do not map.
  void padTo(std::uint64_t target) {
    if (target > offset_) zeros(target - offset_);
  }

 private:
  ContentSink& sink_;
  std::uint64_t length_;
  std::uint64_t initialized_;
  std::uint64_t offset_ = 0;
  bool ok_ = true;
};

// The first VCN mapped after `vcn`, or the end of the runs.
std::uint64_t nextRunStart(const std::vector<DataRun>& runs, std::uint64_t vcn) {
  for (const DataRun& r : runs)
    if (r.vcn > vcn) return r.vcn;
  return runs.empty() ? vcn + 1 : std::max(vcn + 1, runs.back().endVcn());
}

bool streamRuns(const DataStream& ds, const NtfsVolume& volume, Writer& out) {
  const std::uint64_t cs = volume.clusterSize;
  bool complete = ds.complete;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(kReadPiece, ds.length())));
  for (const DataRun& run : ds.runs) {
    if (out.done()) break;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    if (!vcnToBytes(run.vcn, cs, start) || !vcnToBytes(run.endVcn(), cs, end)) break;
    if (start > out.offset()) {
      complete = false;
      out.padTo(start);
    }
    while (!out.done() && out.offset() < end) {
      const std::uint64_t at = out.offset();
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - at));
      if (run.sparse()) {
        out.zeros(end - at);
        continue;
      }
      const std::span<std::uint8_t> piece(buffer.data(), n);
      if (!volume.clustersInside(run.lcn, 0) ||
          !volume.read(volume.byteOffset(run.lcn) + (at - start), piece)) {
        std::fill(piece.begin(), piece.end(), 0);
        complete = false;
      }
      out.bytes(piece);
    }
  }
  if (!out.done()) {
    complete = false;
    out.zeros(~0ull);
  }
  return complete;
}

bool streamCompressed(const DataStream& ds, const NtfsVolume& volume, Writer& out) {
  const std::uint64_t cs = volume.clusterSize;
  const std::uint64_t unitClusters = 1ull << ds.compressionUnit;
  const std::uint64_t unitBytes = unitClusters * cs;
  const std::uint64_t vcnEnd = ds.runs.empty() ? 0 : ds.runs.back().endVcn();
  bool complete = ds.complete;
  std::vector<std::uint8_t> input(unitBytes);
  std::vector<std::uint8_t> output(unitBytes);

  for (std::uint64_t unitVcn = 0; !out.done(); unitVcn += unitClusters) {
    if (unitVcn >= vcnEnd) {
      complete = false;
      out.zeros(~0ull);
      break;
    }
    std::uint64_t unitStart = 0;
    if (!vcnToBytes(unitVcn, cs, unitStart)) break;
    out.padTo(unitStart);
    const std::uint64_t present = std::min(unitClusters, vcnEnd - unitVcn);
    // Whole units inside one sparse run are zeros, without a look at each.
    if (const DataRun* first = findRun(ds.runs, unitVcn); first && first->sparse()) {
      const std::uint64_t units = (first->endVcn() - unitVcn) / unitClusters;
      if (units > 0) {
        out.zeros(units > ~0ull / unitBytes ? ~0ull : units * unitBytes);
        unitVcn += (units - 1) * unitClusters;
        continue;
      }
    }
    // The unit is compressed when its stored clusters end before the unit
    // does: the rest of it is a sparse tail.
    std::uint64_t stored = 0;
    std::fill(input.begin(), input.end(), 0);
    for (std::uint64_t c = 0; c < present;) {
      const DataRun* run = findRun(ds.runs, unitVcn + c);
      if (!run) {
        complete = false;
        c = std::min(present, nextRunStart(ds.runs, unitVcn + c) - unitVcn);
        continue;
      }
      const std::uint64_t count = std::min(run->endVcn() - (unitVcn + c), present - c);
      if (!run->sparse()) {
        const Lcn lcn{run->lcn.value + static_cast<std::int64_t>(unitVcn + c - run->vcn)};
        if (!volume.readClusters(lcn, count, std::span<std::uint8_t>(input.data() + c * cs, count * cs)))
          complete = false;
        stored = c + count;
      }
      c += count;
    }

    if (stored == 0) {
      out.zeros(unitBytes);
    } else if (stored == present) {
      out.bytes(Bytes(input.data(), stored * cs));
    } else {
      const Lznt1Result r = lznt1Decompress(Bytes(input.data(), stored * cs), output);
      if (!r.ok) complete = false;
      out.bytes(Bytes(output.data(), output.size()));
    }
  }
  return complete;
}

}  // namespace

bool streamContent(const DataStream& ds, const NtfsVolume& volume, ContentSink& sink) {
  if (!ds.present) return ds.complete;
  Writer out(sink, ds.length(), ds.resident ? ds.value.size() : ds.initializedSize);
  if (ds.resident) {
    out.bytes(Bytes(ds.value.data(), ds.value.size()));
    return out.sinkOk();
  }
  if (volume.clusterSize == 0) return false;
  bool complete = false;
  const bool unitUsable = ds.compressionUnit > 0 && ds.compressionUnit <= kMaxCompressionUnit &&
                          (1ull << ds.compressionUnit) * volume.clusterSize <= kMaxUnitBytes;
  if (ds.compressed() && unitUsable)
    complete = streamCompressed(ds, volume, out);
  else
    complete = streamRuns(ds, volume, out);
  return complete && out.sinkOk() && ds.sizesKnown;
}

}  // namespace quorvel::ntfsfmt
