#pragma once
// The one chunked scanner behind every sector-by-sector search (the volume
// scan, the deep MFT scan, the damaged-volume searches, carving): large
// sequential reads, a look at every step of each chunk in memory, Stop and
// Pause once per chunk, resumption behind a find, the short last chunk, and
// holes of sparse images passed over (no search looks for zeros alone).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "io/Endian.h"
#include "io/JobContext.h"
#include "io/VolumeView.h"

namespace quorvel {

// What a visitor returns to end the scan.
inline constexpr std::uint64_t kEndScan = std::numeric_limits<std::uint64_t>::max();

enum class ScanEnd {
  Finished,  // the range was looked at (or the source ended)
  Stopped,   // the job was stopped
  Ended,     // the visitor or the chunk callback ended it
};

struct SectorScanOptions {
  std::uint64_t from = 0;                                    // first byte looked at
  std::uint64_t to = std::numeric_limits<std::uint64_t>::max();  // cut to the view's size
  std::size_t chunkBytes = 1 << 20;
  std::size_t stepBytes = 512;
  // Pass over the holes the image knows of, but for the last chunk before
  // the data behind each, so a structure that begins in a hole's last bytes
  // is still seen. Off only where a visitor must see every zero.
  bool skipHoles = true;
};

// How many chunks of `chunkBytes` (rounded down to whole steps, at least
// one step) cover `bytes`, as a scan with no find skipped reads them.
std::uint64_t chunksCovering(std::uint64_t bytes, std::size_t chunkBytes, std::size_t stepBytes);

class SectorScan {
 public:
  SectorScan(const VolumeView& view, JobContext& job, SectorScanOptions options = {});

  // Called after each chunk with the offset the scan goes on from; false ends
  // the scan. Progress is reported from here.
  std::function<bool(std::uint64_t next)> afterChunk;
  // Called with the offset and count of bytes a chunk could not read; the
  // scan passes over them as if they were zeros.
  std::function<void(std::uint64_t at, std::uint64_t bytes)> onUnreadable;

  // Calls visit(offset, window) for every step of the range, where window
  // holds the bytes from offset to the end of the chunk read (at least one
  // step; read more through the view when a structure runs past it). The
  // visitor returns the offset to go on from: offset + step to move on, a
  // later offset to resume behind a find (the next chunk then starts
  // there), or kEndScan. An offset at or before the current one moves on
  // one step. A chunk that cannot be read is passed over; a step cut by
  // the end of the source is not looked at.
  template <typename Visitor>
  ScanEnd run(Visitor&& visit);

  const VolumeView& view() const { return view_; }
  std::uint64_t from() const { return from_; }
  std::uint64_t to() const { return to_; }
  std::size_t chunkBytes() const { return chunkBytes_; }
  // How many chunks a scan of the whole range reads, with no find skipped.
  std::uint64_t chunkCount() const;
  // How many of those chunks lie before `offset`: the progress of a scan
  // that goes on from there, jumps and holes included.
  std::uint64_t chunksBefore(std::uint64_t offset) const;

 private:
  // Reads `wanted` bytes at `at`: the count read, which is short after a
  // read error; 0 when the source has nothing there; -1 when nothing could
  // be read.
  std::int64_t readChunk(std::uint64_t at, std::size_t wanted);
  // Where a scan about to read at `at` goes on: `at`, or on the same step
  // grid one chunk before the data behind a long hole.
  std::uint64_t pastHole(std::uint64_t at) const;

  VolumeView view_;
  JobContext& job_;
  std::uint64_t from_;
  std::uint64_t to_;
  std::size_t chunkBytes_;
  std::size_t stepBytes_;
  bool skipHoles_;
  std::vector<std::uint8_t> chunk_;
};

template <typename Visitor>
ScanEnd SectorScan::run(Visitor&& visit) {
  view_.adviseSequential();
  std::uint64_t at = pastHole(from_);
  while (at < to_) {
    if (!job_.checkpoint()) return ScanEnd::Stopped;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunkBytes_, to_ - at));
    if (wanted < stepBytes_) break;  // a step cut by the end
    const std::int64_t got = readChunk(at, wanted);
    if (got == 0) break;  // the source ended early
    // What could not be read is passed over: a bad stretch of a failing
    // disk must not end the search for what lies behind it.
    std::uint64_t next = at + wanted;
    if (got < static_cast<std::int64_t>(wanted) && onUnreadable) {
      const std::uint64_t read = got > 0 ? static_cast<std::uint64_t>(got) : 0;
      onUnreadable(at + read, wanted - read);
    }
    if (got > 0) {
      const auto have = static_cast<std::size_t>(got);
      std::size_t off = 0;
      bool jumped = false;
      while (off + stepBytes_ <= have) {
        const std::uint64_t position = at + off;
        std::uint64_t after = visit(position, Bytes(chunk_.data() + off, have - off));
        if (after == kEndScan) return ScanEnd::Ended;
        if (after <= position) after = position + stepBytes_;
        if (after - at >= have) {
          next = have == wanted ? after : std::max<std::uint64_t>(after, at + wanted);
          jumped = true;
          break;
        }
        off = static_cast<std::size_t>(after - at);
      }
      if (!jumped && have == wanted) next = at + off;
    }
    next = pastHole(next);
    if (afterChunk && !afterChunk(std::min(next, to_))) return ScanEnd::Ended;
    at = next;
  }
  return ScanEnd::Finished;
}

}  // namespace quorvel
