// SPDX-License-Identifier: MIT
// Writes that the system cuts short or interrupts still deliver every byte,
// and a write that cannot go on reports how far it got and why.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/platform_errors.h"
#include "platform/posix/fd_io.h"
#include "platform/posix/shared_open.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

void IgnoreSignal(int) {}

TEST(FdIoTest, InterruptedAndShortWritesIntoAPipeDeliverEveryByte) {
  // A handler installed without SA_RESTART makes a blocked write return early:
  // with EINTR before any byte moved, with a short count after some did.
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = IgnoreSignal;
  struct sigaction previous;
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::string sent = testing::PatternBytes(8 << 20, 7);
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    std::size_t count = 0;
    // A slow reader keeps the pipe full, so that most signals find the
    // writer blocked before it has moved a byte.
    while (posix::ReadSome(ends[0], buffer, sizeof buffer, &count) == 0 && count != 0) {
      received.append(buffer, count);
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  });

  std::atomic<bool> writing{true};
  const pthread_t writer_thread = pthread_self();
  std::thread interrupter([&] {
    while (writing.load()) {
      pthread_kill(writer_thread, SIGUSR1);
      std::this_thread::yield();
    }
  });
  std::size_t written = 0;
  const int error = posix::WriteFully(ends[1], sent.data(), sent.size(), &written);
  writing = false;
  interrupter.join();
  close(ends[1]);
  reader.join();
  close(ends[0]);
  sigaction(SIGUSR1, &previous, nullptr);

  EXPECT_EQ(error, 0);
  EXPECT_EQ(written, sent.size());
  EXPECT_TRUE(received == sent);
}

TEST(FdIoTest, AWriteStoppedByTheFileSizeLimitReportsTheBytesWrittenAndTheError) {
  testing::TempDir dir;
  const std::wstring path = dir.Path(L"limited.bin");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The limit cuts the first write short; the retry then fails with EFBIG.
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {1000, 1000};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    Platform& platform = DefaultPlatform();
    FileHandle file = platform.CreateFile(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                                          Disposition::kCreateAlways, Attribute::kNormal);
    if (file == InvalidHandle()) _exit(11);
    const std::string bytes(4096, 'z');
    std::uint32_t written = 0;
    int outcome = 0;
    if (platform.WriteFile(file, bytes.data(), 4096, &written)) {
      outcome = 12;
    } else if (platform.GetLastError() != kErrorFileTooLarge) {
      outcome = 13;
    } else if (written != 1000) {
      outcome = 14;
    }
    platform.CloseHandle(file);
    _exit(outcome);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(testing::FileSizeOf(path), 1000u);
}

TEST(FdIoTest, AFullDeviceReportsDiskFull) {
  const int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (fd < 0) GTEST_SKIP() << "no /dev/full";
  std::size_t written = 7;
  const int error = posix::WriteFully(fd, "abc", 3, &written);
  close(fd);
  EXPECT_EQ(posix::Win32ErrorFromErrno(error), kErrorDiskFull);
  EXPECT_EQ(written, 0u);
}

}  // namespace
}  // namespace tarvelin
