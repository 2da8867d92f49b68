// SPDX-License-Identifier: MIT
// The model of durable storage: which files and which bytes a power loss
// keeps, by the rules that the power-loss test relies on.
#include "tests/reliability/simulated_disk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvelin::testing {
namespace {

const std::wstring kOld = L"/d/old";
const std::wstring kNew = L"/d/new";

// What each state of a power loss under `damage` holds at `path`, "-" for
// no file, in the order of the kept entry changes.
std::vector<std::string> After(const SimulatedDisk& disk, Damage damage,
                               const std::wstring& path) {
  std::vector<std::string> seen;
  disk.VisitPowerLosses(damage, 1, [&](const FileView& files, std::size_t kept) {
    EXPECT_EQ(seen.size(), kept);
    const std::string* bytes = files.Find(path);
    seen.push_back(bytes == nullptr ? "-" : *bytes);
  });
  return seen;
}

using States = std::vector<std::string>;

TEST(SimulatedDisk, NewFileNeedsItsFolderFlushedAndItsDataItsOwn) {
  SimulatedDisk disk;
  const auto file = disk.CreateOrTruncate(kNew);
  disk.Write(file, 0, "abc", 3);
  EXPECT_EQ((States{"-", ""}), After(disk, Damage::kDropUnflushed, kNew));
  const States garbled = After(disk, Damage::kGarbage, kNew);
  ASSERT_EQ(2u, garbled.size());
  EXPECT_EQ("-", garbled[0]);
  EXPECT_EQ(3u, garbled[1].size());
  disk.FlushFile(file);
  EXPECT_EQ((States{"-", "abc"}), After(disk, Damage::kDropUnflushed, kNew));
  disk.FlushFolderOf(kNew);
  EXPECT_EQ(0u, disk.unflushed_folder_changes());
  EXPECT_EQ((States{"abc"}), After(disk, Damage::kKeepAPrefix, kNew));
}

TEST(SimulatedDisk, DeletedFileComesBackUntilTheFolderIsFlushed) {
  SimulatedDisk disk;
  disk.AddDurableFile(kOld, "durable");
  const auto file = disk.Lookup(kOld);
  disk.Write(file, 7, "+cached", 7);
  disk.Delete(kOld);
  EXPECT_EQ(SimulatedDisk::kNoFile, disk.Lookup(kOld));
  EXPECT_EQ((States{"durable", "-"}), After(disk, Damage::kDropUnflushed, kOld));
  // A new file under the old name is another file.
  const auto again = disk.CreateOrTruncate(kOld);
  disk.FlushFile(again);
  EXPECT_EQ((States{"durable", "-", ""}), After(disk, Damage::kDropUnflushed, kOld));
  disk.FlushFolderOf(kOld);
  EXPECT_EQ((States{""}), After(disk, Damage::kDropUnflushed, kOld));
}

TEST(SimulatedDisk, TruncationIsUnflushedDataToo) {
  SimulatedDisk disk;
  disk.AddDurableFile(kOld, "durable");
  disk.CreateOrTruncate(kOld);
  EXPECT_EQ(0u, disk.unflushed_folder_changes());
  EXPECT_EQ((States{"durable"}), After(disk, Damage::kDropUnflushed, kOld));
  EXPECT_EQ("", disk.CurrentContent(disk.Lookup(kOld)));
}

TEST(SimulatedDisk, DamageKeepsAPrefixOrGarblesExactlyTheUnflushedBytes) {
  const std::string written(4096, 'w');
  for (std::uint32_t seed = 0; seed < 20; ++seed) {
    SimulatedDisk disk;
    disk.AddDurableFile(kOld, "durable");
    const auto file = disk.Lookup(kOld);
    disk.Write(file, 7, written.data(), written.size());
    const std::string current = disk.CurrentContent(file);
    disk.VisitPowerLosses(Damage::kKeepAPrefix, seed, [&](const FileView& files, std::size_t) {
      const std::string& kept = *files.Find(kOld);
      EXPECT_LE(7u, kept.size());
      EXPECT_EQ(current.substr(0, kept.size()), kept);
    });
    disk.VisitPowerLosses(Damage::kGarbage, seed, [&](const FileView& files, std::size_t) {
      const std::string& garbled = *files.Find(kOld);
      ASSERT_EQ(current.size(), garbled.size());
      EXPECT_EQ("durable", garbled.substr(0, 7));
      EXPECT_NE(written, garbled.substr(7));
    });
  }
}

}  // namespace
}  // namespace tarvelin::testing
