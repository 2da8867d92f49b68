// SPDX-License-Identifier: MIT
// GoogleTest's hook for platform customisation, found ahead of its own empty
// one when building for MinGW-w64 with the win32 thread model. That runtime
// has no std::mutex or std::condition_variable, which GoogleTest's
// Notification is built on; this Notification needs neither. GoogleTest uses
// it only to start the threads of its own thread-safety tests, so waiting by
// spinning costs nothing in ours.
#ifndef TARVELIN_TESTS_WINDOWS_GTEST_CUSTOM_PORT_H_
#define TARVELIN_TESTS_WINDOWS_GTEST_CUSTOM_PORT_H_

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true, std::memory_order_release); }
  void WaitForNotification() {
    while (!notified_.load(std::memory_order_acquire)) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing

#endif  // TARVELIN_TESTS_WINDOWS_GTEST_CUSTOM_PORT_H_
