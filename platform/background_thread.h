// SPDX-License-Identifier: MIT
// A thread beside the caller's, which runs one job at a time for it: the
// fingerprint hashes one stretch of a file there while the caller's thread
// reads the next, so the two use two cores.
//
// A job touches no platform call: files, errors and progress stay on the
// caller's thread, so the order of calls a platform sees, and every
// last-error value, are what they would be without the thread.
#ifndef TARVELIN_PLATFORM_BACKGROUND_THREAD_H_
#define TARVELIN_PLATFORM_BACKGROUND_THREAD_H_

#include <cstddef>
#include <functional>

namespace tarvelin {

class BackgroundThread {
 public:
  // Waits for every job posted, then ends the thread.
  virtual ~BackgroundThread() = default;

  // Queues `job`; the thread runs the jobs one at a time, in the order they
  // were posted, and goes on to the next without waiting for the caller.
  // Everything the caller did before Post happens before the job runs.
  virtual void Post(std::function<void()> job) = 0;

  // Returns once no more than `pending` of the jobs posted are still queued
  // or running. Everything the jobs that finished did happens before it
  // returns.
  virtual void Wait(std::size_t pending = 0) = 0;
};

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_BACKGROUND_THREAD_H_
