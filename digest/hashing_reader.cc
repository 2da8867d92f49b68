// SPDX-License-Identifier: MIT
#include "digest/hashing_reader.h"

#include <memory>
#include <new>

#include "platform/aligned_bytes.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

constexpr std::uint32_t kFallbackReadSize = 4096;

// Without memory for the stretches: the same loop on the caller's thread,
// from a buffer small enough for a host thread's stack. Slower, never wrong.
bool ReadAndHashFromStack(Platform& platform, FileHandle file, const HashBytes& hash,
                          const BytesRead& on_read) {
  unsigned char buffer[kFallbackReadSize];
  for (;;) {
    std::uint32_t got = 0;
    if (!platform.ReadFile(file, buffer, kFallbackReadSize, &got)) return false;
    if (got == 0) return true;
    hash(buffer, got);
    if (!on_read(got)) {
      platform.SetLastError(kErrorCancelled);
      return false;
    }
  }
}

// Waits, however the read loop is left, until the thread holds no job of
// this call's, whose stretches and jobs live in its frame.
class WaitForJobs {
 public:
  explicit WaitForJobs(BackgroundThread* const& thread) : thread_(thread) {}
  WaitForJobs(const WaitForJobs&) = delete;
  WaitForJobs& operator=(const WaitForJobs&) = delete;
  ~WaitForJobs() {
    if (thread_ != nullptr) thread_->Wait();
  }

 private:
  BackgroundThread* const& thread_;
};

// The job of the hashing thread for one stretch. It lives on the caller's
// stack and is rewritten only once the job posted for it before has returned.
struct StretchJob {
  const HashBytes* hash = nullptr;
  const unsigned char* bytes = nullptr;
  std::uint32_t size = 0;
};

}  // namespace

BackgroundThread* HashingThread::Get() {
  if (!asked_) {
    asked_ = true;
    thread_ = platform_.CreateBackgroundThread();
  }
  return thread_.get();
}

bool ReadAndHash(Platform& platform, FileHandle file, const HashBytes& hash,
                 const BytesRead& on_read, HashingThread* hashing) {
  const AlignedBytes memory = NewAlignedBytes(std::size_t{kHashStretches} * kHashStretch);
  if (memory == nullptr) return ReadAndHashFromStack(platform, file, hash, on_read);

  // The thread of this call's own, if it was given none, lives longer than
  // the jobs; the jobs longer than the wait for them.
  HashingThread own_thread(platform);
  HashingThread& thread = hashing != nullptr ? *hashing : own_thread;
  StretchJob jobs[kHashStretches];
  BackgroundThread* helper = nullptr;
  const WaitForJobs wait_for_jobs(helper);
  std::uint32_t filling = 0;  // the stretch the reads go into
  std::uint32_t used = 0;     // how much of it they filled
  auto stretch = [&memory](std::uint32_t index) { return memory.get() + index * kHashStretch; };
  // Hands the stretch being filled to the hashing and goes on to the next,
  // once the job posted for that one a round before has returned.
  auto hand_over = [&]() {
    if (helper == nullptr) helper = thread.Get();
    bool posted = false;
    if (helper != nullptr) {
      StretchJob& job = jobs[filling];
      job.hash = &hash;
      job.bytes = stretch(filling);
      job.size = used;
      try {
        helper->Post([&job] { (*job.hash)(job.bytes, job.size); });
        posted = true;
        helper->Wait(kHashStretches - 1);
      } catch (const std::bad_alloc&) {
        // No memory to queue the job: the stretches before it are hashed
        // first, then this one here, so the order holds.
        helper->Wait();
      }
    }
    if (!posted) hash(stretch(filling), used);
    filling = (filling + 1) % kHashStretches;
    used = 0;
  };

  bool complete = true;
  std::uint32_t error = 0;
  for (;;) {
    if (kHashStretch - used < kFingerprintReadSize) hand_over();
    std::uint32_t got = 0;
    if (!platform.ReadFile(file, stretch(filling) + used, kFingerprintReadSize, &got)) {
      complete = false;
      error = platform.GetLastError();
      break;
    }
    if (got == 0) break;
    used += got;
    // A short read ends the stretch, so that every read goes to an aligned
    // place, as a file read past the cache needs (kAccessUncached).
    if (got % kUncachedAlignment != 0) hand_over();
    if (!on_read(got)) {
      complete = false;
      error = kErrorCancelled;
      break;
    }
  }
  // The stretch in hand is hashed last, after those the thread holds.
  if (helper != nullptr) helper->Wait();
  if (used != 0) hash(stretch(filling), used);
  if (!complete) platform.SetLastError(error);
  return complete;
}

}  // namespace tarvelin
