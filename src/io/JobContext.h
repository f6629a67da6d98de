#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace quorvel {

// Whoever listens to a job: the GUI adapts it to signals, the CLI draws a
// progress bar, tests record. Calls arrive on the worker thread.
class JobObserver {
 public:
  virtual ~JobObserver() = default;
  virtual void statusChanged(const std::string& text) { (void)text; }
  virtual void progressRangeChanged(std::int64_t low, std::int64_t high) {
    (void)low;
    (void)high;
  }
  virtual void progressChanged(std::int64_t position) { (void)position; }
  // A second, smaller line beside the status (the size of the file being saved).
  virtual void detailChanged(const std::string& text) { (void)text; }
  // Returns once the user has seen the message; the worker waits for it.
  virtual void message(const std::string& text) { (void)text; }
};

// What a worker reports through and where it learns to pause or stop.
// Pause is counted: two pauses need two resumes. Stop also ends a pause.
//
// A job may run in phases, where a Stop ends only the phase under way: the
// damaged-volume scans search the volume, then build the tree from what the
// search found, and Stop during the search still gets that tree. A front
// end going away ends the job whatever its phase.
class JobContext {
 public:
  explicit JobContext(JobObserver* observer = nullptr) : observer_(observer) {}
  JobContext(const JobContext&) = delete;
  JobContext& operator=(const JobContext&) = delete;

  void setStatus(const std::string& text);
  void setProgressRange(std::int64_t low, std::int64_t high);
  void setProgress(std::int64_t position);
  void setDetail(const std::string& text);
  void showMessage(const std::string& text);

  // The one place a long loop sees Stop and waits while paused.
  // False once Stop was requested: the loop should end.
  bool checkpoint();

  // Stop: ends the phase under way (a job of one phase ends).
  void requestStop();
  // Ends the job in whatever phase it is; no later phase begins unstopped.
  void requestEnd();
  bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }
  // Ends one phase and begins the next. A Stop that came before this call
  // ended the phase before, together with any pause it ended; one after it
  // stops the new phase. A pause without a Stop carries on into the new phase.
  void beginPhase();
  void pause();
  void resume();
  bool paused() const { return pauses_.load() > 0; }

 private:
  JobObserver* observer_;
  std::atomic<bool> stop_{false};
  bool ended_ = false;  // under mutex_
  std::atomic<int> pauses_{0};
  std::int64_t lastPosition_ = -1;
  std::mutex mutex_;
  std::condition_variable wake_;
};

}  // namespace quorvel
