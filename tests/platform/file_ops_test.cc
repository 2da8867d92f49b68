// SPDX-License-Identifier: MIT
// The POSIX backend's file calls, through the Platform interface: what each
// open refuses, what deletion refuses, the error each failing call leaves,
// 64-bit sizes, and names outside ASCII from end to end.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/platform_errors.h"
#include "platform/utf8.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

using testing::FileExists;
using testing::FsPath;
using testing::IsReadOnly;
using testing::MakeSparseFile;
using testing::ReadFileBytes;
using testing::SetReadOnly;
using testing::TempDir;
using testing::WriteFileBytes;

constexpr std::uint32_t kReadWrite = kAccessRead | kAccessWrite;
constexpr std::uint32_t kShareAll = kShareRead | kShareWrite;

mode_t PermissionsOf(const std::wstring& path) {
  struct stat info;
  EXPECT_EQ(stat(WideToUtf8(path).c_str(), &info), 0);
  return info.st_mode & 07777;
}

class FileOpsTest : public ::testing::Test {
 protected:
  FileHandle Open(const std::wstring& path, std::uint32_t access, std::uint32_t share,
                  Disposition disposition, Attribute attribute = Attribute::kNormal) {
    return platform_.CreateFile(path.c_str(), access, share, disposition, attribute);
  }

  std::string ReadAll(FileHandle file) {
    std::string bytes;
    char buffer[7];  // Odd-sized, so that reads end mid-file.
    std::uint32_t count = 0;
    while (platform_.ReadFile(file, buffer, sizeof buffer, &count) && count != 0) {
      bytes.append(buffer, count);
    }
    return bytes;
  }

  Platform& platform_ = DefaultPlatform();
  TempDir dir_;
};

TEST_F(FileOpsTest, DispositionsCreateOpenAndTruncateAsCreateFileDoes) {
  const std::wstring path = dir_.Path(L"file.bin");
  EXPECT_EQ(Open(path, kAccessRead, kShareAll, Disposition::kOpenExisting), InvalidHandle());
  EXPECT_EQ(platform_.GetLastError(), kErrorFileNotFound);

  FileHandle created = Open(path, kReadWrite, kShareNone, Disposition::kOpenAlways);
  ASSERT_NE(created, InvalidHandle());
  std::uint32_t written = 0;
  ASSERT_TRUE(platform_.WriteFile(created, "hello, world", 12, &written));
  EXPECT_EQ(written, 12u);
  ASSERT_TRUE(platform_.CloseHandle(created));

  FileHandle kept = Open(path, kAccessRead, kShareAll, Disposition::kOpenAlways);
  ASSERT_NE(kept, InvalidHandle());
  EXPECT_EQ(ReadAll(kept), "hello, world");
  std::uint32_t count = 99;
  EXPECT_TRUE(platform_.ReadFile(kept, &count, sizeof count, &count));
  EXPECT_EQ(count, 0u) << "a read at the end reports 0 bytes";
  ASSERT_TRUE(platform_.CloseHandle(kept));

  FileHandle truncated = Open(path, kReadWrite, kShareNone, Disposition::kCreateAlways);
  ASSERT_NE(truncated, InvalidHandle());
  ASSERT_TRUE(platform_.CloseHandle(truncated));
  EXPECT_EQ(ReadFileBytes(path), "");
}

TEST_F(FileOpsTest, DirectoriesAreRefusedWhateverTheDisposition) {
  for (Disposition disposition :
       {Disposition::kOpenExisting, Disposition::kOpenAlways, Disposition::kCreateAlways}) {
    for (std::uint32_t access : {std::uint32_t{kAccessRead}, kReadWrite}) {
      EXPECT_EQ(Open(dir_.path(), access, kShareAll, disposition), InvalidHandle());
      EXPECT_EQ(platform_.GetLastError(), kErrorAccessDenied);
    }
  }
  EXPECT_TRUE(std::filesystem::is_directory(FsPath(dir_.path())));
}

TEST_F(FileOpsTest, ReadOnlyFilesAreRefusedForWritingEvenToRoot) {
  const std::wstring path = dir_.Path(L"locked.bin");
  WriteFileBytes(path, "keep me");
  SetReadOnly(path, true);
  struct Case {
    std::uint32_t access;
    Disposition disposition;
  } const refused[] = {
      {kAccessWrite, Disposition::kOpenExisting},
      {kReadWrite, Disposition::kOpenAlways},
      {kReadWrite, Disposition::kCreateAlways},
      {kAccessRead, Disposition::kCreateAlways},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(Open(path, c.access, kShareAll, c.disposition), InvalidHandle());
    EXPECT_EQ(platform_.GetLastError(), kErrorAccessDenied);
  }
  EXPECT_EQ(ReadFileBytes(path), "keep me");

  FileHandle reader = Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
  ASSERT_NE(reader, InvalidHandle());
  EXPECT_EQ(ReadAll(reader), "keep me");
  EXPECT_TRUE(platform_.CloseHandle(reader));
}

TEST_F(FileOpsTest, AFileCreatedReadOnlyIsWritableThroughItsCreatorOnly) {
  const std::wstring path = dir_.Path(L"new-read-only.bin");
  FileHandle creator = Open(path, kReadWrite, kShareAll, Disposition::kCreateAlways,
                            Attribute::kReadOnly);
  ASSERT_NE(creator, InvalidHandle());
  std::uint32_t written = 0;
  EXPECT_TRUE(platform_.WriteFile(creator, "data", 4, &written));
  EXPECT_TRUE(platform_.CloseHandle(creator));
  EXPECT_TRUE(IsReadOnly(path));
  EXPECT_EQ(ReadFileBytes(path), "data");
  EXPECT_EQ(Open(path, kAccessWrite, kShareAll, Disposition::kOpenExisting), InvalidHandle());
  EXPECT_EQ(platform_.GetLastError(), kErrorAccessDenied);
}

TEST_F(FileOpsTest, AttributesMapToTheWritePermissionBits) {
  const std::wstring path = dir_.Path(L"attributes.bin");
  WriteFileBytes(path, "x");
  ASSERT_EQ(chmod(WideToUtf8(path).c_str(), 0664), 0);
  EXPECT_TRUE(platform_.SetFileAttributes(path.c_str(), Attribute::kReadOnly));
  EXPECT_EQ(PermissionsOf(path), 0444u);
  EXPECT_TRUE(platform_.SetFileAttributes(path.c_str(), Attribute::kNormal));
  EXPECT_EQ(PermissionsOf(path), 0644u);
}

TEST_F(FileOpsTest, DeletionRefusesHeldFilesAndFolders) {
  const std::wstring path = dir_.Path(L"victim.bin");
  WriteFileBytes(path, "held");
  FileHandle holder = Open(path, kAccessRead, kShareAll, Disposition::kOpenExisting);
  ASSERT_NE(holder, InvalidHandle());
  EXPECT_FALSE(platform_.DeleteFile(path.c_str()));
  EXPECT_EQ(platform_.GetLastError(), kErrorSharingViolation);
  EXPECT_TRUE(FileExists(path));
  EXPECT_TRUE(platform_.CloseHandle(holder));
  EXPECT_TRUE(platform_.DeleteFile(path.c_str()));
  EXPECT_FALSE(FileExists(path));

  EXPECT_FALSE(platform_.DeleteFile(dir_.path().c_str()));
  EXPECT_EQ(platform_.GetLastError(), kErrorAccessDenied);
}

TEST_F(FileOpsTest, DeletionRemovesReadOnlyFiles) {
  const std::wstring path = dir_.Path(L"read-only.bin");
  WriteFileBytes(path, "x");
  SetReadOnly(path, true);
  EXPECT_TRUE(platform_.DeleteFile(path.c_str()));
  EXPECT_FALSE(FileExists(path));
}

// Each failing call returns its failure value and replaces whatever error was
// pending with its own.
TEST_F(FileOpsTest, EveryFailingCallSetsItsError) {
  const std::wstring file = dir_.Path(L"present.bin");
  WriteFileBytes(file, "present");
  const std::wstring missing = dir_.Path(L"missing.bin");
  const std::wstring in_missing_folder = dir_.Path(L"no-such-folder/file.bin");
  const std::wstring under_a_file = file + L"/child";
  const std::wstring too_long = dir_.Path(std::wstring(5000, L'n'));
  FileHandle reader = Open(file, kAccessRead, kShareRead, Disposition::kOpenExisting);
  FileHandle writer = Open(dir_.Path(L"written.bin"), kAccessWrite, kShareAll,
                           Disposition::kCreateAlways);
  ASSERT_NE(reader, InvalidHandle());
  ASSERT_NE(writer, InvalidHandle());
  char buffer[4];
  std::uint32_t count = 0, high = 0;

  struct Case {
    const char* name;
    std::function<bool()> fails;
    std::uint32_t error;
  } const cases[] = {
      {"open missing file",
       [&] { return Open(missing, kAccessRead, 0, Disposition::kOpenExisting) == InvalidHandle(); },
       kErrorFileNotFound},
      {"create in missing folder",
       [&] {
         return Open(in_missing_folder, kReadWrite, 0, Disposition::kCreateAlways) ==
                InvalidHandle();
       },
       kErrorPathNotFound},
      {"open under a file",
       [&] { return Open(under_a_file, kAccessRead, 0, Disposition::kOpenAlways) == InvalidHandle(); },
       kErrorPathNotFound},
      {"open an empty path",
       [&] { return Open(L"", kAccessRead, 0, Disposition::kOpenAlways) == InvalidHandle(); },
       kErrorPathNotFound},
      {"open a too long name",
       [&] { return Open(too_long, kAccessRead, 0, Disposition::kOpenAlways) == InvalidHandle(); },
       kErrorFilenameExcedRange},
      {"open against sharing",
       [&] { return Open(file, kAccessWrite, kShareAll, Disposition::kOpenExisting) == InvalidHandle(); },
       kErrorSharingViolation},
      {"read without read access",
       [&] { return !platform_.ReadFile(writer, buffer, sizeof buffer, &count); },
       kErrorAccessDenied},
      {"write without write access",
       [&] { return !platform_.WriteFile(reader, "x", 1, &count); }, kErrorAccessDenied},
      {"flush without write access", [&] { return !platform_.FlushFileBuffers(reader); },
       kErrorAccessDenied},
      {"read an invalid handle",
       [&] { return !platform_.ReadFile(InvalidHandle(), buffer, sizeof buffer, &count); },
       kErrorInvalidHandle},
      {"write a null handle", [&] { return !platform_.WriteFile(nullptr, "x", 1, &count); },
       kErrorInvalidHandle},
      {"size of an invalid handle",
       [&] { return platform_.GetFileSize(InvalidHandle(), &high) == 0xFFFFFFFFu; },
       kErrorInvalidHandle},
      {"close an invalid handle", [&] { return !platform_.CloseHandle(InvalidHandle()); },
       kErrorInvalidHandle},
      {"close a null handle", [&] { return !platform_.CloseHandle(nullptr); },
       kErrorInvalidHandle},
      {"attributes of a missing file",
       [&] { return !platform_.SetFileAttributes(missing.c_str(), Attribute::kNormal); },
       kErrorFileNotFound},
      {"delete a missing file", [&] { return !platform_.DeleteFile(missing.c_str()); },
       kErrorFileNotFound},
      {"delete in a missing folder",
       [&] { return !platform_.DeleteFile(in_missing_folder.c_str()); }, kErrorPathNotFound},
      {"exists of a missing file", [&] { return !platform_.PathFileExists(missing.c_str()); },
       kErrorFileNotFound},
      {"flush a missing folder",
       [&] { return !platform_.FlushFolderOf(in_missing_folder.c_str()); }, kErrorPathNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.SetLastError(12345);
    EXPECT_TRUE(c.fails());
    EXPECT_EQ(platform_.GetLastError(), c.error);
  }
  EXPECT_EQ(ReadFileBytes(file), "present");
  EXPECT_TRUE(platform_.CloseHandle(reader));
  EXPECT_TRUE(platform_.CloseHandle(writer));
}

TEST_F(FileOpsTest, TheLastErrorBelongsToEachThread) {
  platform_.SetLastError(111);
  std::uint32_t seen_by_other = 0;
  std::thread other([&] {
    seen_by_other = platform_.GetLastError();
    EXPECT_FALSE(platform_.DeleteFile(dir_.Path(L"missing").c_str()));
    EXPECT_EQ(platform_.GetLastError(), kErrorFileNotFound);
  });
  other.join();
  EXPECT_EQ(seen_by_other, kErrorSuccess);
  EXPECT_EQ(platform_.GetLastError(), 111u);
}

TEST_F(FileOpsTest, SizesAreSixtyFourBits) {
  struct Case {
    std::uint64_t size;
    std::uint32_t low, high;
  } const cases[] = {
      {0, 0, 0},
      {0xFFFFFFFFull, 0xFFFFFFFFu, 0},
      {5ull << 30, 0x40000000u, 1},
  };
  const std::wstring path = dir_.Path(L"sparse.bin");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    MakeSparseFile(path, c.size);
    FileHandle file = Open(path, kAccessRead, kShareAll, Disposition::kOpenExisting);
    ASSERT_NE(file, InvalidHandle());
    // A pending error must not make a real low half of 0xFFFFFFFF look failed.
    platform_.SetLastError(kErrorIoDevice);
    std::uint32_t high = 77;
    EXPECT_EQ(platform_.GetFileSize(file, &high), c.low);
    EXPECT_EQ(high, c.high);
    if (c.low == 0xFFFFFFFFu) {
      EXPECT_EQ(platform_.GetLastError(), kErrorSuccess);
    }
    EXPECT_TRUE(platform_.CloseHandle(file));
  }
}

TEST_F(FileOpsTest, FlushesKeepTheirContracts) {
  const std::wstring path = dir_.Path(L"flushed.bin");
  FileHandle file = Open(path, kReadWrite, kShareNone, Disposition::kCreateAlways);
  ASSERT_NE(file, InvalidHandle());
  std::uint32_t written = 0;
  ASSERT_TRUE(platform_.WriteFile(file, "abc", 3, &written));
  EXPECT_TRUE(platform_.FlushFileBuffers(file));
  EXPECT_TRUE(platform_.CloseHandle(file));
  EXPECT_TRUE(platform_.FlushFolderOf(path.c_str()));
  EXPECT_TRUE(platform_.FlushFolderOf(L"name-in-the-working-folder"));
  EXPECT_TRUE(platform_.FlushFolderOf(L"/at-the-root"));
}

TEST_F(FileOpsTest, ReadStreamsShareReadingOnly) {
  const std::wstring path = dir_.Path(L"streamed.bin");
  WriteFileBytes(path, "stream me");
  const std::string utf8 = WideToUtf8(path);
  std::FILE* stream = nullptr;

  FileHandle writer = Open(path, kAccessWrite, kShareAll, Disposition::kOpenExisting);
  ASSERT_NE(writer, InvalidHandle());
  EXPECT_NE(platform_.OpenReadStream(utf8.c_str(), &stream), 0);
  EXPECT_EQ(stream, nullptr);
  EXPECT_TRUE(platform_.CloseHandle(writer));

  // The split digests its source while it holds it for reading.
  FileHandle source = Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
  ASSERT_NE(source, InvalidHandle());
  ASSERT_EQ(platform_.OpenReadStream(utf8.c_str(), &stream), 0);
  char buffer[32] = {};
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, stream), 9u);
  EXPECT_EQ(std::string(buffer), "stream me");
  EXPECT_EQ(Open(path, kAccessWrite, kShareAll, Disposition::kOpenExisting), InvalidHandle());
  std::fclose(stream);
  EXPECT_TRUE(platform_.CloseHandle(source));

  EXPECT_EQ(platform_.OpenReadStream(WideToUtf8(dir_.Path(L"missing")).c_str(), &stream), ENOENT);
}

TEST_F(FileOpsTest, NamesOutsideAsciiWorkFromEndToEnd) {
  const std::wstring name = L"donn\u00e9es-\u65e5\u672c-\U0001F600.bin";
  const std::wstring path = dir_.Path(name);
  FileHandle file = Open(path, kReadWrite, kShareNone, Disposition::kCreateAlways);
  ASSERT_NE(file, InvalidHandle());
  std::uint32_t written = 0;
  ASSERT_TRUE(platform_.WriteFile(file, "payload", 7, &written));
  ASSERT_TRUE(platform_.CloseHandle(file));

  // The name on disk is the UTF-8 form of the wide name.
  const auto entry = std::filesystem::directory_iterator(FsPath(dir_.path()))->path();
  EXPECT_EQ(entry.filename().string(), "donn\xc3\xa9""es-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x98\x80.bin");
  EXPECT_TRUE(platform_.PathFileExists(path.c_str()));

  std::FILE* stream = nullptr;
  ASSERT_EQ(platform_.OpenReadStream(WideToUtf8(path).c_str(), &stream), 0);
  char buffer[16] = {};
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, stream), 7u);
  std::fclose(stream);
  EXPECT_TRUE(platform_.DeleteFile(path.c_str()));
  EXPECT_FALSE(platform_.PathFileExists(path.c_str()));
}

}  // namespace
}  // namespace tarvelin
