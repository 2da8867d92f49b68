// SPDX-License-Identifier: MIT
// An open that races a deletion through the sharing emulation: on Windows
// either the open comes first and the deletion is refused, or the deletion
// comes first and the open fails. Never may an open succeed on a file that is
// deleted while it is held, since a split that had just deleted its source
// could then lose its manifest to a second split holding the deleted source.
// Two threads stand for the two processes: the locks belong to open file
// descriptions, not to processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/shared_open.h"
#include "platform/utf8.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

constexpr int kRounds = 20000;

TEST(DeleteRace, AnOpenEitherStopsTheDeletionOrFails) {
  TempDir dir;
  const std::wstring path = dir.Path(L"disk.wim");
  const std::string narrow = WideToUtf8(path);
  std::atomic<bool> done{false};
  std::atomic<long> opens{0};
  std::atomic<long> held_while_deleted{0};
  std::thread opener([&] {
    while (!done) {
      std::uint32_t error = 0;
      const int fd = posix::OpenShared(narrow.c_str(), kAccessRead, kShareRead,
                                       Disposition::kOpenExisting, Attribute::kNormal, &error);
      if (fd < 0) continue;
      ++opens;
      struct stat info;
      if (fstat(fd, &info) == 0 && info.st_nlink == 0) ++held_while_deleted;
      close(fd);
    }
  });
  Platform& platform = DefaultPlatform();
  long refused = 0;
  for (int round = 0; round < kRounds; ++round) {
    WriteFileBytes(path, "x");
    while (!platform.DeleteFile(path.c_str())) ++refused;
  }
  done = true;
  opener.join();
  EXPECT_EQ(0, held_while_deleted.load()) << "of " << opens.load() << " opens";
  // Both sides won some of the races, or the test proved nothing.
  EXPECT_GT(opens.load(), 0);
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace tarvelin::testing
