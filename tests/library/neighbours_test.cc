// SPDX-License-Identifier: MIT
// A split among the files of the world around it: a second run, links at the
// names it creates, a set already there, a source that another program
// changes meanwhile. Each row sets a folder up, splits, and checks the
// result and that every byte of the original can still be had: from the
// source if it stayed, else by merging the set.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "library/operations.h"
#include "platform/utf8.h"
#include "tests/library/library_test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarvelin::testing {
namespace {

constexpr std::uint64_t kSize = 3 * kMiB + 100;  // four pieces of 1 MiB at most

struct Neighbourhood {
  Workspace ws{L"disk.img"};
  std::string original;  // the bytes that must survive at `source`
  std::wstring source = ws.source();  // the file that the row splits
  std::string set_original;  // a set already there merges back to this
  FileHandle held = nullptr;
  // Called as each call of the split returns, to play another program.
  std::function<void(const Call&)> meanwhile;
  std::wstring Path(const wchar_t* name) { return ws.dir().Path(name); }
};

struct NeighbourCase {
  const char* label;
  std::function<void(Neighbourhood&)> setup;
  ResultCode expected;
  // What must still hold afterwards, beyond the original's survival.
  std::function<void(Neighbourhood&)> check;
};

void PrintTo(const NeighbourCase& c, std::ostream* os) { *os << c.label; }

// Cuts disk.img into a set, and makes `name` (holding `bytes`) the file
// that the row splits.
void SplitAsIs(Neighbourhood& n) {
  ASSERT_EQ(RC_OK, SplitWith(nullptr, n.ws.source(), 1));
  n.set_original = n.original;
}
void SplitNext(Neighbourhood& n, const wchar_t* name, const std::string& bytes) {
  n.source = n.Path(name);
  n.original = bytes;
  WriteFileBytes(n.source, bytes);
}
void PutSourceBack(Neighbourhood& n) { WriteFileBytes(n.ws.source(), n.original); }
void Untouched(const std::wstring& path, const std::string& bytes) {
  EXPECT_EQ(bytes, ReadFileBytes(path));
}

#ifndef _WIN32
void Link(Neighbourhood& n, const wchar_t* target, const wchar_t* name) {
  ASSERT_EQ(0, symlink(WideToUtf8(n.Path(target)).c_str(), WideToUtf8(n.Path(name)).c_str()));
}
#endif

const NeighbourCase kCases[] = {
    {"SecondSplitWhileTheFirstHoldsTheSource",
     [](Neighbourhood& n) {
       // As a running split holds it: unshared.
       n.held = DefaultPlatform().CreateFile(n.ws.source().c_str(), kAccessRead, kShareNone,
                                             Disposition::kOpenExisting, Attribute::kReadOnly);
     },
     RC_FILE_OPEN, [](Neighbourhood& n) { EXPECT_FALSE(FileExists(n.ws.manifest())); }},
    {"SplitOfAPieceOfAnExistingSet",
     [](Neighbourhood& n) {
       SplitAsIs(n);
       n.source = n.ws.piece(3);
       n.original = ReadFileBytes(n.source);
     },
     RC_FILE_OPEN, nullptr},
    {"SplitOfAnotherFileWithTheSameBase",
     [](Neighbourhood& n) {
       SplitAsIs(n);
       SplitNext(n, L"disk.iso", "another file");
     },
     RC_FILE_OPEN, nullptr},
    {"StaleSetOfThisSameSource",  // a split stopped before it deleted its source
     [](Neighbourhood& n) {
       SplitAsIs(n);
       PutSourceBack(n);
       std::filesystem::remove(FsPath(n.ws.piece(3)));
     },
     RC_OK, nullptr},
    {"StaleSetCutSmallerThanThisCut",
     [](Neighbourhood& n) {
       ASSERT_EQ(RC_OK, SplitWith(nullptr, n.ws.source(), 0));  // eight pieces and more
       PutSourceBack(n);
     },
     RC_OK, [](Neighbourhood& n) { EXPECT_FALSE(FileExists(n.ws.piece(5))); }},
    {"EmptyManifestAlone",
     [](Neighbourhood& n) { WriteFileBytes(n.ws.manifest(), ""); }, RC_OK, nullptr},
    {"EmptyManifestBesideAForeignPiece",
     [](Neighbourhood& n) {
       WriteFileBytes(n.ws.manifest(), "");
       WriteFileBytes(n.ws.piece(1), "not ours");
     },
     RC_FILE_OPEN, [](Neighbourhood& n) { Untouched(n.ws.piece(1), "not ours"); }},
    {"ForeignFileAtAPieceName",
     [](Neighbourhood& n) { WriteFileBytes(n.ws.piece(2), "not ours"); }, RC_FILE_OPEN,
     [](Neighbourhood& n) { Untouched(n.ws.piece(2), "not ours"); }},
    {"FolderAtTheManifestName",
     [](Neighbourhood& n) { std::filesystem::create_directory(FsPath(n.ws.manifest())); },
     RC_FILE_OPEN, nullptr},
#ifndef _WIN32
    {"SymbolicLinkAtPieceZero",
     [](Neighbourhood& n) {
       WriteFileBytes(n.Path(L"victim.txt"), "victim");
       Link(n, L"victim.txt", L"disk.0");
     },
     RC_FILE_OPEN, [](Neighbourhood& n) { Untouched(n.Path(L"victim.txt"), "victim"); }},
    {"DanglingLinkAtPieceOne", [](Neighbourhood& n) { Link(n, L"nowhere", L"disk.1"); },
     RC_FILE_OPEN, [](Neighbourhood& n) { EXPECT_FALSE(FileExists(n.Path(L"nowhere"))); }},
    {"LinkAtTheManifest",
     [](Neighbourhood& n) {
       WriteFileBytes(n.Path(L"victim.txt"), "victim");
       Link(n, L"victim.txt", L"disk.DAT");
     },
     RC_FILE_OPEN, [](Neighbourhood& n) { Untouched(n.Path(L"victim.txt"), "victim"); }},
    {"LinkAmongThePieceNames", [](Neighbourhood& n) { Link(n, L"disk.0", L"disk.2"); },
     RC_FILE_OPEN, nullptr},
    {"HardLinkAtAPieceOfAStaleSet",
     [](Neighbourhood& n) {
       SplitAsIs(n);
       PutSourceBack(n);
       ASSERT_EQ(0, link(WideToUtf8(n.ws.piece(1)).c_str(),
                         WideToUtf8(n.Path(L"elsewhere")).c_str()));
     },
     RC_FILE_OPEN, nullptr},
    {"SourceTruncatedMeanwhile",
     [](Neighbourhood& n) {
       n.meanwhile = [&n](const Call& call) {
         if (call.op == Op::kWriteFile && call.path == n.ws.piece(1)) {
           std::filesystem::resize_file(FsPath(n.ws.source()), kMiB);
           n.original = n.original.substr(0, kMiB);  // what is left to keep
           n.meanwhile = nullptr;
         }
       };
     },
     RC_FILE_READ, nullptr},
    {"SourceOverwrittenMeanwhile",
     [](Neighbourhood& n) {
       n.meanwhile = [&n](const Call& call) {
         if (call.op == Op::kWriteFile && call.path == n.ws.piece(2)) {
           n.original[10] ^= 1;
           WriteFileBytes(n.ws.source(), n.original);
           n.meanwhile = nullptr;
         }
       };
     },
     RC_FILE_READ, nullptr},
    {"PrivateSourceGivesPrivateFiles",
     [](Neighbourhood& n) {
       ASSERT_EQ(0, chmod(WideToUtf8(n.ws.source()).c_str(), 0600));
     },
     RC_OK,
     [](Neighbourhood& n) {
       for (const std::wstring& file : {n.ws.manifest(), n.ws.piece(0), n.ws.piece(3)}) {
         struct stat info;
         ASSERT_EQ(0, stat(WideToUtf8(file).c_str(), &info));
         EXPECT_EQ(0u, info.st_mode & 077u) << WideToUtf8(file);
       }
     }},
#endif
};

class Neighbours : public ::testing::TestWithParam<NeighbourCase> {};

TEST_P(Neighbours, NoByteIsLostAndNothingForeignIsWritten) {
  const NeighbourCase& c = GetParam();
  Neighbourhood n;
  n.original = n.ws.MakeSource(kSize);
  c.setup(n);
  if (::testing::Test::HasFatalFailure()) return;
  FaultPlatform watch(DefaultPlatform());
  watch.AfterEachCall([&n](std::uint64_t, const Call& call) {
    if (n.meanwhile) n.meanwhile(call);
  });
  EXPECT_EQ(c.expected, SplitWith(&watch, n.source, 1));
  if (n.held != nullptr) DefaultPlatform().CloseHandle(n.held);
  if (c.check) c.check(n);
  if (c.expected != RC_OK) {
    // Refused or failed: the source is as the split found it, or as the
    // other program left it, and a set that was there still merges.
    EXPECT_EQ(n.original, ReadFileBytes(n.source));
    if (!n.set_original.empty() && n.source != n.ws.source()) {
      if (n.source == n.ws.piece(3)) std::filesystem::remove(FsPath(n.Path(L"disk.img")));
      EXPECT_EQ(RC_OK, MergeWith(nullptr, n.ws.source()));
      EXPECT_EQ(n.set_original, ReadFileBytes(n.ws.source()));
    }
  } else {
    EXPECT_FALSE(FileExists(n.source));
    EXPECT_EQ(RC_OK, MergeWith(nullptr, n.source));
    EXPECT_EQ(n.original, ReadFileBytes(n.source));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Neighbours, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<NeighbourCase>& info) {
                           return std::string(info.param.label);
                         });

}  // namespace
}  // namespace tarvelin::testing
