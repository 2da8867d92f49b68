// SPDX-License-Identifier: MIT
// The profile functions of the POSIX backend, on real files: Windows' bytes
// and reading rules, the cache that must never hide a change on disk, the
// sharing emulation, and failures that leave the file as it was.
#include "platform/posix/profile.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform_errors.h"
#include "platform/posix/shared_open.h"
#include "platform/utf8.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::posix {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

const wchar_t kFingerprintA[] = L"00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF";
const wchar_t kFingerprintB[] = L"D4 1D 8C D9 8F 00 B2 04 E9 80 09 98 EC F8 42 7E";

class ProfileTest : public ::testing::Test {
 protected:
  // Reads through the store as the manifest reader does: 2048 characters,
  // default "".
  std::wstring Read(const wchar_t* section, const wchar_t* key, ProfileStore* store = nullptr) {
    std::vector<wchar_t> buffer(2048, L'\0');
    (store ? store : &store_)->Get(section, key, L"", buffer.data(), 2048, path_.c_str());
    return buffer.data();
  }
  bool Write(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    return store_.Put(section, key, value, path_.c_str());
  }
  // Rewrites the file behind the store's back until fstat can tell the
  // difference from the state the store last saw, as another program would.
  void RewriteBehindTheStore(const std::string& bytes) {
    struct stat before;
    ASSERT_EQ(stat(WideToUtf8(path_).c_str(), &before), 0);
    for (;;) {
      { std::ofstream(WideToUtf8(path_), std::ios::binary | std::ios::trunc) << bytes; }
      struct stat after;
      ASSERT_EQ(stat(WideToUtf8(path_).c_str(), &after), 0);
      if (after.st_mtim.tv_nsec != before.st_mtim.tv_nsec ||
          after.st_mtim.tv_sec != before.st_mtim.tv_sec || after.st_size != before.st_size) {
        return;
      }
      usleep(1000);
    }
  }

  TempDir dir_;
  std::wstring path_ = dir_.Path(L"disk.DAT");
  ProfileStore store_;
};

TEST_F(ProfileTest, WritesTheManifestBytesThatWindowsWrites) {
  ASSERT_TRUE(Write(L"SrcImageMD5", L"MD5_VALUE", kFingerprintA));
  ASSERT_TRUE(Write(L"SplitImageMD5", L"MD5_VALUE0", kFingerprintB));
  ASSERT_TRUE(Write(L"SplitImageMD5", L"MD5_VALUE1", kFingerprintA));
  ASSERT_TRUE(Write(L"SplitImageMD5", L"MD5_VALUE2", kFingerprintB));
  const std::string a = WideToUtf8(kFingerprintA), b = WideToUtf8(kFingerprintB);
  EXPECT_EQ(ReadFileBytes(path_), "[SrcImageMD5]\r\nMD5_VALUE=" + a + "\r\n[SplitImageMD5]\r\n" +
                                      "MD5_VALUE0=" + b + "\r\nMD5_VALUE1=" + a +
                                      "\r\nMD5_VALUE2=" + b + "\r\n");
  EXPECT_EQ(Read(L"SPLITIMAGEMD5", L"md5_value2"), kFingerprintB);
  EXPECT_EQ(Read(L"SplitImageMD5", L"MD5_VALUE3"), L"");
}

TEST_F(ProfileTest, ReadsTheDefaultForWhatIsMissing) {
  const struct {
    const char* file;  // nullptr: no file at all.
    const wchar_t* section;
    const wchar_t* key;
  } cases[] = {
      {nullptr, L"S", L"K"},
      {"[S]\r\nK", L"S", L"K"},  // A line without '=' holds no value.
      {"[S]\r\nK=v", L"S", L"absent"},
      {"[S]\r\nK=v", L"Absent", L"K"},
  };
  for (const auto& c : cases) {
    if (c.file) WriteFileBytes(path_, c.file);
    wchar_t buffer[8];
    EXPECT_EQ(store_.Get(c.section, c.key, L"dflt  ", buffer, 8, path_.c_str()), 4u);
    EXPECT_STREQ(buffer, L"dflt");  // Trailing spaces go, as on Windows.
    EXPECT_EQ(store_.Get(c.section, c.key, L"default value", buffer, 8, path_.c_str()), 7u);
    EXPECT_STREQ(buffer, L"default");
    EXPECT_EQ(store_.Get(c.section, c.key, nullptr, buffer, 8, path_.c_str()), 0u);
    EXPECT_STREQ(buffer, L"");
  }
}

TEST_F(ProfileTest, CutsValuesToTheBufferAndTerminates) {
  ASSERT_TRUE(Write(L"S", L"K", L"abcdef"));
  for (std::uint32_t size = 1; size <= 9; ++size) {
    std::vector<wchar_t> buffer(size + 1, L'#');
    const std::uint32_t expected = size - 1 < 6 ? size - 1 : 6;
    EXPECT_EQ(store_.Get(L"S", L"K", L"", buffer.data(), size, path_.c_str()), expected);
    EXPECT_EQ(std::wstring(buffer.data()), std::wstring(L"abcdef").substr(0, expected));
    EXPECT_EQ(buffer[size], L'#') << "wrote past the buffer of " << size;
  }
}

TEST_F(ProfileTest, CreatesAndReplacesKeepingForeignLines) {
  WriteFileBytes(path_, "\xEF\xBB\xBF; made by hand\n[Other]\nx = 1\n\n[S]\nK=old\nk2=\"quoted\"\n");
  ASSERT_TRUE(Write(L"s", L"k", L"new"));
  ASSERT_TRUE(Write(L"Other", L"y", L"2"));
  ASSERT_TRUE(Write(L"Third", L"z", L"\u00e9"));
  EXPECT_EQ(ReadFileBytes(path_),
            "\xEF\xBB\xBF; made by hand\n[Other]\nx = 1\ny=2\r\n\n[S]\nK=new\r\n"
            "k2=\"quoted\"\n[Third]\r\nz=\xC3\xA9\r\n");
  EXPECT_EQ(Read(L"OTHER", L"X"), L"1");
  EXPECT_EQ(Read(L"S", L"K2"), L"quoted");
  EXPECT_EQ(Read(L"third", L"Z"), L"\u00e9");
}

TEST_F(ProfileTest, ReadsAnyBytesAndWritesBackAfterwards) {
  std::uint32_t state = 0x9E3779B9u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  static const char kAlphabet[] = "[]=;\"\r\n \0\xC3\xA9\xFFSK";
  for (int round = 0; round < 200; ++round) {
    std::string bytes(next() % 300, '\0');
    for (char& c : bytes) c = kAlphabet[next() % (sizeof kAlphabet - 1)];
    WriteFileBytes(path_, bytes);
    Read(L"S", L"K");
    wchar_t list[64];
    store_.Get(nullptr, nullptr, L"", list, 64, path_.c_str());
    store_.Get(L"S", nullptr, L"", list, 64, path_.c_str());
    ASSERT_TRUE(Write(L"S", L"K", kFingerprintA)) << round;
    ASSERT_TRUE(Write(L"New", L"K", kFingerprintB)) << round;
    ProfileStore fresh;
    ASSERT_EQ(Read(L"S", L"K", &fresh), kFingerprintA) << round;
    ASSERT_EQ(Read(L"NEW", L"k", &fresh), kFingerprintB) << round;
  }
}

TEST_F(ProfileTest, ReadsValuesOfMegabytes) {
  const std::string huge(6 << 20, 'v');
  WriteFileBytes(path_, "[S]\nbig=" + huge + "\nnext=1");
  EXPECT_EQ(Read(L"S", L"big"), std::wstring(2047, L'v'));
  std::wstring whole(huge.size() + 1, L'\0');
  EXPECT_EQ(store_.Get(L"S", L"big", L"", &whole[0], static_cast<std::uint32_t>(whole.size()),
                       path_.c_str()),
            huge.size());
  ASSERT_TRUE(Write(L"S", L"after", L"2"));
  EXPECT_EQ(Read(L"S", L"next"), L"1");
  EXPECT_EQ(Read(L"S", L"after"), L"2");
}

TEST_F(ProfileTest, ListsSectionsAndKeysAsWindowsDoes) {
  WriteFileBytes(path_, "[A]\nk1=1\nk2=2\n[]\n=empty\n[B]\n");
  wchar_t list[16];
  EXPECT_EQ(store_.Get(nullptr, L"ignored", L"", list, 16, path_.c_str()), 4u);
  EXPECT_EQ(std::wstring(list, 5), std::wstring(L"A\0B\0\0", 5));
  EXPECT_EQ(store_.Get(L"a", nullptr, L"", list, 16, path_.c_str()), 6u);
  EXPECT_EQ(std::wstring(list, 7), std::wstring(L"k1\0k2\0\0", 7));
  EXPECT_EQ(store_.Get(L"a", nullptr, L"", list, 6, path_.c_str()), 4u);  // Cut: size - 2.
  EXPECT_EQ(std::wstring(list, 6), std::wstring(L"k1\0k\0\0", 6));
}

TEST_F(ProfileTest, RemovesKeysAndSections) {
  ASSERT_TRUE(Write(L"A", L"k", L"1"));
  ASSERT_TRUE(Write(L"A", L"j", L"2"));
  ASSERT_TRUE(Write(L"B", L"k", L"3"));
  ASSERT_TRUE(Write(L"a", L"K", nullptr));
  ASSERT_TRUE(Write(L"b", nullptr, nullptr));
  EXPECT_EQ(ReadFileBytes(path_), "[A]\r\nj=2\r\n");
  EXPECT_TRUE(store_.Put(L"A", L"j", nullptr, dir_.Path(L"absent.DAT").c_str()));
  EXPECT_FALSE(testing::FileExists(dir_.Path(L"absent.DAT")));
}

TEST_F(ProfileTest, RefusesWhatWouldNotReadBackAndChangesNothing) {
  ASSERT_TRUE(Write(L"S", L"K", L"v"));
  const std::string before = ReadFileBytes(path_);
  SetThreadLastError(0);
  EXPECT_FALSE(Write(L"S", L"K", L"x\r\n[S2]\r\nevil=1"));
  EXPECT_EQ(ThreadLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(Write(L"S", L"a=b", L"v"));
  EXPECT_EQ(ReadFileBytes(path_), before);
}

TEST_F(ProfileTest, SeesAChangeBehindItsBackEvenAtTheSameSize) {
  ASSERT_TRUE(Write(L"S", L"K", L"first"));
  EXPECT_EQ(Read(L"S", L"K"), L"first");
  RewriteBehindTheStore("[S]\r\nK=other\r\n");
  EXPECT_EQ(Read(L"S", L"K"), L"other");

  // An append after a foreign edit lands after it, with the line it left
  // unfinished closed first.
  RewriteBehindTheStore("[S]\r\nK=other\r\nF=foreign");
  ASSERT_TRUE(Write(L"S", L"K2", L"mine"));
  EXPECT_EQ(ReadFileBytes(path_), "[S]\r\nK=other\r\nF=foreign\r\nK2=mine\r\n");

  // A file replaced under the same name is another inode.
  const std::wstring side = dir_.Path(L"side");
  WriteFileBytes(side, "[S]\r\nK=renamed\r\n");
  ASSERT_EQ(rename(WideToUtf8(side).c_str(), WideToUtf8(path_).c_str()), 0);
  EXPECT_EQ(Read(L"S", L"K"), L"renamed");
}

TEST_F(ProfileTest, FailsToWriteWhatItCannotOpen) {
  ASSERT_TRUE(Write(L"S", L"K", L"v"));
  std::uint32_t error = 0;
  const int holder = OpenShared(WideToUtf8(path_).c_str(), kAccessRead, kShareRead,
                                Disposition::kOpenExisting, Attribute::kNormal, &error);
  ASSERT_GE(holder, 0) << error;
  SetThreadLastError(0);
  EXPECT_FALSE(Write(L"S", L"K2", L"w"));
  EXPECT_EQ(ThreadLastError(), kErrorSharingViolation);
  EXPECT_EQ(Read(L"S", L"K"), L"v");  // Reading is still shared.
  close(holder);
  EXPECT_TRUE(Write(L"S", L"K2", L"w"));

  testing::SetReadOnly(path_, true);
  EXPECT_FALSE(Write(L"S", L"K3", L"x"));
  EXPECT_EQ(ThreadLastError(), kErrorAccessDenied);
  EXPECT_FALSE(store_.Put(L"S", L"K", L"v", dir_.Path(L"no/such/folder.DAT").c_str()));
  EXPECT_EQ(ThreadLastError(), kErrorPathNotFound);
}

// A write that the disk refuses (here by the file size limit, which fails
// like a full disk) returns false, puts the bytes back, and leaves no cached
// document that the file does not hold. Runs in a child: the limit is
// process-wide.
TEST_F(ProfileTest, AFailedWriteLeavesTheFileAndTheCacheAsTheyWere) {
  ASSERT_TRUE(Write(L"S", L"A", L"1"));
  ASSERT_TRUE(Write(L"S", L"B", L"2"));
  const std::string before = ReadFileBytes(path_);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{before.size(), before.size()};
    int failures = 0;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(100);
    const std::wstring big(64, L'x');
    if (Write(L"S", L"C", big.c_str())) ++failures;  // An append.
    if (ThreadLastError() != kErrorFileTooLarge) ++failures;
    if (Read(L"S", L"C") != L"" || ReadFileBytes(path_) != before) ++failures;
    if (Write(L"S", L"A", big.c_str())) ++failures;  // A rewrite.
    if (Read(L"S", L"A") != L"1" || ReadFileBytes(path_) != before) ++failures;
    if (!Write(L"S", L"A", L"9") || Read(L"S", L"A") != L"9") ++failures;
    _exit(failures);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ProfileTest, ThreadsWritingOneFileLoseNothing) {
  constexpr int kThreads = 4, kKeysEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int k = 0; k < kKeysEach; ++k) {
        const std::wstring key = L"K" + std::to_wstring(t) + L"_" + std::to_wstring(k);
        EXPECT_TRUE(Write(t % 2 ? L"Odd" : L"Even", key.c_str(), key.c_str()));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ProfileStore fresh;
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kKeysEach; ++k) {
      const std::wstring key = L"K" + std::to_wstring(t) + L"_" + std::to_wstring(k);
      ASSERT_EQ(Read(t % 2 ? L"Odd" : L"Even", key.c_str(), &fresh), key);
    }
  }
}

}  // namespace
}  // namespace tarvelin::posix
