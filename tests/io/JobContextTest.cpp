#include "io/JobContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/TestSupport.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// A worker that passes one checkpoint and says how it came out.
struct Worker {
  explicit Worker(JobContext& job)
      : thread([&] {
          result = job.checkpoint();
          done = true;
        }) {}
  ~Worker() { thread.join(); }
  // Gives a blocked worker the chance to (wrongly) run on.
  bool stillWaiting() {
    std::this_thread::sleep_for(50ms);
    return !done;
  }
  void finish() {
    while (!done) std::this_thread::sleep_for(1ms);
  }
  std::atomic<bool> done{false};
  std::atomic<bool> result{false};
  std::thread thread;
};

TEST(JobContext, PauseIsCountedAndResumeReleases) {
  JobContext job;
  job.pause();
  job.pause();
  Worker worker(job);
  EXPECT_TRUE(worker.stillWaiting());
  job.resume();
  EXPECT_TRUE(worker.stillWaiting());  // two pauses need two resumes
  job.resume();
  worker.finish();
  EXPECT_TRUE(worker.result);
}

TEST(JobContext, StopEndsAPauseAndEveryLaterCheckpoint) {
  JobContext job;
  job.pause();
  Worker worker(job);
  EXPECT_TRUE(worker.stillWaiting());
  job.requestStop();
  worker.finish();
  EXPECT_FALSE(worker.result);
  EXPECT_FALSE(job.checkpoint());
  EXPECT_TRUE(job.stopRequested());
}

TEST(JobContext, ExtraResumeDoesNotCancelTheNextPause) {
  JobContext job;
  job.resume();
  job.pause();
  EXPECT_TRUE(job.paused());
}

// What the next phase starts with after what happened in the one before.
TEST(JobContext, APhaseStartsUnstoppedUnlessTheJobEnded) {
  const struct {
    const char* what;
    void (*before)(JobContext&);
    bool stoppedAfter;  // the new phase's checkpoint sees a stop
    bool pausedAfter;
  } cases[] = {
      {"nothing", [](JobContext&) {}, false, false},
      {"Stop", [](JobContext& job) { job.requestStop(); }, false, false},
      {"two Stops", [](JobContext& job) { job.requestStop(); job.requestStop(); }, false, false},
      {"a pause", [](JobContext& job) { job.pause(); }, false, true},
      {"a pause that Stop ended", [](JobContext& job) { job.pause(); job.requestStop(); }, false, false},
      {"the job's end", [](JobContext& job) { job.requestEnd(); }, true, false},
      {"Stop, then the job's end", [](JobContext& job) { job.requestStop(); job.requestEnd(); }, true, false},
  };
  for (const auto& c : cases) {
    JobContext job;
    c.before(job);
    job.beginPhase();
    EXPECT_EQ(job.stopRequested(), c.stoppedAfter) << c.what;
    EXPECT_EQ(job.paused(), c.pausedAfter) << c.what;
    if (!c.pausedAfter) {
      EXPECT_EQ(job.checkpoint(), !c.stoppedAfter) << c.what;
    }
  }
}

TEST(JobContext, StopInTheNewPhaseStopsIt) {
  JobContext job;
  job.requestStop();
  job.beginPhase();
  ASSERT_TRUE(job.checkpoint());
  job.requestStop();
  EXPECT_FALSE(job.checkpoint());
  // A worker paused in the new phase is released by its Stop, as in any phase.
  JobContext paused;
  paused.requestStop();
  paused.beginPhase();
  paused.pause();
  Worker worker(paused);
  EXPECT_TRUE(worker.stillWaiting());
  paused.requestStop();
  worker.finish();
  EXPECT_FALSE(worker.result);
}

TEST(JobContext, ReportsReachTheObserverWithoutRepeats) {
  test::RecordingObserver observer;
  JobContext job(&observer);
  job.setStatus("Scanning partition.....");
  job.setProgressRange(0, 1000);
  for (const int p : {0, 0, 5, 5, 7}) job.setProgress(p);
  job.showMessage("Finished Scanning.");
  EXPECT_EQ(observer.statuses, std::vector<std::string>{"Scanning partition....."});
  EXPECT_EQ(observer.positions, (std::vector<std::int64_t>{0, 5, 7}));
  EXPECT_EQ(observer.messages, std::vector<std::string>{"Finished Scanning."});
  // A new range starts the positions afresh.
  job.setProgressRange(0, 10);
  job.setProgress(7);
  EXPECT_EQ(observer.positions.back(), 7);
  EXPECT_EQ(observer.positions.size(), 4u);
}

}  // namespace
}  // namespace quorvel
