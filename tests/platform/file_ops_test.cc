// SPDX-License-Identifier: MIT
// The POSIX backend's file calls, through the Platform interface: what each
// open refuses, what deletion refuses, the error each failing call leaves,
// 64-bit sizes, and names outside ASCII from end to end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>

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

void MakeLink(const std::wstring& target, const std::wstring& link) {
  ASSERT_EQ(symlink(WideToUtf8(target).c_str(), WideToUtf8(link).c_str()), 0);
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

// CREATE_NEW makes a file only where nothing at all has the name, and never
// follows a link there: neither the link nor what it points to changes.
TEST_F(FileOpsTest, CreateNewRefusesEveryEntryAtTheName) {
  const std::wstring target = dir_.Path(L"target.bin");
  WriteFileBytes(target, "theirs");
  ASSERT_TRUE(std::filesystem::create_directory(FsPath(dir_.Path(L"folder"))));
  MakeLink(target, dir_.Path(L"link"));
  MakeLink(dir_.Path(L"nowhere"), dir_.Path(L"dangling"));
  MakeLink(dir_.Path(L"folder"), dir_.Path(L"folder-link"));
  for (const wchar_t* name : {L"target.bin", L"folder", L"link", L"dangling", L"folder-link"}) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(name)));
    EXPECT_EQ(Open(dir_.Path(name), kReadWrite, kShareNone, Disposition::kCreateNew),
              InvalidHandle());
    EXPECT_EQ(platform_.GetLastError(), kErrorFileExists);
  }
  EXPECT_EQ(ReadFileBytes(target), "theirs");
  EXPECT_FALSE(FileExists(dir_.Path(L"nowhere")));

  // A new file takes part in sharing like any other open.
  const std::wstring fresh = dir_.Path(L"fresh.bin");
  FileHandle created = Open(fresh, kReadWrite, kShareNone, Disposition::kCreateNew,
                            Attribute::kReadOnly);
  ASSERT_NE(created, InvalidHandle());
  EXPECT_EQ(Open(fresh, kAccessRead, kShareAll, Disposition::kOpenExisting), InvalidHandle());
  EXPECT_EQ(platform_.GetLastError(), kErrorSharingViolation);
  std::uint32_t written = 0;
  EXPECT_TRUE(platform_.WriteFile(created, "new", 3, &written));
  EXPECT_TRUE(platform_.CloseHandle(created));
  EXPECT_EQ(ReadFileBytes(fresh), "new");
  EXPECT_TRUE(IsReadOnly(fresh));
}

// SetEndOfFile cuts or extends at the position that SetFilePointer set, and
// leaves the position there.
TEST_F(FileOpsTest, TheEndOfFileGoesWhereThePointerIs) {
  struct Case {
    std::uint64_t position;
    std::string after;  // the content after the cut and a write of "X"
  } const cases[] = {
      {0, "X"},
      {4, "0123X"},
      {10, "0123456789X"},
      {12, std::string("0123456789\0\0X", 13)},
  };
  const std::wstring path = dir_.Path(L"cut.bin");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    WriteFileBytes(path, "0123456789");
    FileHandle file = Open(path, kReadWrite, kShareNone, Disposition::kOpenExisting);
    ASSERT_NE(file, InvalidHandle());
    EXPECT_TRUE(platform_.SetFilePointer(file, c.position));
    EXPECT_TRUE(platform_.SetEndOfFile(file));
    std::uint32_t high = 0;
    EXPECT_EQ(platform_.GetFileSize(file, &high), c.position);
    std::uint32_t written = 0;
    EXPECT_TRUE(platform_.WriteFile(file, "X", 1, &written));
    EXPECT_TRUE(platform_.SetFilePointer(file, 0));
    EXPECT_EQ(ReadAll(file), c.after);
    EXPECT_TRUE(platform_.CloseHandle(file));
  }
}

TEST_F(FileOpsTest, FileInformationNamesTheFileAndItsTimes) {
  const std::wstring path = dir_.Path(L"known.bin");
  const std::wstring other_name = dir_.Path(L"hard-link.bin");
  WriteFileBytes(path, "twelve bytes");
  ASSERT_EQ(link(WideToUtf8(path).c_str(), WideToUtf8(other_name).c_str()), 0);
  WriteFileBytes(dir_.Path(L"other.bin"), "");
  // 2000-01-01 00:00:00.1234567 UTC, a FILETIME of 125911584001234567.
  const struct timespec times[2] = {{946684800, 123456789}, {946684800, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, WideToUtf8(path).c_str(), times, 0), 0);

  FileInformation known, same, other;
  struct Query {
    const wchar_t* name;
    FileInformation* information;
  } const queries[] = {{L"known.bin", &known}, {L"hard-link.bin", &same}, {L"other.bin", &other}};
  for (const Query& query : queries) {
    FileHandle file = Open(dir_.Path(query.name), 0, kShareAll, Disposition::kOpenExisting);
    ASSERT_NE(file, InvalidHandle());
    EXPECT_TRUE(platform_.GetFileInformationByHandle(file, query.information));
    EXPECT_TRUE(platform_.CloseHandle(file));
  }
  EXPECT_EQ(known.size, 12u);
  EXPECT_EQ(known.links, 2u);
  EXPECT_EQ(other.links, 1u);
  EXPECT_EQ(known.last_write_time, 125911584001234567u);
  EXPECT_GT(known.change_time, known.last_write_time) << "setting a time is a change now";
  EXPECT_EQ(std::pair(known.volume, known.file_index), std::pair(same.volume, same.file_index));
  EXPECT_NE(std::pair(known.volume, known.file_index), std::pair(other.volume, other.file_index));
}

TEST_F(FileOpsTest, AttributesTellWhatIsAtANameWithoutFollowingIt) {
  WriteFileBytes(dir_.Path(L"file"), "x");
  WriteFileBytes(dir_.Path(L"locked"), "x");
  ASSERT_EQ(chmod(WideToUtf8(dir_.Path(L"locked")).c_str(), 0444), 0);
  MakeLink(dir_.Path(L"locked"), dir_.Path(L"link"));
  MakeLink(dir_.Path(L"nowhere"), dir_.Path(L"dangling"));
  ASSERT_TRUE(std::filesystem::create_directory(FsPath(dir_.Path(L"folder"))));
  ASSERT_EQ(mkfifo(WideToUtf8(dir_.Path(L"pipe")).c_str(), 0600), 0);
  struct Case {
    const wchar_t* name;
    EntryKind kind;
    bool read_only;
  } const cases[] = {
      {L"missing", EntryKind::kNothing, false},
      {L"missing/inside", EntryKind::kNothing, false},
      {L"file/inside", EntryKind::kNothing, false},
      {L"file", EntryKind::kFile, false},
      {L"locked", EntryKind::kFile, true},
      {L"folder", EntryKind::kFolder, false},
      {L"link", EntryKind::kLink, false},
      {L"dangling", EntryKind::kLink, false},
      {L"pipe", EntryKind::kDevice, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::wstring(c.name)));
    EntryAttributes attributes{EntryKind::kFolder, true};
    EXPECT_TRUE(platform_.GetFileAttributes(dir_.Path(c.name).c_str(), &attributes));
    EXPECT_EQ(attributes.kind, c.kind);
    EXPECT_EQ(attributes.read_only, c.read_only);
  }
}

// A file created after another keeps others out as far as that one does, from
// its first byte, and never lets in more than the umask let in.
TEST_F(FileOpsTest, AccessModelNarrowsTheNewFilesGroupAndOtherBits) {
  struct Case {
    mode_t model, umask, expected;
  } const cases[] = {
      {0600, 022, 0600}, {0644, 077, 0600}, {0644, 022, 0644}, {0640, 022, 0640},
      {0604, 002, 0604}, {0400, 022, 0600}, {0777, 002, 0664},
  };
  const std::wstring model_path = dir_.Path(L"model.bin");
  WriteFileBytes(model_path, "model");
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::oct << c.model << " " << c.umask);
    ASSERT_EQ(chmod(WideToUtf8(model_path).c_str(), c.model), 0);
    const std::wstring path = dir_.Path(L"piece" + std::to_wstring(c.model) + L"-" +
                                        std::to_wstring(c.umask));
    FileHandle model = Open(model_path, 0, kShareAll, Disposition::kOpenExisting);
    ASSERT_NE(model, InvalidHandle());
    const mode_t saved = umask(c.umask);
    FileHandle file = platform_.CreateFile(path.c_str(), kReadWrite, kShareNone,
                                           Disposition::kCreateNew, Attribute::kNormal, model);
    umask(saved);
    ASSERT_NE(file, InvalidHandle());
    EXPECT_EQ(PermissionsOf(path), c.expected);  // before a single byte is written
    EXPECT_TRUE(platform_.CloseHandle(model));
    EXPECT_TRUE(platform_.CloseHandle(file));
  }
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
  const std::wstring link_to_file = dir_.Path(L"link.bin");
  ASSERT_EQ(0, symlink(WideToUtf8(file).c_str(), WideToUtf8(link_to_file).c_str()));
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
      {"create new over a file",
       [&] { return Open(file, kReadWrite, 0, Disposition::kCreateNew) == InvalidHandle(); },
       kErrorFileExists},
      {"create new in missing folder",
       [&] {
         return Open(in_missing_folder, kReadWrite, 0, Disposition::kCreateNew) == InvalidHandle();
       },
       kErrorPathNotFound},
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
      {"cut without write access", [&] { return !platform_.SetEndOfFile(reader); },
       kErrorAccessDenied},
      {"seek to 2^63", [&] { return !platform_.SetFilePointer(reader, 1ull << 63); },
       kErrorNegativeSeek},
      {"seek an invalid handle", [&] { return !platform_.SetFilePointer(InvalidHandle(), 0); },
       kErrorInvalidHandle},
      {"information of an invalid handle",
       [&] {
         FileInformation information;
         return !platform_.GetFileInformationByHandle(InvalidHandle(), &information);
       },
       kErrorInvalidHandle},
      {"create like an invalid model",
       [&] {
         return platform_.CreateFile(dir_.Path(L"new.bin").c_str(), kReadWrite, kShareNone,
                                     Disposition::kCreateNew, Attribute::kNormal,
                                     InvalidHandle()) == InvalidHandle();
       },
       kErrorInvalidHandle},
      {"open a link without following it",
       [&] {
         return Open(link_to_file, kAccessRead, kShareAll, Disposition::kOpenExistingNoLink) ==
                InvalidHandle();
       },
       kErrorCantResolveFilename},
      {"attributes of a too long name",
       [&] {
         EntryAttributes attributes;
         return !platform_.GetFileAttributes(too_long.c_str(), &attributes);
       },
       kErrorFilenameExcedRange},
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

// The open that a fingerprint makes: reading, sharing reading only.
TEST_F(FileOpsTest, ReadersThatShareReadingOnlyKeepWritersOut) {
  const std::wstring path = dir_.Path(L"read.bin");
  WriteFileBytes(path, "read me");

  FileHandle writer = Open(path, kAccessWrite, kShareAll, Disposition::kOpenExisting);
  ASSERT_NE(writer, InvalidHandle());
  EXPECT_EQ(Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting), InvalidHandle());
  EXPECT_EQ(platform_.GetLastError(), kErrorSharingViolation);
  EXPECT_TRUE(platform_.CloseHandle(writer));

  // The split digests its source while it holds it for reading.
  FileHandle source = Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
  ASSERT_NE(source, InvalidHandle());
  FileHandle reader = Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
  ASSERT_NE(reader, InvalidHandle());
  EXPECT_EQ(ReadAll(reader), "read me");
  EXPECT_EQ(Open(path, kAccessWrite, kShareAll, Disposition::kOpenExisting), InvalidHandle());
  EXPECT_TRUE(platform_.CloseHandle(reader));
  EXPECT_TRUE(platform_.CloseHandle(source));

  EXPECT_EQ(Open(dir_.Path(L"missing"), kAccessRead, kShareRead, Disposition::kOpenExisting),
            InvalidHandle());
  EXPECT_EQ(platform_.GetLastError(), kErrorFileNotFound);
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

  file = Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
  ASSERT_NE(file, InvalidHandle());
  EXPECT_EQ(ReadAll(file), "payload");
  EXPECT_TRUE(platform_.CloseHandle(file));
  EXPECT_TRUE(platform_.DeleteFile(path.c_str()));
  EXPECT_FALSE(platform_.PathFileExists(path.c_str()));
}

}  // namespace
}  // namespace tarvelin
