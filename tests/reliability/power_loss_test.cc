// SPDX-License-Identifier: MIT
// A power loss after every platform call of a split and of a merge of a
// 5-piece file, and of a merge run again after one that stopped part way or
// after its last append. Each call's moment gives one state per damage of
// the unflushed data and per ordered part of the unflushed entry changes that
// reached the disk; the original bytes must be recoverable from every one.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "library/operations.h"
#include "tests/library/library_test_util.h"
#include "tests/reliability/invariant_r.h"
#include "tests/reliability/power_loss_platform.h"
#include "tests/support/fault_platform.h"

namespace tarvelin::testing {
namespace {

constexpr int kPieces = 5;
const std::uint64_t kSize = 5 * kMiB - 3;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct Tally {
  std::uint64_t calls = 0;
  // Per damage: the states with every unflushed entry change undone, and
  // those with some kept.
  std::uint64_t undone[3] = {};
  std::uint64_t kept[3] = {};
  // States in which the operation's first deletion reached the disk.
  std::uint64_t after_deletion = 0;
  std::uint64_t broken = 0;
  std::vector<std::string> first_broken;

  std::uint64_t states() const {
    std::uint64_t sum = 0;
    for (int d = 0; d < 3; ++d) sum += undone[d] + kept[d];
    return sum;
  }
  void Print(const char* operation) const {
    std::printf("%s: %llu calls, %llu power-loss states checked", operation,
                static_cast<unsigned long long>(calls),
                static_cast<unsigned long long>(states()));
    for (int d = 0; d < 3; ++d) {
      std::printf("; %s: %llu + %llu with entry changes kept", DamageName(kEveryDamage[d]),
                  static_cast<unsigned long long>(undone[d]),
                  static_cast<unsigned long long>(kept[d]));
    }
    std::printf("; %llu after a deletion reached the disk\n",
                static_cast<unsigned long long>(after_deletion));
  }
};

struct Operation {
  const char* name;
  // Makes the files that the operation starts from; returns the original.
  std::string (*set_up)(Workspace& ws);
  // The file whose deletion is the operation's first.
  std::wstring (*first_deleted)(const Workspace& ws);
  ResultCode (*run)(Platform* platform, const Workspace& ws);
  // When given, leaves through the model what an earlier merge left, some of
  // it only in the cache, before the operation runs.
  void (*interrupt)(Platform* platform, const Workspace& ws, const std::string& original) =
      nullptr;
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const Operation& c, std::ostream* os) { *os << c.name; }

const Operation kSplit{
    "split", [](Workspace& ws) { return ws.MakeSource(kSize, 5); },
    [](const Workspace& ws) { return ws.source(); },
    [](Platform* platform, const Workspace& ws) { return SplitWith(platform, ws.source(), 1); }};

std::string SplitIntoPieces(Workspace& ws) {
  const std::string original = ws.MakeSource(kSize, 5);
  EXPECT_EQ(RC_OK, SplitWith(nullptr, ws.source(), 1));
  EXPECT_EQ(static_cast<std::size_t>(kPieces), ws.PieceSizes().size());
  return original;
}

ResultCode MergeAgain(Platform* platform, const Workspace& ws) {
  return MergeWith(platform, ws.source());
}

// A merge that stopped with the file holding the original's first `durable`
// bytes on stable storage and up to `cached` only in the cache, and pieces
// 0..gone-1 deleted.
void LeaveMerge(Platform* platform, const Workspace& ws, const std::string& original,
                std::uint64_t durable, int gone, std::uint64_t cached) {
  FileHandle file = platform->CreateFile(ws.source().c_str(), kAccessRead | kAccessWrite,
                                         kShareNone, Disposition::kCreateNew, Attribute::kNormal);
  ASSERT_NE(InvalidHandle(), file);
  std::uint32_t written = 0;
  EXPECT_TRUE(platform->WriteFile(file, original.data(), static_cast<std::uint32_t>(durable),
                                  &written));
  EXPECT_TRUE(platform->FlushFileBuffers(file) && platform->FlushFolderOf(ws.source().c_str()));
  for (int n = 0; n < gone; ++n) EXPECT_TRUE(platform->DeleteFile(ws.piece(n).c_str()));
  EXPECT_TRUE(platform->WriteFile(file, original.data() + durable,
                                  static_cast<std::uint32_t>(cached - durable), &written));
  EXPECT_TRUE(platform->CloseHandle(file));
}

const Operation kMerge{"merge", SplitIntoPieces, [](const Workspace& ws) { return ws.piece(0); },
                       MergeAgain};

// Stopped while appending piece 2: piece 1 is joined but still on disk, and
// the start of piece 2 follows it; the resumed merge cuts that off.
const Operation kResumedMerge{
    "resumed_merge", SplitIntoPieces, [](const Workspace& ws) { return ws.piece(1); },
    MergeAgain, [](Platform* platform, const Workspace& ws, const std::string& original) {
      LeaveMerge(platform, ws, original, kMiB, 1, 2 * kMiB + kMiB / 2 + 100);
    }};

// Stopped after appending the last piece: the file is whole, its last piece
// only in the cache, and that piece and the manifest are left to delete.
const Operation kFinishedMerge{
    "finished_merge", SplitIntoPieces,
    [](const Workspace& ws) { return ws.piece(kPieces - 1); }, MergeAgain,
    [](Platform* platform, const Workspace& ws, const std::string& original) {
      LeaveMerge(platform, ws, original, (kPieces - 1) * kMiB, kPieces - 1, kSize);
    }};

// Runs `operation` through the power-loss model of a fresh folder and checks
// R in every state that a power loss after each of its calls could leave.
// With `forget_flushes` it stops checking at the first state that breaks R.
Tally Simulate(const Operation& operation, bool forget_flushes) {
  Tally tally;
  Workspace ws;
  const std::string original = operation.set_up(ws);
  const std::wstring first_deleted = operation.first_deleted(ws);
  const InvariantR r(ws.source(), ws.base(), original);
  PowerLossPlatform platform(DefaultPlatform(), ws.dir().path());
  if (operation.interrupt != nullptr) operation.interrupt(&platform, ws, original);
  platform.ForgetFlushes(forget_flushes);
  // Numbers the calls and runs the check after each, once the model has
  // followed it.
  FaultPlatform calls(platform);
  calls.AfterEachCall([&](std::uint64_t number, const Call& call) {
    ++tally.calls;
    if (forget_flushes && tally.broken > 0) return;
    for (int d = 0; d < 3; ++d) {
      const Damage damage = kEveryDamage[d];
      const std::uint32_t seed = static_cast<std::uint32_t>(number * 3 + d);
      platform.disk().VisitPowerLosses(damage, seed, [&](const FileView& files, std::size_t kept) {
        ++(kept == 0 ? tally.undone[d] : tally.kept[d]);
        if (files.Find(first_deleted) == nullptr) ++tally.after_deletion;
        const ::testing::AssertionResult holds = r.Holds(files);
        if (holds) return;
        if (++tally.broken > 5) return;
        tally.first_broken.push_back(
            "power loss after call " + std::to_string(number) + " (" +
            PlatformCallName(call.op) + " " + Narrow(call.path.substr(ws.dir().path().size())) +
            "), " + DamageName(damage) + ", " + std::to_string(kept) + " of " +
            std::to_string(platform.disk().unflushed_folder_changes()) +
            " entry changes kept: " + holds.message());
      });
    }
  });
  EXPECT_EQ(RC_OK, operation.run(&calls, ws));

  // The model must have followed the real files, or it proves nothing.
  DiskFiles disk;
  std::size_t files_on_disk = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(ws.dir().path()))) {
    files_on_disk += entry.is_regular_file() ? 1 : 0;
  }
  const std::map<std::wstring, std::string> current = platform.disk().CurrentFiles();
  EXPECT_EQ(files_on_disk, current.size());
  for (const auto& [path, bytes] : current) {
    const std::string* real = disk.Find(path);
    EXPECT_TRUE(real != nullptr && *real == bytes) << Narrow(path);
  }
  return tally;
}

class PowerLoss : public ::testing::TestWithParam<Operation> {};

TEST_P(PowerLoss, LeavesTheBytesRecoverableAfterEveryCall) {
  const Tally tally = Simulate(GetParam(), false);
  tally.Print(GetParam().name);
  EXPECT_EQ(0u, tally.broken);
  for (const std::string& message : tally.first_broken) ADD_FAILURE() << message;
  // The operation's first deletion reached the disk in some states, so what
  // it leaves behind was put to the test without what it deleted.
  EXPECT_GT(tally.after_deletion, 0u);
}

// Were the flushes not made, the same simulation finds states that lose
// bytes: it can tell a careful order from a careless one.
TEST_P(PowerLoss, WithoutFlushesBytesAreLost) {
  EXPECT_GT(Simulate(GetParam(), true).broken, 0u);
}

INSTANTIATE_TEST_SUITE_P(SplitAndMerge, PowerLoss,
                         ::testing::Values(kSplit, kMerge, kResumedMerge, kFinishedMerge),
                         [](const ::testing::TestParamInfo<Operation>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace tarvelin::testing
