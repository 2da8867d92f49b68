// SPDX-License-Identifier: MIT
// A wrapper that overrides nothing changes nothing: each call reaches the same
// call of its target, and the caller sees the target's result and last-error
// value, checked with each counted call failing in turn.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform_wrapper.h"
#include "platform/utf8.h"
#include "tests/support/fault_platform.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint64_t kCountedCalls = 22;
constexpr std::uint32_t kInjected = 1117;

// Makes every platform call once, in `dir`; returns each result, each
// followed by the last-error value.
std::vector<std::uint64_t> EveryCall(Platform& p, const TempDir& dir) {
  const std::wstring file = dir.Path(L"a.bin");
  const std::wstring ini = dir.Path(L"a.ini");
  std::vector<std::uint64_t> seen;
  const auto note = [&](std::uint64_t result) {
    seen.push_back(result);
    seen.push_back(p.GetLastError());
  };
  char bytes[4] = {1, 2, 3, 4};
  std::uint32_t count = 0;
  std::uint32_t high = 0;
  wchar_t value[8];
  p.SetLastError(0);
  const FileHandle h = p.CreateFile(file.c_str(), kAccessRead | kAccessWrite, kShareNone,
                                    Disposition::kCreateAlways, Attribute::kNormal);
  note(h != InvalidHandle());
  note(p.WriteFile(h, bytes, 4, &count));
  note(p.FlushFileBuffers(h));
  note(p.GetFileSize(h, &high));
  note(p.ReadFile(h, bytes, 4, &count));
  note(p.CloseHandle(h));
  note(p.FlushFolderOf(file.c_str()));
  note(p.SetFileAttributes(file.c_str(), Attribute::kNormal));
  note(p.PathFileExists(file.c_str()));
  note(p.WritePrivateProfileString(L"s", L"k", L"v", ini.c_str()));
  note(p.GetPrivateProfileString(L"s", L"k", L"", value, 8, ini.c_str()));
  EntryAttributes entry;
  note(p.GetFileAttributes(file.c_str(), &entry));
  seen.push_back(static_cast<std::uint64_t>(entry.kind));
  const FileHandle again = p.CreateFile(file.c_str(), kAccessRead | kAccessWrite, kShareNone,
                                        Disposition::kOpenExisting, Attribute::kNormal);
  FileInformation information;
  note(p.GetFileInformationByHandle(again, &information));
  seen.push_back(information.size);
  note(p.SetFilePointer(again, 2));
  note(p.SetEndOfFile(again));
  note(p.CloseHandle(again));
  const FileHandle doomed = p.CreateFile(file.c_str(), kAccessRead | kAccessDelete, kShareNone,
                                         Disposition::kOpenExistingNoLink, Attribute::kNormal);
  note(doomed != InvalidHandle());
  note(p.DeleteAndClose(doomed));
  const FileHandle recreated = p.CreateFile(file.c_str(), kAccessWrite, kShareNone,
                                            Disposition::kCreateNew, Attribute::kNormal);
  note(p.CloseHandle(recreated));
  note(p.DeleteFile(file.c_str()));
  return seen;
}

TEST(PlatformWrapper, PassesEveryCallItsResultAndItsErrorThrough) {
  for (std::uint64_t n = 1; n <= kCountedCalls; ++n) {
    TempDir direct_dir;
    FaultPlatform direct(DefaultPlatform());
    direct.FailCall(n, false, kInjected);
    const std::vector<std::uint64_t> expected = EveryCall(direct, direct_dir);

    TempDir wrapped_dir;
    FaultPlatform target(DefaultPlatform());
    target.FailCall(n, false, kInjected);
    PlatformWrapper bare(&target);
    FaultPlatform front(bare);
    EXPECT_EQ(expected, EveryCall(front, wrapped_dir)) << "call " << n << " failing";
  }
}

}  // namespace
}  // namespace tarvelin::testing
