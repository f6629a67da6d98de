#include "io/JobContext.h"

namespace quorvel {

void JobContext::setStatus(const std::string& text) {
  if (observer_) observer_->statusChanged(text);
}

void JobContext::setProgressRange(std::int64_t low, std::int64_t high) {
  lastPosition_ = -1;
  if (observer_) observer_->progressRangeChanged(low, high);
}

void JobContext::setProgress(std::int64_t position) {
  // Unchanged positions are not worth a call into the front end.
  if (position == lastPosition_) return;
  lastPosition_ = position;
  if (observer_) observer_->progressChanged(position);
}

void JobContext::setDetail(const std::string& text) {
  if (observer_) observer_->detailChanged(text);
}

void JobContext::showMessage(const std::string& text) {
  if (observer_) observer_->message(text);
}

bool JobContext::checkpoint() {
  if (pauses_.load(std::memory_order_relaxed) > 0) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return pauses_.load() <= 0 || stop_.load(); });
  }
  return !stop_.load(std::memory_order_relaxed);
}

void JobContext::requestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
}

void JobContext::requestEnd() {
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    stop_ = true;
  }
  wake_.notify_all();
}

void JobContext::beginPhase() {
  std::lock_guard lock(mutex_);
  if (ended_ || !stop_) return;
  stop_ = false;
  pauses_ = 0;
}

void JobContext::pause() {
  std::lock_guard lock(mutex_);
  ++pauses_;
}

void JobContext::resume() {
  {
    std::lock_guard lock(mutex_);
    if (pauses_ > 0) --pauses_;
  }
  wake_.notify_all();
}

}  // namespace quorvel
