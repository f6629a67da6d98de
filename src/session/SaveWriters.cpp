#include "session/SaveWriters.h"

namespace quorvel {

SaveWriters::SaveWriters(unsigned threads) {
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

SaveWriters::~SaveWriters() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  queued_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void SaveWriters::submit(PendingFile file) {
  {
    std::unique_lock lock(mutex_);
    // A bounded queue keeps memory bounded when the writers fall behind.
    idle_.wait(lock, [&] { return queue_.size() < 256; });
    queue_.push_back(std::move(file));
  }
  queued_.notify_one();
}

void SaveWriters::drain() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return queue_.empty() && busy_ == 0; });
}

std::uint64_t SaveWriters::saved() const {
  std::lock_guard lock(mutex_);
  return saved_;
}

std::uint64_t SaveWriters::failed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

void SaveWriters::work() {
  for (;;) {
    PendingFile job;
    {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [&] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
      ++busy_;
    }
    idle_.notify_all();
    bool ok = true;
    std::size_t at = 0;
    for (const PendingFile::Piece& piece : job.pieces) {
      ok = ok && job.file->zeros(piece.zeros) && job.file->write(Bytes(job.content.data() + at, piece.bytes));
      at += piece.bytes;
    }
    ok = job.file->finish(job.times) && ok && job.readWhole;
    {
      std::lock_guard lock(mutex_);
      --busy_;
      ++(ok ? saved_ : failed_);
    }
    idle_.notify_all();
  }
}

bool MemorySink::write(Bytes data) {
  if (overflowed_ || data.size() > limit_ - length_) {
    overflowed_ = true;
    return false;
  }
  if (pending_.pieces.empty()) pending_.pieces.push_back({});
  pending_.pieces.back().bytes += data.size();
  length_ += data.size();
  pending_.content.insert(pending_.content.end(), data.begin(), data.end());
  return true;
}

bool MemorySink::zeros(std::uint64_t count) {
  if (overflowed_ || count > limit_ - length_) {
    overflowed_ = true;
    return false;
  }
  pending_.pieces.push_back({count, 0});
  length_ += count;
  return true;
}

}  // namespace quorvel
