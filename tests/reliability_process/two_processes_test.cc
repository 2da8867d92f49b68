// SPDX-License-Identifier: MIT
// Two processes at once on the same files: two splits of one file, two
// merges of one path, and a merge racing a split of the same path. Both
// hosts wait at one start gate; the second is let go at once or a little
// later, to meet the first at different points of its work. Through the
// sharing of their opens at least one of each pair must be refused (fail, or
// succeed without changing anything), unless one had ended before the other
// began; and whatever the interleaving, the original bytes stay recoverable
// (invariant R).
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "library/operations.h"
#include "platform/utf8.h"
#include "tests/reliability/invariant_r.h"
#include "tests/reliability_process/folder_state.h"
#include "tests/reliability_process/host_process.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint64_t kSourceSize = 16ull << 20;
constexpr int kPieceMiB = 1;
// How much later the second host is let go, in milliseconds.
constexpr int kSecondStartDelays[] = {0, 0, 0, 1, 5, 20, 60};

enum class Start { kSource, kPieces };

struct Pair {
  const char* name;
  Start start;
  const char* first;  // "split" or "merge"
  const char* second;
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const Pair& c, std::ostream* os) { *os << c.name; }

class TwoProcesses : public ::testing::TestWithParam<Pair> {
 protected:
  TwoProcesses()
      : original_(PatternBytes(kSourceSize, 2)),
        source_(work_.Path(L"disk.wim")),
        invariant_(source_, work_.Path(L"disk"), original_) {}

  void PutStart(Start start) {
    EmptyFolder(work_.path());
    if (start == Start::kSource) {
      WriteFileBytes(source_, original_);
      return;
    }
    if (!FileExists(pristine_.Path(L"disk.DAT"))) {
      WriteFileBytes(pristine_.Path(L"disk.wim"), original_);
      ASSERT_EQ(RC_OK, Split(pristine_.Path(L"disk.wim").c_str(), PieceLimit(kPieceMiB)));
    }
    CopyFolderFiles(pristine_.path(), work_.path());
  }
  std::vector<std::string> Args(const std::string& operation) const {
    if (operation == "split") return {"split", WideToUtf8(source_), std::to_string(kPieceMiB)};
    return {"merge", WideToUtf8(source_)};
  }

  TempDir work_;
  TempDir pristine_;
  const std::string original_;
  const std::wstring source_;
  const InvariantR invariant_;
};

std::string Show(const HostOutcome& outcome) {
  return outcome.result + " with " + std::to_string(outcome.changes) + " changes";
}

TEST_P(TwoProcesses, AtLeastOneIsRefusedAndTheBytesStayRecoverable) {
  const Pair& pair = GetParam();
  int refused_rounds = 0;
  for (int delay : kSecondStartDelays) {
    SCOPED_TRACE("second host let go " + std::to_string(delay) + " ms later");
    PutStart(pair.start);
    StartGate first_gate;
    StartGate second_gate;
    HostProcess first(Args(pair.first), &first_gate);
    HostProcess second(Args(pair.second), &second_gate);
    first_gate.Open();
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    second_gate.Open();
    const HostOutcome a = first.Wait();
    const HostOutcome b = second.Wait();

    const bool overlapped = a.start_ns < b.end_ns && b.start_ns < a.end_ns;
    const bool one_refused = a.Refused() || b.Refused();
    // Two successes of a split and a merge of one path can only have run one
    // after the other, whatever the clocks say about the processes around
    // them: a merge finds no pieces while the source exists, and a split no
    // source while the pieces are being joined.
    const bool serialized = a.result == "RC_OK" && b.result == "RC_OK";
    EXPECT_TRUE(one_refused || !overlapped || serialized)
        << pair.first << ": " << Show(a) << "; " << pair.second << ": " << Show(b);
    refused_rounds += one_refused ? 1 : 0;
    std::cout << "  +" << delay << " ms: " << pair.first << " " << Show(a) << ", " << pair.second
              << " " << Show(b) << "\n";
    EXPECT_TRUE(invariant_.Holds(DiskFiles()))
        << pair.first << ": " << Show(a) << "; " << pair.second << ": " << Show(b);
  }
  std::cout << pair.name << ": " << refused_rounds << " of " << std::size(kSecondStartDelays)
            << " rounds had one host refused, the rest ran one after the other\n";
}

INSTANTIATE_TEST_SUITE_P(
    SamePath, TwoProcesses,
    ::testing::Values(Pair{"TwoSplitsOfOneFile", Start::kSource, "split", "split"},
                      Pair{"TwoMergesOfOnePath", Start::kPieces, "merge", "merge"},
                      Pair{"MergeRacingSplitOverPieces", Start::kPieces, "merge", "split"},
                      Pair{"SplitRacingMergeOverSource", Start::kSource, "split", "merge"}),
    [](const ::testing::TestParamInfo<Pair>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvelin::testing
