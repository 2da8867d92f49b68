// SPDX-License-Identifier: MIT
// Process crashes: a host splitting or merging a 48 MiB file is killed with
// SIGKILL at a random moment within the time a clean run takes, many times
// over. After every kill the original bytes must be recoverable (invariant
// R). A split run again finishes or fails without deleting anything; a
// merge run again finishes, even when it is killed in turn.
//
// TARVELIN_KILL_SEED=N repeats a sequence of kill moments; the seed in use
// is printed. TARVELIN_RESUME_ROUNDS=N makes the chains of killed merges
// longer than the default, which CI runs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "library/operations.h"
#include "platform/utf8.h"
#include "tests/reliability/invariant_r.h"
#include "tests/reliability_process/folder_state.h"
#include "tests/reliability_process/host_process.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint64_t kSourceSize = 48ull << 20;
constexpr int kPieceMiB = 4;
constexpr int kKills = 50;
// Rounds of a merge killed and run again, killed each time, before the run
// that finishes.
constexpr int kResumeRounds = 8;
constexpr int kKillsPerRound = 3;

int ResumeRounds() {
  const char* given = std::getenv("TARVELIN_RESUME_ROUNDS");
  return given != nullptr ? std::atoi(given) : kResumeRounds;
}

std::uint32_t KillSeed() {
  const char* given = std::getenv("TARVELIN_KILL_SEED");
  const std::uint32_t seed = given != nullptr
                                 ? static_cast<std::uint32_t>(std::strtoul(given, nullptr, 10))
                                 : std::random_device()();
  std::cout << "kill moments drawn with TARVELIN_KILL_SEED=" << seed << "\n";
  return seed;
}

class ProcessKill : public ::testing::Test {
 protected:
  ProcessKill()
      : original_(PatternBytes(kSourceSize, 48)),
        source_(work_.Path(L"disk.wim")),
        base_(work_.Path(L"disk")),
        invariant_(source_, base_, original_),
        random_(KillSeed()) {}

  std::string Narrow(const std::wstring& path) const { return WideToUtf8(path); }
  std::vector<std::string> SplitArgs() const {
    return {"split", Narrow(source_), std::to_string(kPieceMiB)};
  }
  std::vector<std::string> MergeArgs() const { return {"merge", Narrow(source_)}; }

  void PutSource() {
    EmptyFolder(work_.path());
    WriteFileBytes(source_, original_);
  }
  // Leaves the pieces and manifest of a clean split in the work folder.
  void PutPieces() {
    if (!FileExists(pristine_.Path(L"disk.DAT"))) {
      WriteFileBytes(pristine_.Path(L"disk.wim"), original_);
      ASSERT_EQ(RC_OK, Split(pristine_.Path(L"disk.wim").c_str(), PieceLimit(kPieceMiB)));
    }
    EmptyFolder(work_.path());
    CopyFolderFiles(pristine_.path(), work_.path());
  }

  // A clean run's duration, the span that kill moments are drawn from.
  std::chrono::nanoseconds CleanRun(const std::vector<std::string>& args) {
    const auto start = std::chrono::steady_clock::now();
    const HostOutcome outcome = RunHost(args);
    EXPECT_EQ("RC_OK", outcome.result);
    return std::chrono::steady_clock::now() - start;
  }

  // Starts a host, kills it after a random part of `span`; returns whether
  // the kill came before the host's end.
  bool RunAndKill(const std::vector<std::string>& args, std::chrono::nanoseconds span) {
    std::uniform_int_distribution<long long> moment(0, span.count());
    HostProcess host(args);
    std::this_thread::sleep_for(std::chrono::nanoseconds(moment(random_)));
    host.Kill();
    return host.Wait().killed;
  }

  ::testing::AssertionResult HoldsR() const { return invariant_.Holds(DiskFiles()); }

  // A merge that returned RC_OK left the original and nothing else.
  void ExpectMergedAndTidied(const HostOutcome& outcome, const std::string& when) {
    EXPECT_EQ("RC_OK", outcome.result) << when;
    EXPECT_TRUE(original_ == ReadFileBytes(source_)) << when;
    EXPECT_FALSE(FileExists(work_.Path(L"disk.0")) || FileExists(work_.Path(L"disk.11")) ||
                 FileExists(work_.Path(L"disk.DAT")))
        << when << ": " << Describe(StateOf(work_.path()));
  }

  // Most kills must land inside the operation, or the test proved little;
  // the bound is loose because the machine's speed may change under it.
  static constexpr int kMostlyInside = kKills / 10;

  TempDir work_;
  TempDir pristine_;
  const std::string original_;
  const std::wstring source_;
  const std::wstring base_;
  const InvariantR invariant_;
  std::mt19937 random_;
  std::map<std::string, int> landed_;  // where the kills landed
};

std::string PrintLanded(const std::map<std::string, int>& landed) {
  std::string text;
  for (const auto& [where, count] : landed) text += where + ": " + std::to_string(count) + "; ";
  return text;
}

TEST_F(ProcessKill, SplitKilledAnywhereKeepsTheBytesAndARerunFinishesOrChangesNothing) {
  PutSource();
  const auto span = CleanRun(SplitArgs());
  for (int round = 0; round < kKills; ++round) {
    PutSource();
    const bool killed = RunAndKill(SplitArgs(), span);
    const bool source_left = FileExists(source_);
    landed_[!killed                                ? "after the end"
            : !FileExists(work_.Path(L"disk.DAT")) ? "before the manifest"
            : source_left                          ? "while cutting"
                                                   : "after deleting the source"]++;
    ASSERT_TRUE(HoldsR()) << "after kill " << round;

    const FolderState before = StateOf(work_.path());
    const HostOutcome rerun = RunHost(SplitArgs());
    if (source_left) {
      // The source is still there, so the split starts over and finishes.
      EXPECT_EQ("RC_OK", rerun.result) << "rerun after kill " << round;
      EXPECT_FALSE(FileExists(source_));
    } else {
      EXPECT_EQ("RC_SOURCE_NOT_FOUND", rerun.result) << "rerun after kill " << round;
      EXPECT_EQ(before, StateOf(work_.path())) << Describe(StateOf(work_.path()));
    }
    ASSERT_TRUE(HoldsR()) << "after the rerun that followed kill " << round;
  }
  std::cout << "split kills: " << PrintLanded(landed_) << "\n";
  EXPECT_GE(landed_["while cutting"], kMostlyInside) << PrintLanded(landed_);
}

TEST_F(ProcessKill, MergeKilledAnywhereKeepsTheBytesAndARerunFinishes) {
  PutPieces();
  const auto span = CleanRun(MergeArgs());
  for (int round = 0; round < kKills; ++round) {
    PutPieces();
    const bool killed = RunAndKill(MergeArgs(), span);
    const bool rebuilt = FileExists(source_);
    const bool manifest = FileExists(work_.Path(L"disk.DAT"));
    landed_[!killed                              ? "after the end"
            : !rebuilt                           ? "before creating the file"
            : FileExists(work_.Path(L"disk.11")) ? "while joining"
            : manifest                           ? "after joining, manifest left"
                                                 : "after deleting the manifest"]++;
    ASSERT_TRUE(HoldsR()) << "after kill " << round;

    // Whatever the kill left, the same command again goes on from there.
    ExpectMergedAndTidied(RunHost(MergeArgs()), "rerun after kill " + std::to_string(round));
  }
  std::cout << "merge kills: " << PrintLanded(landed_) << "\n";
  EXPECT_GE(landed_["while joining"], kMostlyInside) << PrintLanded(landed_);
}

// The merge, and each merge run again after it, killed at a random moment;
// then once more, and that run finishes. The reruns that were killed before
// their end went on from a file left by a killed merge.
TEST_F(ProcessKill, MergeKilledAgainAndAgainFinishesWhenRunOnceMore) {
  PutPieces();
  const auto span = CleanRun(MergeArgs());
  const int rounds = ResumeRounds();
  int reruns_killed = 0;
  for (int round = 0; round < rounds; ++round) {
    PutPieces();
    for (int kill = 0; kill < kKillsPerRound; ++kill) {
      const bool resuming = FileExists(source_);
      const bool killed = RunAndKill(MergeArgs(), span);
      reruns_killed += resuming && killed ? 1 : 0;
      ASSERT_TRUE(HoldsR()) << "after kill " << kill << " of round " << round;
    }
    ExpectMergedAndTidied(RunHost(MergeArgs()), "round " + std::to_string(round));
  }
  std::cout << "merges run again and killed before their end: " << reruns_killed << " of "
            << rounds * (kKillsPerRound - 1) << "\n";
  EXPECT_GT(reruns_killed, 0);
}

}  // namespace
}  // namespace tarvelin::testing
