#include "session/JobRunner.h"

namespace quorvel {

JobRunner::~JobRunner() {
  end();
  wait();
}

bool JobRunner::start(std::function<void(JobContext&)> work) {
  if (running_) return false;
  wait();
  context_ = std::make_unique<JobContext>(observer_);
  running_ = true;
  worker_ = std::thread([this, work = std::move(work)] {
    work(*context_);
    running_ = false;
  });
  return true;
}

void JobRunner::pause() {
  if (context_ && running_) context_->pause();
}

void JobRunner::resume() {
  if (context_ && running_) context_->resume();
}

void JobRunner::stop() {
  if (context_) context_->requestStop();
}

void JobRunner::end() {
  if (context_) context_->requestEnd();
}

void JobRunner::wait() {
  if (worker_.joinable()) worker_.join();
}

}  // namespace quorvel
