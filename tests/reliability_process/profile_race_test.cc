// SPDX-License-Identifier: MIT
// Two processes writing one manifest at once, as two splits of one file do:
// every entry that either wrote must be there afterwards. Each profile store
// stands for a process of its own (a store serializes only its own calls),
// and two threads run them at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "platform/posix/ini_document.h"
#include "platform/posix/profile.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

constexpr int kRounds = 40;
constexpr int kKeys = 200;

TEST(ProfileRace, TwoWritersAtOnceLoseNoEntry) {
  TempDir dir;
  const std::wstring path = dir.Path(L"disk.DAT");
  int lost = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::filesystem::remove(FsPath(path));
    auto writer = [&path](int first) {
      posix::ProfileStore store;
      for (int key = first; key < kKeys; key += 2) {
        const std::wstring name = L"MD5_VALUE" + std::to_wstring(key);
        store.Put(L"SplitImageMD5", name.c_str(),
                  L"00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF", path.c_str());
      }
    };
    std::thread even(writer, 0);
    std::thread odd(writer, 1);
    even.join();
    odd.join();
    const IniDocument manifest = ParseIni(ReadFileBytes(path));
    for (int key = 0; key < kKeys; ++key) {
      if (!manifest.Find("SplitImageMD5", "MD5_VALUE" + std::to_string(key))) ++lost;
    }
  }
  EXPECT_EQ(0, lost) << "entries lost of " << kRounds * kKeys;
}

}  // namespace
}  // namespace tarvelin::testing
