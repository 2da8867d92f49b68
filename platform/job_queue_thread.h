// SPDX-License-Identifier: MIT
// The queue of a BackgroundThread, shared by the backends, which give it a
// lock and a condition: `Sync` has Lock(), Unlock(), Sleep() (waits for a
// WakeAll with the lock released meanwhile, and may return early) and
// WakeAll(). A backend starts a thread that calls Serve(), and calls Stop()
// and joins that thread before it destroys this.
#ifndef TARVELIN_PLATFORM_JOB_QUEUE_THREAD_H_
#define TARVELIN_PLATFORM_JOB_QUEUE_THREAD_H_

#include <cstddef>
#include <functional>
#include <list>
#include <utility>

#include "platform/background_thread.h"

namespace tarvelin {

template <typename Sync>
class JobQueueThread : public BackgroundThread {
 public:
  // The node is made before the lock is taken, so that running out of
  // memory throws with the queue untouched.
  void Post(std::function<void()> job) override {
    std::list<std::function<void()>> node;
    node.push_back(std::move(job));
    sync_.Lock();
    jobs_.splice(jobs_.end(), node);
    ++pending_;
    sync_.WakeAll();
    sync_.Unlock();
  }

  void Wait(std::size_t pending) override {
    sync_.Lock();
    while (pending_ > pending) sync_.Sleep();
    sync_.Unlock();
  }

 protected:
  // Runs the queued jobs, outside the lock, until Stop finds the queue empty.
  void Serve() {
    sync_.Lock();
    for (;;) {
      while (jobs_.empty() && !stopping_) sync_.Sleep();
      if (jobs_.empty()) break;
      std::list<std::function<void()>> next;
      next.splice(next.end(), jobs_, jobs_.begin());
      sync_.Unlock();
      next.front()();
      next.clear();
      sync_.Lock();
      --pending_;
      sync_.WakeAll();
    }
    sync_.Unlock();
  }

  // Lets Serve return once every job posted has run.
  void Stop() {
    sync_.Lock();
    stopping_ = true;
    sync_.WakeAll();
    sync_.Unlock();
  }

  Sync sync_;

 private:
  std::list<std::function<void()>> jobs_;  // posted, not yet begun
  std::size_t pending_ = 0;                // posted, not yet returned
  bool stopping_ = false;
};

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_JOB_QUEUE_THREAD_H_
