// SPDX-License-Identifier: MIT
#include "platform/backend_thread.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>

#include <new>

#include "platform/job_queue_thread.h"

namespace tarvelin {
namespace {

struct PthreadSync {
  void Lock() { pthread_mutex_lock(&mutex); }
  void Unlock() { pthread_mutex_unlock(&mutex); }
  void Sleep() { pthread_cond_wait(&changed, &mutex); }
  void WakeAll() { pthread_cond_broadcast(&changed); }

  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
};

class PosixBackgroundThread final : public JobQueueThread<PthreadSync> {
 public:
  PosixBackgroundThread() = default;
  PosixBackgroundThread(const PosixBackgroundThread&) = delete;
  PosixBackgroundThread& operator=(const PosixBackgroundThread&) = delete;

  ~PosixBackgroundThread() override {
    if (!started_) return;
    Stop();
    pthread_join(thread_, nullptr);
  }

  // Starts the thread with every signal blocked (a new thread inherits the
  // mask of its creator); false when the system gives no thread.
  bool Launch() {
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    started_ = pthread_create(&thread_, nullptr, &PosixBackgroundThread::Main, this) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return started_;
  }

 private:
  static void* Main(void* self) {
    static_cast<PosixBackgroundThread*>(self)->Serve();
    return nullptr;
  }

  pthread_t thread_{};
  bool started_ = false;
};

}  // namespace

std::unique_ptr<BackgroundThread> StartBackendThread() {
  const int saved = errno;
  std::unique_ptr<PosixBackgroundThread> thread(new (std::nothrow) PosixBackgroundThread);
  if (thread != nullptr && !thread->Launch()) thread.reset();
  errno = saved;
  return thread;
}

}  // namespace tarvelin
