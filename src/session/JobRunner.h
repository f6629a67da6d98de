#pragma once
#include <functional>
#include <memory>
#include <thread>

#include "io/JobContext.h"

namespace quorvel {

// Runs one job at a time on a worker thread. Pause, Resume and Stop act on
// the running job's context; a finished job's thread is joined by the next
// start, by wait() or by the destructor (which ends the job first).
class JobRunner {
 public:
  explicit JobRunner(JobObserver* observer = nullptr) : observer_(observer) {}
  ~JobRunner();
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  // False when a job is still running.
  bool start(std::function<void(JobContext&)> work);
  bool running() const { return running_.load(); }
  void pause();
  void resume();
  // Stop: ends the phase under way (see JobContext).
  void stop();
  // Ends the job whatever its phase: for a front end going away.
  void end();
  void wait();

 private:
  JobObserver* observer_;
  std::unique_ptr<JobContext> context_;
  std::thread worker_;
  std::atomic<bool> running_{false};
};

}  // namespace quorvel
