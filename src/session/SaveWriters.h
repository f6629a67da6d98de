#pragma once
// Writing saved files on a few threads while the save's own thread walks the
// catalogue and reads their content. Creating a file, setting its times and
// closing it cost the kernel far more than reading a small file from the
// source, and that work overlaps well across threads.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "fs/FileSystemParser.h"
#include "session/HeldContent.h"

namespace quorvel {

class SaveWriters {
 public:
  // `threads` writers (none: `write` writes on the calling thread); the
  // job's Pause holds them between files.
  SaveWriters(JobContext& job, unsigned threads);
  ~SaveWriters();
  SaveWriters(const SaveWriters&) = delete;
  SaveWriters& operator=(const SaveWriters&) = delete;

  // Queues one file; waits while its writer's queue is full. Files with the
  // same path go to the same writer in the order given, so the last one
  // queued is the one left on disk, as when saving one after another.
  void write(std::filesystem::path path, HeldContent content, const EntryTimes& times, bool contentComplete);
  // Waits until every queued file is written.
  void drain();

  struct Counts {
    std::uint64_t saved = 0;
    std::uint64_t failed = 0;
  };
  // Drains, then what was written whole and what was not.
  Counts counts();

 private:
  struct PendingFile {
    std::filesystem::path path;
    HeldContent content;
    EntryTimes times;
    bool contentComplete;
  };
  // Each writer takes its whole queue at once, and either side wakes the
  // other only when it waits: a wake-up per file cost more than the file.
  struct Writer {
    std::mutex mutex;
    std::condition_variable work;  // the writer waits for files
    std::condition_variable room;  // the save waits for room or for the end
    std::deque<PendingFile> queue;
    std::size_t bytesQueued = 0;
    bool busy = false;
    bool writerWaiting = false;
    bool saveWaiting = false;
    bool closing = false;
    Counts counts;
    std::thread thread;
  };

  void run(Writer& writer);
  // Creates, fills, times and closes one file; whether it was written whole.
  bool writeOut(const PendingFile& file);

  JobContext& job_;
  std::vector<std::unique_ptr<Writer>> writers_;
  Counts unthreaded_;  // written by the save's own thread when no writer could start
};

// How many writers a save uses on this machine.
unsigned saveWriterThreads();

}  // namespace quorvel
