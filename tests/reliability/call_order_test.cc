// SPDX-License-Identifier: MIT
// The calls of a split and of a merge of a 5-piece file keep the durable
// order, and each way of breaking that order in the recorded calls is caught.
// The failure paths are checked by the sweeps of handles_test.
#include "tests/reliability/call_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "library/operations.h"
#include "tests/library/library_test_util.h"

namespace tarvelin::testing {
namespace {

struct Recorded {
  Workspace ws;
  std::vector<Call> split;
  std::vector<Call> merge;
};

// One split and one merge of the same file, recorded once.
const Recorded& Runs() {
  static Recorded runs;
  static const bool recorded = [] {
    runs.ws.MakeSource(5 * kMiB - 3, 9);
    FaultPlatform split(DefaultPlatform());
    EXPECT_EQ(RC_OK, SplitWith(&split, runs.ws.source(), 1));
    runs.split = split.calls();
    FaultPlatform merge(DefaultPlatform());
    EXPECT_EQ(RC_OK, MergeWith(&merge, runs.ws.source()));
    runs.merge = merge.calls();
    return true;
  }();
  (void)recorded;
  return runs;
}

std::size_t Count(const std::vector<Call>& calls, Op op) {
  return static_cast<std::size_t>(std::count_if(
      calls.begin(), calls.end(), [op](const Call& call) { return call.op == op; }));
}

TEST(CallOrder, SplitAndMergeDeleteOnlyWhatIsDurable) {
  const Recorded& r = Runs();
  EXPECT_TRUE(DeletesOnlyWhatIsDurable(r.split, r.ws.source(), r.ws.base()));
  EXPECT_TRUE(DeletesOnlyWhatIsDurable(r.merge, r.ws.source(), r.ws.base()));
  // The rules had something to judge: the split deleted its source, the
  // merge its five pieces and the manifest.
  EXPECT_EQ(1u, Count(r.split, Op::kDeleteAndClose));
  EXPECT_EQ(6u, Count(r.merge, Op::kDeleteAndClose));
}

// Where the `occurrence`th call (1-based) of `op` on the file named by the
// base path and `suffix` stands in `calls`.
std::vector<Call>::iterator Locate(std::vector<Call>& calls, const Workspace& ws, Op op,
                                   const std::wstring& suffix, int occurrence = 1) {
  const std::wstring path = ws.base() + suffix;
  for (auto it = calls.begin(); it != calls.end(); ++it) {
    if (it->op == op && it->path == path && --occurrence == 0) return it;
  }
  ADD_FAILURE() << PlatformCallName(op) << " not recorded";
  return calls.end();
}

struct Breach {
  const char* label;
  bool merge;  // in the merge's calls, else the split's
  std::function<void(std::vector<Call>&, const Workspace&)> apply;
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const Breach& c, std::ostream* os) { *os << c.label; }

class CallOrderBreaches : public ::testing::TestWithParam<Breach> {};

TEST_P(CallOrderBreaches, AreCaught) {
  const Recorded& r = Runs();
  std::vector<Call> calls = GetParam().merge ? r.merge : r.split;
  GetParam().apply(calls, r.ws);
  EXPECT_FALSE(DeletesOnlyWhatIsDurable(calls, r.ws.source(), r.ws.base()));
}

void Drop(std::vector<Call>& calls, const Workspace& ws, Op op, const std::wstring& suffix,
          int occurrence = 1) {
  auto it = Locate(calls, ws, op, suffix, occurrence);
  if (it != calls.end()) calls.erase(it);
}

void MarkFailed(std::vector<Call>& calls, const Workspace& ws, Op op, const std::wstring& suffix,
                int occurrence = 1) {
  auto it = Locate(calls, ws, op, suffix, occurrence);
  if (it != calls.end()) it->failed = true;
}

// Moves the first call of `op` on `suffix` to just before the first call of
// `before_op` on `before_suffix`.
void MoveBefore(std::vector<Call>& calls, const Workspace& ws, Op op, const std::wstring& suffix,
                Op before_op, const std::wstring& before_suffix) {
  auto it = Locate(calls, ws, op, suffix);
  if (it == calls.end()) return;
  const Call moved = *it;
  calls.erase(it);
  auto at = Locate(calls, ws, before_op, before_suffix);
  calls.insert(at, moved);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CallOrderBreaches,
    ::testing::Values(
        Breach{"SourceDeletedWithTheManifestUnflushed", false,
               [](std::vector<Call>& c, const Workspace& ws) {
                 Drop(c, ws, Op::kFlushFileBuffers, L".DAT");
               }},
        Breach{"SourceDeletedWithTheLastPieceUnflushed", false,
               [](std::vector<Call>& c, const Workspace& ws) {
                 Drop(c, ws, Op::kFlushFileBuffers, L".4");
               }},
        Breach{"PieceFlushThatFailed", false,
               [](std::vector<Call>& c, const Workspace& ws) {
                 MarkFailed(c, ws, Op::kFlushFileBuffers, L".2");
               }},
        Breach{"SourceDeletedBeforeTheFolderFlush", false,
               [](std::vector<Call>& c, const Workspace& ws) {
                 MoveBefore(c, ws, Op::kDeleteAndClose, L".wim", Op::kFlushFolderOf,
                            L".DAT");
               }},
        Breach{"ManifestFlushedBeforeItsLastWrite", false,
               [](std::vector<Call>& c, const Workspace& ws) {
                 MoveBefore(c, ws, Op::kFlushFileBuffers, L".DAT", Op::kWriteFile, L".DAT");
               }},
        Breach{"PieceDeletedWithTheRebuiltFileUnflushed", true,
               [](std::vector<Call>& c, const Workspace& ws) {
                 Drop(c, ws, Op::kFlushFileBuffers, L".wim", 3);
               }},
        Breach{"RebuiltFlushThatFailed", true,
               [](std::vector<Call>& c, const Workspace& ws) {
                 MarkFailed(c, ws, Op::kFlushFileBuffers, L".wim", 1);
               }},
        Breach{"PieceDeletedBeforeTheRebuiltEntryWasFlushed", true,
               [](std::vector<Call>& c, const Workspace& ws) {
                 Drop(c, ws, Op::kFlushFolderOf, L".wim");
               }},
        Breach{"ManifestDeletedBeforeTheLastPiece", true,
               [](std::vector<Call>& c, const Workspace& ws) {
                 MoveBefore(c, ws, Op::kDeleteAndClose, L".DAT", Op::kDeleteAndClose, L".4");
               }}),
    [](const ::testing::TestParamInfo<Breach>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tarvelin::testing
