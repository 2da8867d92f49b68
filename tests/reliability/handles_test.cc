// SPDX-License-Identifier: MIT
// Fail every platform call of a split and of a merge of a 3-piece file, once
// and from then on, and make every write report fewer bytes than it took.
// After each case every handle that the operation opened is closed (those of
// the platform and, counted by the system, the fingerprint's streams too),
// the deletions kept the durable order, and the original bytes are there;
// after a merge, the same call once more without faults finishes it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "library/operations.h"
#include "platform/platform_errors.h"
#include "tests/library/library_test_util.h"
#include "tests/reliability/call_order.h"
#include "tests/reliability/invariant_r.h"
#include "tests/reliability/open_descriptors.h"

namespace tarvelin::testing {
namespace {

// Three pieces: 1 MiB, 1 MiB and 100 bytes.
const std::uint64_t kSize = 2 * kMiB + 100;

// What a split leaves, kept once so that every merge case starts from it.
struct SplitFiles {
  std::string original;
  std::vector<std::string> pieces;
  std::string manifest;
};

const SplitFiles& Template() {
  static const SplitFiles files = [] {
    SplitFiles made;
    Workspace ws;
    made.original = ws.MakeSource(kSize, 3);
    EXPECT_EQ(RC_OK, SplitWith(nullptr, ws.source(), 1));
    for (int n = 0; FileExists(ws.piece(n)); ++n) made.pieces.push_back(ReadFileBytes(ws.piece(n)));
    made.manifest = ReadFileBytes(ws.manifest());
    return made;
  }();
  return files;
}

struct Operation {
  const char* name;
  void (*prepare)(Workspace& ws);
  ResultCode (*run)(Platform* platform, Workspace& ws);
  bool merge = true;
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const Operation& c, std::ostream* os) { *os << c.name; }

const Operation kSplit{
    "split", [](Workspace& ws) { WriteFileBytes(ws.source(), Template().original); },
    [](Platform* platform, Workspace& ws) { return SplitWith(platform, ws.source(), 1); },
    false};

const Operation kMerge{
    "merge",
    [](Workspace& ws) {
      for (std::size_t n = 0; n < Template().pieces.size(); ++n) {
        WriteFileBytes(ws.piece(static_cast<int>(n)), Template().pieces[n]);
      }
      WriteFileBytes(ws.manifest(), Template().manifest);
    },
    [](Platform* platform, Workspace& ws) { return MergeWith(platform, ws.source()); }};

void PrepareMerge(Workspace& ws) { kMerge.prepare(ws); }

// With a progress callback the merge measures every piece first, through
// handles of its own.
const Operation kMergeShowingProgress{
    "merge showing progress", PrepareMerge, [](Platform* platform, Workspace& ws) {
      OperationOptions options;
      options.platform = platform;
      options.progress = [](const ProgressEvent&, void*) -> bool { return true; };
      return Merge(ws.source().c_str(), options);
    }};

// A merge that finds the file already rebuilt beside its manifest proves it
// and deletes the manifest.
const Operation kMergeOfAFinishedMerge{
    "merge of a finished merge",
    [](Workspace& ws) {
      WriteFileBytes(ws.source(), Template().original);
      WriteFileBytes(ws.manifest(), Template().manifest);
    },
    [](Platform* platform, Workspace& ws) { return MergeWith(platform, ws.source()); }};

// A merge that stopped while appending piece 2 leaves piece 1 joined and
// still on disk, and the start of piece 2 after it; run again, it cuts that
// off, deletes piece 1 and goes on.
const Operation kMergeRunAgain{
    "merge run again",
    [](Workspace& ws) {
      PrepareMerge(ws);
      LeaveInterruptedMerge(ws, Template().original, 2 * kMiB + 50, 1);
    },
    [](Platform* platform, Workspace& ws) { return MergeWith(platform, ws.source()); }};

// One that stopped after its last append leaves the whole, its last piece
// and the manifest; run again, it deletes them.
const Operation kMergeRunAgainAfterTheLastAppend{
    "merge run again after the last append",
    [](Workspace& ws) {
      PrepareMerge(ws);
      LeaveInterruptedMerge(ws, Template().original, kSize, 2);
    },
    [](Platform* platform, Workspace& ws) { return MergeWith(platform, ws.source()); }};

struct Totals {
  std::uint64_t calls = 0;   // calls of a clean run
  std::uint64_t writes = 0;  // writes of a clean run
};

Totals CleanRun(const Operation& operation) {
  Workspace ws;
  operation.prepare(ws);
  FaultPlatform recorder(DefaultPlatform());
  EXPECT_EQ(RC_OK, operation.run(&recorder, ws));
  Totals totals;
  totals.calls = recorder.call_count();
  for (const Call& call : recorder.calls()) totals.writes += call.op == Op::kWriteFile ? 1 : 0;
  return totals;
}

// Runs one faulty case and checks what it left.
void CheckCase(const Operation& operation, void (*plan)(FaultPlatform&, std::uint64_t),
               std::uint64_t n) {
  Workspace ws;
  operation.prepare(ws);
  const int before = OpenDescriptors();
  FaultPlatform faults(DefaultPlatform());
  plan(faults, n);
  operation.run(&faults, ws);
  EXPECT_EQ(0, faults.open_handles());
  EXPECT_EQ(before, OpenDescriptors());
  EXPECT_TRUE(DeletesOnlyWhatIsDurable(faults.calls(), ws.source(), ws.base()));
  static const InvariantR r(L"", L"", Template().original);
  EXPECT_TRUE(r.Holds(DiskFiles(), ws.source(), ws.base()));
  if (!operation.merge) return;
  EXPECT_EQ(RC_OK, MergeWith(nullptr, ws.source()));
  EXPECT_TRUE(Template().original == ReadFileBytes(ws.source()));
  EXPECT_FALSE(FileExists(ws.manifest()));
}

// The count itself sees a handle that is left open, as a fingerprint's would
// be if a path forgot to close it.
TEST(OpenDescriptors, SeeAHandleLeftOpen) {
  Workspace ws;
  ws.MakeSource(10);
  const int before = OpenDescriptors();
  if (before < 0) GTEST_SKIP() << "the system does not count open descriptors";
  FileHandle file = DefaultPlatform().CreateFile(ws.source().c_str(), kAccessRead, kShareRead,
                                                 Disposition::kOpenExisting, Attribute::kNormal);
  ASSERT_NE(InvalidHandle(), file);
  EXPECT_EQ(before + 1, OpenDescriptors());
  DefaultPlatform().CloseHandle(file);
  EXPECT_EQ(before, OpenDescriptors());
}

class EveryFailure : public ::testing::TestWithParam<Operation> {};

TEST_P(EveryFailure, ClosesEveryHandleAndKeepsTheBytes) {
  const Operation& operation = GetParam();
  if (OpenDescriptors() < 0) {
    std::printf("The system does not count open descriptors; only the wrapper's handles are.\n");
  }
  const Totals totals = CleanRun(operation);
  ASSERT_GT(totals.calls, 3u);
  std::printf("%s: %llu calls, %llu writes, %llu failure cases\n", operation.name,
              static_cast<unsigned long long>(totals.calls),
              static_cast<unsigned long long>(totals.writes),
              static_cast<unsigned long long>(2 * totals.calls + 2 * totals.writes));
  for (std::uint64_t n = 1; n <= totals.calls; ++n) {
    SCOPED_TRACE(::testing::Message() << operation.name << ", call " << n << " fails once");
    CheckCase(operation, [](FaultPlatform& f, std::uint64_t k) {
      f.FailCall(k, false, kErrorWriteFault);
    }, n);
  }
  for (std::uint64_t n = 1; n <= totals.calls; ++n) {
    SCOPED_TRACE(::testing::Message() << operation.name << ", calls fail from " << n << " on");
    CheckCase(operation, [](FaultPlatform& f, std::uint64_t k) {
      f.FailCall(k, true, kErrorDiskFull);
    }, n);
  }
  for (std::uint64_t n = 1; n <= totals.writes; ++n) {
    SCOPED_TRACE(::testing::Message() << operation.name << ", write " << n << " is short");
    CheckCase(operation, [](FaultPlatform& f, std::uint64_t k) {
      f.ShortWrite(static_cast<int>(k), 1000);
    }, n);
    SCOPED_TRACE(::testing::Message() << operation.name << ", write " << n << " takes nothing");
    CheckCase(operation, [](FaultPlatform& f, std::uint64_t k) {
      f.ShortWrite(static_cast<int>(k), 0);
    }, n);
  }
}

INSTANTIATE_TEST_SUITE_P(SplitAndMerge, EveryFailure,
                         ::testing::Values(kSplit, kMerge, kMergeShowingProgress,
                                           kMergeOfAFinishedMerge, kMergeRunAgain,
                                           kMergeRunAgainAfterTheLastAppend),
                         [](const ::testing::TestParamInfo<Operation>& info) {
                           std::string name = info.param.name;
                           for (char& c : name) c = c == ' ' ? '_' : c;
                           return name;
                         });

}  // namespace
}  // namespace tarvelin::testing
