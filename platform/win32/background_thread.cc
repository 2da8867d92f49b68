// SPDX-License-Identifier: MIT
#include "platform/backend_thread.h"

#include <new>

#include "platform/job_queue_thread.h"
#include "platform/win32/api.h"

namespace tarvelin {
namespace {

// A slim reader/writer lock and a condition variable, as the POSIX backend
// uses a mutex and a condition: both wait in user space where they can and
// cannot fail once initialised. A wait keeps the caller's last-error value.
struct SlimSync {
  SlimSync() {
    InitializeSRWLock(&lock);
    InitializeConditionVariable(&changed);
  }
  void Lock() { AcquireSRWLockExclusive(&lock); }
  void Unlock() { ReleaseSRWLockExclusive(&lock); }
  void Sleep() {
    const DWORD saved = ::GetLastError();
    SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
    ::SetLastError(saved);
  }
  void WakeAll() { WakeAllConditionVariable(&changed); }

  SRWLOCK lock;
  CONDITION_VARIABLE changed;
};

class Win32BackgroundThread final : public JobQueueThread<SlimSync> {
 public:
  Win32BackgroundThread() = default;
  Win32BackgroundThread(const Win32BackgroundThread&) = delete;
  Win32BackgroundThread& operator=(const Win32BackgroundThread&) = delete;

  ~Win32BackgroundThread() override {
    if (thread_ == nullptr) return;
    const DWORD saved = ::GetLastError();
    Stop();
    WaitForSingleObject(thread_, INFINITE);
    ::CloseHandle(thread_);
    ::SetLastError(saved);
  }

  bool Launch() {
    // A small stack: the thread hashes and nothing else.
    thread_ = ::CreateThread(nullptr, 64 * 1024, &Win32BackgroundThread::Main, this,
                             STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    return thread_ != nullptr;
  }

 private:
  static DWORD WINAPI Main(LPVOID self) {
    static_cast<Win32BackgroundThread*>(self)->Serve();
    return 0;
  }

  HANDLE thread_ = nullptr;
};

}  // namespace

std::unique_ptr<BackgroundThread> StartBackendThread() {
  const DWORD saved = ::GetLastError();
  std::unique_ptr<Win32BackgroundThread> thread(new (std::nothrow) Win32BackgroundThread);
  if (thread != nullptr && !thread->Launch()) thread.reset();
  ::SetLastError(saved);
  return thread;
}

}  // namespace tarvelin
