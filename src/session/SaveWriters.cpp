#include "session/SaveWriters.h"

#include <algorithm>
#include <functional>
#include <system_error>

#include "fs/OutputFile.h"

namespace quorvel {

namespace {
// A writer's queue holds at most this many files and bytes, so a save's
// memory stays small whatever the volume holds.
constexpr std::size_t kQueuedFiles = 256;
constexpr std::size_t kQueuedBytes = 16u << 20;
}  // namespace

unsigned saveWriterThreads() { return std::clamp(std::thread::hardware_concurrency(), 2u, 4u); }

SaveWriters::SaveWriters(JobContext& job, unsigned threads) : job_(job) {
  for (unsigned i = 0; i < threads; ++i) {
    writers_.push_back(std::make_unique<Writer>());
    Writer& writer = *writers_.back();
    try {
      writer.thread = std::thread([this, &writer] { run(writer); });
    } catch (const std::system_error&) {
      // No thread to be had: fewer writers, or none and the save writes itself.
      writers_.pop_back();
      break;
    }
  }
}

SaveWriters::~SaveWriters() {
  for (auto& writer : writers_) {
    {
      std::lock_guard lock(writer->mutex);
      writer->closing = true;
    }
    writer->work.notify_one();
  }
  for (auto& writer : writers_) writer->thread.join();
}

void SaveWriters::write(std::filesystem::path path, HeldContent content, const EntryTimes& times,
                        bool contentComplete) {
  if (writers_.empty()) {
    PendingFile file{std::move(path), std::move(content), times, contentComplete};
    (writeOut(file) ? unthreaded_.saved : unthreaded_.failed) += 1;
    return;
  }
  Writer& writer = *writers_[std::hash<std::string>{}(path.native()) % writers_.size()];
  const std::size_t bytes = content.bytesHeld();
  std::unique_lock lock(writer.mutex);
  const auto hasRoom = [&] {
    return writer.queue.empty() || (writer.queue.size() < kQueuedFiles && writer.bytesQueued + bytes <= kQueuedBytes);
  };
  while (!hasRoom()) {
    writer.saveWaiting = true;
    writer.room.wait(lock);
  }
  writer.saveWaiting = false;
  writer.queue.push_back({std::move(path), std::move(content), times, contentComplete});
  writer.bytesQueued += bytes;
  const bool wake = writer.writerWaiting;
  writer.writerWaiting = false;
  lock.unlock();
  if (wake) writer.work.notify_one();
}

void SaveWriters::drain() {
  for (auto& writer : writers_) {
    std::unique_lock lock(writer->mutex);
    while (!writer->queue.empty() || writer->busy) {
      writer->saveWaiting = true;
      writer->room.wait(lock);
    }
    writer->saveWaiting = false;
  }
}

SaveWriters::Counts SaveWriters::counts() {
  drain();
  Counts total = unthreaded_;
  for (auto& writer : writers_) {
    std::lock_guard lock(writer->mutex);
    total.saved += writer->counts.saved;
    total.failed += writer->counts.failed;
  }
  return total;
}

bool SaveWriters::writeOut(const PendingFile& file) {
  // Pause holds the writers too; after Stop they finish what was queued,
  // files the save has already named to the user.
  job_.checkpoint();
  OutputFile out(file.path);
  const bool whole = out.isOpen() && file.content.replay(out);
  return out.finish(file.times) && whole && file.contentComplete;
}

void SaveWriters::run(Writer& writer) {
  std::deque<PendingFile> batch;
  std::unique_lock lock(writer.mutex);
  for (;;) {
    while (writer.queue.empty() && !writer.closing) {
      writer.writerWaiting = true;
      writer.work.wait(lock);
    }
    writer.writerWaiting = false;
    if (writer.queue.empty()) return;
    batch.swap(writer.queue);
    writer.bytesQueued = 0;
    writer.busy = true;
    if (writer.saveWaiting) writer.room.notify_one();
    lock.unlock();

    Counts done;
    for (const PendingFile& file : batch) (writeOut(file) ? done.saved : done.failed) += 1;
    batch.clear();

    lock.lock();
    writer.counts.saved += done.saved;
    writer.counts.failed += done.failed;
    writer.busy = false;
    if (writer.saveWaiting) writer.room.notify_one();
  }
}

}  // namespace quorvel
