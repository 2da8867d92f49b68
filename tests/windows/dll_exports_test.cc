// SPDX-License-Identifier: MIT
// tarvelin.dll as a host meets it: loaded by name, its four exports found by
// the names an MSVC host imports, and called with the conventions that such a
// host uses. The DLL is copied next to this program at build time.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "library/result_codes.h"
#include "platform/utf8.h"
#include "platform/win32/api.h"
#include "tarvelin/tarvelin.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

// MSVC's names for the class members: __thiscall members of a 32-bit class,
// and the x86-64 ones, where every member takes `this` as its first argument.
#if defined(_WIN64)
#define MEMBER_CALL
constexpr char kConstructorName[] = "??0CTarvelin@@QEAA@XZ";
constexpr char kAssignmentName[] = "??4CTarvelin@@QEAAAEAV0@AEBV0@@Z";
#else
#define MEMBER_CALL __thiscall
constexpr char kConstructorName[] = "??0CTarvelin@@QAE@XZ";
constexpr char kAssignmentName[] = "??4CTarvelin@@QAEAAV0@ABV0@@Z";
#endif

using SplitFunction = ResultCode(__cdecl*)(const wchar_t*, std::int32_t);
using MergeFunction = ResultCode(__cdecl*)(const wchar_t*);
// tarvelin_split_w and tarvelin_merge_w.
using CarryFunction = ResultCode(__cdecl*)(const wchar_t*, const tarvelin_options*,
                                           tarvelin_outcome*);
using ConstructFunction = void*(MEMBER_CALL*)(void* self);
using AssignFunction = void*(MEMBER_CALL*)(void* self, const void* other);

DWORD WINAPI ReturnSeven(void*) { return 7; }

class DllExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = ::LoadLibraryW(L"tarvelin.dll");
    ASSERT_NE(module_, nullptr) << "LoadLibrary error " << ::GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) {
      EXPECT_TRUE(::FreeLibrary(module_));
    }
  }

  template <typename Function>
  Function Find(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
  }

  HMODULE module_ = nullptr;
};

TEST_F(DllExportsTest, SplitAndMergeByNameGiveBackTheFile) {
  auto split = Find<SplitFunction>("SplitBigWIM");
  auto merge = Find<MergeFunction>("MergeIntoWIM");
  ASSERT_NE(split, nullptr);
  ASSERT_NE(merge, nullptr);

  testing::TempDir dir;
  const std::wstring path = dir.Path(L"install.wim");
  const std::string content = testing::PatternBytes((2u << 20) + 12345, 11);
  testing::WriteFileBytes(path, content);

  ASSERT_EQ(split(path.c_str(), 1), RC_OK);
  EXPECT_FALSE(testing::FileExists(path));
  EXPECT_EQ(testing::FileSizeOf(dir.Path(L"install.0")), 1u << 20);
  EXPECT_TRUE(testing::FileExists(dir.Path(L"install.DAT")));

  ASSERT_EQ(merge(path.c_str()), RC_OK);
  EXPECT_EQ(testing::ReadFileBytes(path), content);
  EXPECT_FALSE(testing::FileExists(dir.Path(L"install.0")));
  EXPECT_FALSE(testing::FileExists(dir.Path(L"install.DAT")));

  EXPECT_EQ(split(dir.Path(L"missing.wim").c_str(), 1), RC_SOURCE_NOT_FOUND);
}

// Hosts may write paths with '/', which Windows accepts. A dot in a folder's
// name is still no extension: the pieces and the manifest go into the
// source's own folder, and the file beside that folder which shares its base
// name (here backup.DAT, which the manifest would otherwise overwrite) is
// never touched.
TEST_F(DllExportsTest, ForwardSlashPathsKeepEveryNameInTheSourcesFolder) {
  auto split = Find<SplitFunction>("SplitBigWIM");
  auto merge = Find<MergeFunction>("MergeIntoWIM");
  ASSERT_NE(split, nullptr);
  ASSERT_NE(merge, nullptr);

  testing::TempDir dir;
  ASSERT_TRUE(::CreateDirectoryW(dir.Path(L"backup.2020").c_str(), nullptr));
  const std::wstring bystander = dir.Path(L"backup.DAT");
  testing::WriteFileBytes(bystander, "not ours");
  std::wstring path = dir.Path(L"backup.2020\\disk");
  for (wchar_t& character : path) {
    if (character == L'\\') character = L'/';
  }
  const std::string content = testing::PatternBytes((1u << 20) + 777, 5);
  testing::WriteFileBytes(path, content);

  ASSERT_EQ(split(path.c_str(), 1), RC_OK);
  for (const wchar_t* name : {L"disk.0", L"disk.1", L"disk.DAT"}) {
    EXPECT_TRUE(testing::FileExists(dir.Path(L"backup.2020\\") + name)) << name;
  }
  EXPECT_FALSE(testing::FileExists(dir.Path(L"backup.0")));
  EXPECT_EQ(testing::ReadFileBytes(bystander), "not ours");

  ASSERT_EQ(merge(path.c_str()), RC_OK);
  EXPECT_EQ(testing::ReadFileBytes(dir.Path(L"backup.2020\\disk")), content);
  EXPECT_FALSE(testing::FileExists(dir.Path(L"backup.2020\\disk.DAT")));
  EXPECT_EQ(testing::ReadFileBytes(bystander), "not ours");
}

// A file carried to another folder and back, as to a stick and home again,
// through the library's own functions: the split keeps its source, writes
// pieces and manifest into the folder (named with both kinds of slash) and
// reads them back past the cache (FILE_FLAG_NO_BUFFERING into aligned
// buffers); the merge rebuilds the file from that folder and deletes
// nothing there.
TEST_F(DllExportsTest, SplitToAFolderAndMergeFromItKeepingBothSides) {
  auto split = Find<CarryFunction>("tarvelin_split_w");
  auto merge = Find<CarryFunction>("tarvelin_merge_w");
  ASSERT_NE(split, nullptr);
  ASSERT_NE(merge, nullptr);

  testing::TempDir dir;
  ASSERT_TRUE(::CreateDirectoryW(dir.Path(L"carried").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(dir.Path(L"carried\\medium").c_str(), nullptr));
  std::wstring folder = dir.path();
  for (wchar_t& character : folder) {
    if (character == L'\\') character = L'/';
  }
  folder += L"/carried\\medium";
  const std::string folder_utf8 = WideToUtf8(folder);
  const std::wstring path = dir.Path(L"install.wim");
  const std::string content = testing::PatternBytes((2u << 20) + 12345, 13);
  testing::WriteFileBytes(path, content);

  tarvelin_options options = {};
  options.size = sizeof options;
  options.piece_size = 1u << 20;
  options.piece_folder = folder_utf8.c_str();
  options.flags = TARVELIN_KEEP_SOURCE;
  tarvelin_outcome outcome = {};
  outcome.size = sizeof outcome;
  ASSERT_EQ(split(path.c_str(), &options, &outcome), RC_OK) << outcome.step << " " << outcome.file;
  EXPECT_EQ(outcome.pieces, 3);
  EXPECT_EQ(outcome.read_back, 1);
  EXPECT_EQ(testing::ReadFileBytes(path), content);
  for (const wchar_t* name : {L"install.0", L"install.1", L"install.2", L"install.DAT"}) {
    EXPECT_TRUE(testing::FileExists(dir.Path(L"carried\\medium\\") + name)) << name;
    EXPECT_FALSE(testing::FileExists(dir.Path(name))) << name;
  }

  ASSERT_TRUE(::DeleteFileW(path.c_str()));
  options.flags = TARVELIN_KEEP_PIECES;
  outcome = {};
  outcome.size = sizeof outcome;
  ASSERT_EQ(merge(path.c_str(), &options, &outcome), RC_OK) << outcome.step << " " << outcome.file;
  EXPECT_EQ(outcome.pieces, 3);
  EXPECT_EQ(testing::ReadFileBytes(path), content);
  for (const wchar_t* name : {L"install.0", L"install.1", L"install.2", L"install.DAT"}) {
    EXPECT_TRUE(testing::FileExists(dir.Path(L"carried\\medium\\") + name)) << name;
  }
}

// MSVC passes `this` in ECX to both members (in RCX on x86-64), takes the
// constructed object's address back from EAX (RAX), and on i686 expects the
// assignment to pop its argument.
TEST_F(DllExportsTest, ClassMembersFollowMsvcConventions) {
  auto construct = Find<ConstructFunction>(kConstructorName);
  auto assign = Find<AssignFunction>(kAssignmentName);
  ASSERT_NE(construct, nullptr);
  ASSERT_NE(assign, nullptr);

  alignas(4) unsigned char first[4] = {0xA5, 0xA5, 0xA5, 0xA5};
  alignas(4) unsigned char second[4] = {0x5A, 0x5A, 0x5A, 0x5A};
  EXPECT_EQ(construct(first), static_cast<void*>(first));
  EXPECT_EQ(construct(second), static_cast<void*>(second));
  EXPECT_EQ(assign(first, second), static_cast<void*>(first));
  // The class holds nothing: neither member touches the object's bytes.
  for (unsigned char byte : first) EXPECT_EQ(byte, 0xA5);
  for (unsigned char byte : second) EXPECT_EQ(byte, 0x5A);
}

TEST_F(DllExportsTest, GccNamesAreNotExported) {
  EXPECT_EQ(Find<void*>("_ZN9CTarvelinC1Ev"), nullptr);
  EXPECT_EQ(Find<void*>("_ZN9CTarvelinaSERKS_"), nullptr);
  EXPECT_EQ(Find<void*>("DllMain"), nullptr);
}

// A host thread that starts and ends while the DLL is loaded sends it the
// thread notifications; they must not disturb a later call.
TEST_F(DllExportsTest, SurvivesThreadNotifications) {
  HANDLE thread = ::CreateThread(nullptr, 0, ReturnSeven, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(::WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD exit_code = 0;
  EXPECT_TRUE(::GetExitCodeThread(thread, &exit_code));
  EXPECT_EQ(exit_code, 7u);
  ::CloseHandle(thread);

  testing::TempDir dir;
  auto merge = Find<MergeFunction>("MergeIntoWIM");
  ASSERT_NE(merge, nullptr);
  EXPECT_EQ(merge(dir.Path(L"nothing.wim").c_str()), RC_MANIFEST_NOT_FOUND);
}

// Called again after a merge that stopped, MergeIntoWIM goes on from the
// file that it left; it leaves a file that is not a merge's work alone, and
// one that a split holds (read access, read sharing) it cannot take.
TEST_F(DllExportsTest, MergeCalledAgainGoesOnAndRefusesWhatIsNotItsOwn) {
  auto split = Find<SplitFunction>("SplitBigWIM");
  auto merge = Find<MergeFunction>("MergeIntoWIM");
  ASSERT_NE(split, nullptr);
  ASSERT_NE(merge, nullptr);
  testing::TempDir dir;
  const std::wstring path = dir.Path(L"install.wim");
  const std::string content = testing::PatternBytes((2u << 20) + 12345, 12);
  testing::WriteFileBytes(path, content);
  ASSERT_EQ(split(path.c_str(), 1), RC_OK);

  testing::WriteFileBytes(path, "not a merge's work");
  EXPECT_EQ(merge(path.c_str()), RC_DIGEST_MISMATCH);
  EXPECT_EQ(testing::ReadFileBytes(path), "not a merge's work");

  testing::WriteFileBytes(path, content.substr(0, (1u << 20) + 1000));
  HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(merge(path.c_str()), RC_FILE_READ);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ::CloseHandle(held);
  // Nor one that a running split holds: its manifest is held for writing.
  HANDLE manifest = ::CreateFileW(dir.Path(L"install.DAT").c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(manifest, INVALID_HANDLE_VALUE);
  EXPECT_EQ(merge(path.c_str()), RC_FILE_OPEN);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  ::CloseHandle(manifest);

  EXPECT_EQ(merge(path.c_str()), RC_OK);
  EXPECT_EQ(testing::ReadFileBytes(path), content);
  EXPECT_FALSE(testing::FileExists(dir.Path(L"install.0")));
  EXPECT_FALSE(testing::FileExists(dir.Path(L"install.DAT")));
}

// A name that opens a device is no file: refused at once, with nothing
// opened (opening AUX would wait for ever, NUL would read as endless).
TEST_F(DllExportsTest, DeviceNamesAreRefusedAtOnce) {
  auto split = Find<SplitFunction>("SplitBigWIM");
  auto merge = Find<MergeFunction>("MergeIntoWIM");
  ASSERT_NE(split, nullptr);
  ASSERT_NE(merge, nullptr);
  testing::TempDir dir;
  for (const wchar_t* name : {L"aux.img", L"AUX.img", L"nul.img", L"con", L"lpt1.wim"}) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(name)));
    EXPECT_EQ(split(name, 1), RC_INVALID_PATH);
    EXPECT_EQ(split(dir.Path(name).c_str(), 1), RC_INVALID_PATH);
    EXPECT_EQ(merge(name), RC_INVALID_PATH);
    EXPECT_EQ(merge(dir.Path(name).c_str()), RC_INVALID_PATH);
  }
}

}  // namespace
}  // namespace tarvelin
