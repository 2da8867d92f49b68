// SPDX-License-Identifier: MIT
// The backend's background thread: jobs run in the order posted, Wait keeps
// its bound, the thread's end waits for every job, and the caller's
// last-error value never changes on the way.
#include <atomic>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace tarvelin {
namespace {

constexpr std::uint32_t kKept = 4242;

TEST(BackgroundThread, RunsJobsInOrderAndWaitKeepsItsBound) {
  Platform& platform = DefaultPlatform();
  platform.SetLastError(kKept);
  std::unique_ptr<BackgroundThread> thread = platform.CreateBackgroundThread();
  ASSERT_NE(thread, nullptr);
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<int> finished{0};
  std::atomic<bool> overlapped{false};
  constexpr int kJobs = 200;
  for (int job = 0; job < kJobs; ++job) {
    thread->Post([&, job] {
      if (running.fetch_add(1) != 0) overlapped = true;
      // Work long enough that the queue fills when the poster does not wait.
      volatile unsigned spin = 0;
      for (int i = 0; i < 20000; ++i) spin = spin + static_cast<unsigned>(i);
      order.push_back(job);
      running.fetch_sub(1);
      finished.fetch_add(1);
    });
    if (job % 3 == 0) {
      thread->Wait(2);
      EXPECT_GE(finished.load(), job + 1 - 2) << "after job " << job;
    }
  }
  thread->Wait();
  EXPECT_EQ(finished.load(), kJobs);
  EXPECT_FALSE(overlapped.load()) << "two jobs ran at once";
  ASSERT_EQ(order.size(), static_cast<std::size_t>(kJobs));
  for (int job = 0; job < kJobs; ++job) EXPECT_EQ(order[job], job);
  EXPECT_EQ(platform.GetLastError(), kKept);
}

TEST(BackgroundThread, EndsOnlyOnceEveryPostedJobHasRun) {
  std::atomic<int> finished{0};
  {
    std::unique_ptr<BackgroundThread> thread = DefaultPlatform().CreateBackgroundThread();
    ASSERT_NE(thread, nullptr);
    for (int job = 0; job < 50; ++job) thread->Post([&finished] { finished.fetch_add(1); });
  }
  EXPECT_EQ(finished.load(), 50);
  // A thread that was never given a job ends too.
  DefaultPlatform().CreateBackgroundThread().reset();
}

}  // namespace
}  // namespace tarvelin
