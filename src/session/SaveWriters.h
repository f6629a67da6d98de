#pragma once
// Finishing saved files on a few threads: the save's own thread opens each
// output file (so names, links and failures are settled in catalogue order)
// and reads its content from the source; the writes, times, extended
// attribute and close, which dominate a save of many small files, overlap
// on the writers. The source is only ever read on the save's thread.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "fs/FileSystemParser.h"
#include "fs/OutputFile.h"

namespace quorvel {

// An opened output file and its whole content, waiting to be written.
struct PendingFile {
  std::unique_ptr<OutputFile> file;
  std::vector<std::uint8_t> content;
  // In file order: a run of zeros (a hole, as the source has it), then that
  // many bytes of `content`.
  struct Piece {
    std::uint64_t zeros = 0;
    std::size_t bytes = 0;
  };
  std::vector<Piece> pieces;
  EntryTimes times;
  bool readWhole = true;
};

class SaveWriters {
 public:
  explicit SaveWriters(unsigned threads);
  ~SaveWriters();  // finishes what is queued
  SaveWriters(const SaveWriters&) = delete;
  SaveWriters& operator=(const SaveWriters&) = delete;

  void submit(PendingFile file);
  // Waits until every submitted file is finished.
  void drain();
  // Files finished whole and files that failed so far.
  std::uint64_t saved() const;
  std::uint64_t failed() const;

 private:
  void work();

  mutable std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable idle_;
  std::deque<PendingFile> queue_;
  unsigned busy_ = 0;
  bool closing_ = false;
  std::uint64_t saved_ = 0;
  std::uint64_t failed_ = 0;
  std::vector<std::thread> threads_;
};

// Collects a file's content in memory up to a limit; past it the caller
// writes the file directly instead.
class MemorySink : public ContentSink {
 public:
  MemorySink(PendingFile& pending, std::uint64_t limit) : pending_(pending), limit_(limit) {}
  bool write(Bytes data) override;
  bool zeros(std::uint64_t count) override;
  bool overflowed() const { return overflowed_; }

 private:
  PendingFile& pending_;
  std::uint64_t limit_;
  std::uint64_t length_ = 0;
  bool overflowed_ = false;
};

}  // namespace quorvel
