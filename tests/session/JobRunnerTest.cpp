#include "session/JobRunner.h"

#include <gtest/gtest.h>

#include <atomic>

namespace quorvel {
namespace {

TEST(JobRunner, OneJobAtATimeAndStopReachesIt) {
  JobRunner runner;
  std::atomic<bool> started{false};
  std::atomic<int> loops{0};
  ASSERT_TRUE(runner.start([&](JobContext& job) {
    started = true;
    while (job.checkpoint()) ++loops;
  }));
  while (!started) std::this_thread::yield();
  EXPECT_FALSE(runner.start([](JobContext&) {}));
  runner.pause();
  runner.stop();  // also ends the pause
  runner.wait();
  EXPECT_FALSE(runner.running());
  bool secondRan = false;
  ASSERT_TRUE(runner.start([&](JobContext& job) { secondRan = job.checkpoint(); }));
  runner.wait();
  EXPECT_TRUE(secondRan);  // a new job starts with a fresh context
}

}  // namespace
}  // namespace quorvel
