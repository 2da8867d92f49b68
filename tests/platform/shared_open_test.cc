// SPDX-License-Identifier: MIT
// The POSIX emulation of Windows' open sharing: every pair of opens is
// allowed exactly when Windows allows it, in one process, across fork(), and
// under races; and a refused open changes nothing on disk.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/platform_errors.h"
#include "platform/posix/shared_open.h"
#include "platform/utf8.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

struct Mode {
  std::uint32_t access;
  std::uint32_t share;
};

std::string Describe(const Mode& mode) {
  std::string text = "access=";
  text += (mode.access & kAccessRead) ? "R" : "-";
  text += (mode.access & kAccessWrite) ? "W" : "-";
  text += " share=";
  text += (mode.share & kShareRead) ? "R" : "-";
  text += (mode.share & kShareWrite) ? "W" : "-";
  return text;
}

// Windows: an open that touches no data takes no part in sharing; otherwise
// each open's access must lie within the other's sharing.
bool WindowsAllows(const Mode& held, const Mode& next) {
  if (held.access == 0 || next.access == 0) return true;
  return (next.access & ~held.share) == 0 && (held.access & ~next.share) == 0;
}

class SharedOpenTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFileBytes(path_, "original bytes"); }

  int Open(const Mode& mode, Disposition disposition, std::uint32_t* error) {
    return posix::OpenShared(utf8_.c_str(), mode.access, mode.share, disposition,
                             Attribute::kNormal, error);
  }

  TempDir dir_;
  std::wstring path_ = dir_.Path(L"shared.bin");
  std::string utf8_ = WideToUtf8(path_);
};

TEST_F(SharedOpenTest, EveryPairOfOpensIsAllowedExactlyWhenWindowsAllowsIt) {
  const std::uint32_t accesses[] = {0, kAccessRead, kAccessWrite, kAccessRead | kAccessWrite};
  const std::uint32_t shares[] = {kShareNone, kShareRead, kShareWrite, kShareRead | kShareWrite};
  for (std::uint32_t held_access : accesses) {
    for (std::uint32_t held_share : shares) {
      for (std::uint32_t next_access : accesses) {
        for (std::uint32_t next_share : shares) {
          const Mode held{held_access, held_share};
          const Mode next{next_access, next_share};
          SCOPED_TRACE("held " + Describe(held) + ", next " + Describe(next));
          std::uint32_t error = 0;
          const int first = Open(held, Disposition::kOpenExisting, &error);
          ASSERT_GE(first, 0) << error;
          const int second = Open(next, Disposition::kOpenExisting, &error);
          if (WindowsAllows(held, next)) {
            EXPECT_GE(second, 0) << error;
          } else {
            EXPECT_LT(second, 0);
            EXPECT_EQ(error, kErrorSharingViolation);
          }
          if (second >= 0) close(second);
          close(first);
        }
      }
    }
  }
}

TEST_F(SharedOpenTest, ClosingAnOpenReleasesItsSharing) {
  std::uint32_t error = 0;
  const int exclusive = Open({kAccessRead | kAccessWrite, kShareNone}, Disposition::kOpenExisting,
                             &error);
  ASSERT_GE(exclusive, 0);
  EXPECT_LT(Open({kAccessRead, kShareRead | kShareWrite}, Disposition::kOpenExisting, &error), 0);
  close(exclusive);
  const int again = Open({kAccessRead, kShareRead | kShareWrite}, Disposition::kOpenExisting,
                         &error);
  EXPECT_GE(again, 0) << error;
  close(again);
}

TEST_F(SharedOpenTest, RefusedCreateAlwaysLeavesTheHeldFileIntact) {
  // A split whose source is named like its own first piece or its manifest
  // must not destroy the source by creating that name.
  std::uint32_t error = 0;
  const int source = Open({kAccessRead, kShareRead}, Disposition::kOpenExisting, &error);
  ASSERT_GE(source, 0);
  const Mode creators[] = {
      {kAccessRead | kAccessWrite, kShareNone},
      {kAccessRead | kAccessWrite, kShareRead | kShareWrite},
      {kAccessWrite, kShareRead},
      {kAccessRead, kShareRead},  // truncating is writing, even without write access
  };
  for (const Mode& creator : creators) {
    SCOPED_TRACE(Describe(creator));
    EXPECT_LT(Open(creator, Disposition::kCreateAlways, &error), 0);
    EXPECT_EQ(error, kErrorSharingViolation);
    EXPECT_EQ(ReadFileBytes(path_), "original bytes");
  }
  close(source);
}

TEST_F(SharedOpenTest, CreateAlwaysTruncatesWhenSharingAllowsIt) {
  std::uint32_t error = 0;
  const int reader = Open({kAccessRead, kShareRead | kShareWrite}, Disposition::kOpenExisting,
                          &error);
  ASSERT_GE(reader, 0);
  const int creator = Open({kAccessRead | kAccessWrite, kShareRead}, Disposition::kCreateAlways,
                           &error);
  ASSERT_GE(creator, 0) << error;
  EXPECT_EQ(ReadFileBytes(path_), "");
  close(creator);
  close(reader);
}

TEST_F(SharedOpenTest, OpensInAForkedChildMeetTheParentsSharing) {
  std::uint32_t error = 0;
  const int source = Open({kAccessRead, kShareRead}, Disposition::kOpenExisting, &error);
  ASSERT_GE(source, 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child inherits the parent's descriptor, but its own opens are new
    // ones and must meet its sharing like any other process's.
    std::uint32_t code = 0;
    int failures = 0;
    if (Open({kAccessWrite, kShareRead | kShareWrite}, Disposition::kOpenExisting, &code) >= 0 ||
        code != kErrorSharingViolation) {
      failures |= 1;
    }
    if (Open({kAccessRead | kAccessWrite, kShareRead | kShareWrite}, Disposition::kCreateAlways,
             &code) >= 0) {
      failures |= 2;
    }
    const int reader = Open({kAccessRead, kShareRead | kShareWrite}, Disposition::kOpenExisting,
                            &code);
    if (reader < 0) failures |= 4;
    _exit(failures);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFileBytes(path_), "original bytes");
  close(source);
}

TEST_F(SharedOpenTest, AChildsExclusiveOpenRefusesTheParentUntilItCloses) {
  int to_parent[2], to_child[2];
  ASSERT_EQ(pipe(to_parent), 0);
  ASSERT_EQ(pipe(to_child), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::uint32_t code = 0;
    const int fd = Open({kAccessRead | kAccessWrite, kShareNone}, Disposition::kOpenExisting,
                        &code);
    const char opened = fd >= 0 ? 'y' : 'n';
    char go = 0;
    if (write(to_parent[1], &opened, 1) != 1 || read(to_child[0], &go, 1) != 1) _exit(2);
    _exit(0);  // Exiting closes the open.
  }
  char opened = 0;
  ASSERT_EQ(read(to_parent[0], &opened, 1), 1);
  ASSERT_EQ(opened, 'y');
  std::uint32_t error = 0;
  EXPECT_LT(Open({kAccessRead, kShareRead | kShareWrite}, Disposition::kOpenExisting, &error), 0);
  EXPECT_EQ(error, kErrorSharingViolation);
  EXPECT_TRUE(posix::IsHeldOpen(utf8_.c_str()));
  ASSERT_EQ(write(to_child[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  const int after = Open({kAccessRead, kShareRead | kShareWrite}, Disposition::kOpenExisting,
                         &error);
  EXPECT_GE(after, 0) << error;
  close(after);
  EXPECT_FALSE(posix::IsHeldOpen(utf8_.c_str()));
  for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) close(fd);
}

TEST_F(SharedOpenTest, RacingExclusiveOpensNeverBothSucceed) {
  constexpr int kRounds = 2000;
  std::atomic<int> arrived{0};
  std::atomic<int> both{0};
  std::atomic<bool> won[2] = {{false}, {false}};
  // Both threads meet before each open and again before closing, so every
  // round is a real race between two live opens.
  auto meet = [&arrived](int round, int stage) {
    const int target = (round * 2 + stage + 1) * 2;
    arrived.fetch_add(1);
    while (arrived.load() < target) std::this_thread::yield();
  };
  auto racer = [&](int self) {
    for (int round = 0; round < kRounds; ++round) {
      meet(round, 0);
      std::uint32_t error = 0;
      const int fd = Open({kAccessRead | kAccessWrite, kShareNone}, Disposition::kOpenExisting,
                          &error);
      won[self] = fd >= 0;
      meet(round, 1);
      if (self == 0 && won[0] && won[1]) both.fetch_add(1);
      if (fd >= 0) close(fd);
    }
  };
  std::thread first(racer, 0), second(racer, 1);
  first.join();
  second.join();
  EXPECT_EQ(both.load(), 0);
}

TEST_F(SharedOpenTest, OnlyOpensThatTouchDataHoldTheFile) {
  std::uint32_t error = 0;
  EXPECT_FALSE(posix::IsHeldOpen(utf8_.c_str()));
  const int query = Open({0, kShareNone}, Disposition::kOpenExisting, &error);
  ASSERT_GE(query, 0);
  EXPECT_FALSE(posix::IsHeldOpen(utf8_.c_str()));
  const int reader = Open({kAccessRead, kShareRead | kShareWrite}, Disposition::kOpenExisting,
                          &error);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(posix::IsHeldOpen(utf8_.c_str()));
  close(reader);
  close(query);
  EXPECT_FALSE(posix::IsHeldOpen(utf8_.c_str()));
}

}  // namespace
}  // namespace tarvelin
