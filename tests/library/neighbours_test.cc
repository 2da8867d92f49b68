// SPDX-License-Identifier: MIT
// A split among the files of the world around it: a second run, links at the
// names it creates, a set already there, a source that another program
// changes meanwhile. Each row sets a folder up, splits, and checks the
// result and that every byte of the original can still be had: from the
// source if it stayed, else by merging the set.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "library/operations.h"
#include "platform/utf8.h"
#include "tests/library/library_test_util.h"
#include "tests/reliability/invariant_r.h"

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
  FileHandle held_too = nullptr;
  // Files of others that must keep their bytes, whatever the operation did.
  std::map<std::wstring, std::string> theirs;
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

// A file of someone else's at `name`, whose bytes must survive.
void Theirs(Neighbourhood& n, const std::wstring& path, const std::string& bytes) {
  WriteFileBytes(path, bytes);
  n.theirs[path] = bytes;
}

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
// Leaves the set as a split killed while it cut piece 3 leaves it: pieces 0
// to 2 recorded, piece 3 begun and not yet recorded.
void KilledWhileCuttingPieceThree(Neighbourhood& n) {
  SplitAsIs(n);
  PutSourceBack(n);
  std::string manifest = ReadFileBytes(n.ws.manifest());
  manifest.erase(manifest.rfind("MD5_VALUE3="));
  WriteFileBytes(n.ws.manifest(), manifest);
  std::filesystem::resize_file(FsPath(n.ws.piece(3)), 50);
}
void Untouched(const std::wstring& path, const std::string& bytes) {
  EXPECT_EQ(bytes, ReadFileBytes(path));
}

#ifndef _WIN32
// Makes `path` another user's, in a folder that everyone may write to (as
// /tmp), when this test runs as root; the row is skipped otherwise.
void GiveToAnotherUser(Neighbourhood& n, const std::wstring& path) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to make a file another user's";
  ASSERT_EQ(0, chmod(WideToUtf8(n.ws.dir().path()).c_str(), 01777));
  ASSERT_EQ(0, lchown(WideToUtf8(path).c_str(), 65534, 65534));
}

void Link(Neighbourhood& n, const wchar_t* target, const wchar_t* name) {
  ASSERT_EQ(0, symlink(WideToUtf8(n.Path(target)).c_str(), WideToUtf8(n.Path(name)).c_str()));
}
#endif

const NeighbourCase kCases[] = {
    {"SecondSplitWhileTheFirstRuns",
     [](Neighbourhood& n) {
       // As a running split holds them: the source shared for reading, its
       // new manifest for writing.
       Platform& p = DefaultPlatform();
       n.held = p.CreateFile(n.ws.source().c_str(), kAccessRead, kShareRead,
                             Disposition::kOpenExisting, Attribute::kReadOnly);
       n.held_too = p.CreateFile(n.ws.manifest().c_str(), kAccessRead | kAccessWrite,
                                 kShareRead, Disposition::kCreateNew, Attribute::kNormal);
     },
     RC_FILE_OPEN, [](Neighbourhood& n) { EXPECT_EQ(0u, FileSizeOf(n.ws.manifest())); }},
    // Readers are welcome; one still there at the end keeps the source, and
    // the set is complete beside it.
    {"ReaderHoldsTheSource",
     [](Neighbourhood& n) {
       n.held = DefaultPlatform().CreateFile(n.ws.source().c_str(), kAccessRead,
                                             kShareRead | kShareWrite, Disposition::kOpenExisting,
                                             Attribute::kReadOnly);
     },
     RC_FILE_DELETE, [](Neighbourhood& n) { EXPECT_EQ(n.original, n.ws.JoinedPieces()); }},
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
     },
     RC_OK, nullptr},
    {"SplitKilledWhileCutting", KilledWhileCuttingPieceThree, RC_OK, nullptr},
    // The manifest vouches for a piece that is not there: it holds what no
    // file beside it does, so it is not cleared.
    {"StaleSetMissingARecordedPiece",
     [](Neighbourhood& n) {
       SplitAsIs(n);
       PutSourceBack(n);
       std::filesystem::remove(FsPath(n.ws.piece(3)));
     },
     RC_FILE_OPEN, [](Neighbourhood& n) { EXPECT_TRUE(FileExists(n.ws.manifest())); }},
    {"StaleSetCutSmallerThanThisCut",
     [](Neighbourhood& n) {
       ASSERT_EQ(RC_OK, SplitWith(nullptr, n.ws.source(), 0));  // eight pieces and more
       PutSourceBack(n);
     },
     RC_OK, [](Neighbourhood& n) { EXPECT_FALSE(FileExists(n.ws.piece(5))); }},
    {"EmptyManifestAlone",
     [](Neighbourhood& n) { WriteFileBytes(n.ws.manifest(), ""); }, RC_OK, nullptr},
    // What a split killed on Windows left: the records had not reached the
    // manifest, but the pieces prove themselves by their bytes.
    {"EmptyManifestBesideProvedPieces",
     [](Neighbourhood& n) {
       SplitAsIs(n);
       PutSourceBack(n);
       WriteFileBytes(n.ws.manifest(), "");
     },
     RC_OK, nullptr},
    // The user's own file after a set: never taken for stale output.
    {"UsersFileAfterAFinishedSet",
     [](Neighbourhood& n) {
       SplitAsIs(n);
       PutSourceBack(n);
       Theirs(n, n.ws.piece(4), "my notes");
     },
     RC_OK, nullptr},
    {"UsersFileAfterAKilledSet",
     [](Neighbourhood& n) {
       KilledWhileCuttingPieceThree(n);
       Theirs(n, n.ws.piece(4), "my notes");
     },
     RC_OK, nullptr},
    // A manifest planted with the source's fingerprint and records that no
    // piece beside it has: it vouches for nothing, and steers nothing.
    {"PlantedManifest",
     [](Neighbourhood& n) {
       std::string planted = "[SrcImageMD5]\r\nMD5_VALUE=" + WideToUtf8(FingerprintOf(n.original)) +
                             "\r\n[SplitImageMD5]\r\n";
       for (int piece = 0; piece < 5; ++piece) {
         planted += "MD5_VALUE" + std::to_string(piece) + "=x\r\n";
       }
       Theirs(n, n.ws.manifest(), planted);
       Theirs(n, n.ws.piece(5), "my own");
     },
     RC_FILE_OPEN, nullptr},
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
    // In a folder that others may write to, files that another user left at
    // the names are theirs, whatever they hold.
    {"StaleSetOfAnotherUser",
     [](Neighbourhood& n) {
       SplitAsIs(n);
       PutSourceBack(n);
       GiveToAnotherUser(n, n.ws.piece(0));
     },
     RC_FILE_OPEN, nullptr},
    {"EmptyManifestOfAnotherUser",
     [](Neighbourhood& n) {
       Theirs(n, n.ws.manifest(), "");
       GiveToAnotherUser(n, n.ws.manifest());
     },
     RC_FILE_OPEN, nullptr},
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
  if (::testing::Test::HasFatalFailure() || ::testing::Test::IsSkipped()) return;
  FaultPlatform watch(DefaultPlatform());
  watch.AfterEachCall([&n](std::uint64_t, const Call& call) {
    if (n.meanwhile) n.meanwhile(call);
  });
  EXPECT_EQ(c.expected, SplitWith(&watch, n.source, 1));
  for (FileHandle held : {n.held, n.held_too}) {
    if (held != nullptr) DefaultPlatform().CloseHandle(held);
  }
  for (const auto& [path, bytes] : n.theirs) {
    EXPECT_EQ(bytes, ReadFileBytes(path));
  }
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

// Another program acting at every moment of a split or a merge: after each
// of its platform calls in turn, one run a moment. The original stays
// rebuildable from what is on disk, whatever the moment, and nothing of the
// other program's is deleted or written.
constexpr std::uint64_t kSweepSize = kMiB + 100;  // two pieces

struct Move {
  const char* label;
  bool during_merge;
  // Acts as another program would; false when the system did not let it.
  std::function<bool(Neighbourhood&)> act;
  // Made before the operation's last deletion, the move must make it fail.
  bool must_fail;
  // The move changes the source in place: what must survive is then what
  // the other program made of it.
  bool changes_source = false;
  // The move destroys bytes that only the operation's own file held (the
  // rebuilt file cut short): what was lost is the other program's doing, but
  // a piece that was still there may go after it only if the rebuilt file
  // holds its bytes.
  bool destroys = false;
};
void PrintTo(const Move& m, std::ostream* os) { *os << m.label; }

// Renames a file of the other program's over `target`.
bool RenameOver(Neighbourhood& n, const std::wstring& target) {
  const std::wstring intruder = n.Path(L"intruder");
  WriteFileBytes(intruder, "the other program's bytes");
  std::error_code error;
  std::filesystem::rename(FsPath(intruder), FsPath(target), error);
  if (error) {
    std::filesystem::remove(FsPath(intruder));
    return false;
  }
  n.theirs[target] = "the other program's bytes";
  return true;
}

// Changes the source in place, as an editor or a download might.
bool ChangeSource(Neighbourhood& n, bool append) {
  if (!FileExists(n.ws.source())) return false;
  std::fstream file(FsPath(n.ws.source()), std::ios::in | std::ios::out | std::ios::binary);
  if (!file) return false;
  if (append) {
    file.seekp(0, std::ios::end);
    file.write("more", 4);
  } else {
    file.seekp(10);
    file.put('!');
  }
  file.close();
  if (!file) return false;
  n.theirs[n.ws.source()] = ReadFileBytes(n.ws.source());
  return true;
}

// Cuts a file that the operation wrote, as a careless program might.
bool Truncate(const std::wstring& path) {
  if (!FileExists(path) || FileSizeOf(path) == 0) return false;
  std::error_code error;
  std::filesystem::resize_file(FsPath(path), FileSizeOf(path) > 1000 ? 1000 : 0, error);
  return !error;
}

// Puts a file, or a link to one of the other program's, where nothing is.
bool Plant(Neighbourhood& n, bool link) {
  std::error_code error;
  if (std::filesystem::symlink_status(FsPath(n.ws.source()), error).type() !=
      std::filesystem::file_type::not_found) {
    return false;
  }
  if (!link) {
    Theirs(n, n.ws.source(), "planted");
    return true;
  }
  Theirs(n, n.Path(L"victim"), "victim");
  std::filesystem::create_symlink(FsPath(n.Path(L"victim")), FsPath(n.ws.source()), error);
  return !error;
}

const Move kMoves[] = {
    {"RenameAFileOverTheSource", false, [](Neighbourhood& n) { return RenameOver(n, n.ws.source()); },
     true},
    {"RenameAFileOverTheManifest", false,
     [](Neighbourhood& n) { return RenameOver(n, n.ws.manifest()); }, true},
    {"AppendToTheSource", false, [](Neighbourhood& n) { return ChangeSource(n, true); }, true,
     true},
    {"OverwriteTheSourceInPlace", false, [](Neighbourhood& n) { return ChangeSource(n, false); },
     true, true},
    {"OpenAReaderOnTheSource", false,
     [](Neighbourhood& n) {
       n.held = DefaultPlatform().CreateFile(n.ws.source().c_str(), kAccessRead,
                                             kShareRead | kShareWrite, Disposition::kOpenExisting,
                                             Attribute::kReadOnly);
       if (n.held != InvalidHandle()) return true;
       n.held = nullptr;
       return false;
     },
     true},
    {"TruncateAPieceOnceCut", false, [](Neighbourhood& n) { return Truncate(n.ws.piece(0)); },
     true},
    {"PlantAFileAtTheMergesPath", true, [](Neighbourhood& n) { return Plant(n, false); }, true},
    {"TruncateTheRebuiltFile", true, [](Neighbourhood& n) { return Truncate(n.ws.source()); },
     true, false, true},
#ifndef _WIN32
    {"PlantALinkAtTheMergesPath", true, [](Neighbourhood& n) { return Plant(n, true); }, true},
#endif
};

class Moments : public ::testing::TestWithParam<Move> {};

TEST_P(Moments, NoByteIsLostAndNothingOfTheirsIsTouched) {
  const Move& move = GetParam();
  const auto prepare = [&](Neighbourhood& n) {
    n.original = n.ws.MakeSource(kSweepSize, 3);
    if (move.during_merge) {
      ASSERT_EQ(RC_OK, SplitWith(nullptr, n.ws.source(), 1));
    }
  };
  const auto run = [&](Neighbourhood& n, Platform* platform) {
    return move.during_merge ? MergeWith(platform, n.ws.source())
                             : SplitWith(platform, n.ws.source(), 1);
  };
  std::vector<Call> clean;
  {
    Neighbourhood n;
    prepare(n);
    FaultPlatform recorder(DefaultPlatform());
    ASSERT_EQ(RC_OK, run(n, &recorder));
    clean = WithoutFolder(recorder.calls(), n.ws.dir().path());
  }
  // A split's moments start once it holds and has measured its source:
  // before that, what is at its name is simply the file that it splits. They
  // end with the
  // last deletion (the split's source, the merge's manifest): a move after
  // it comes after the operation's work is done.
  const std::uint64_t first =
      move.during_merge ? 1 : CallNumber(clean, Op::kGetFileInformation, InFolder(L"disk.img"));
  std::uint64_t last = 0;
  for (std::size_t i = 0; i < clean.size(); ++i) {
    if (clean[i].op == Op::kDeleteAndClose) last = i + 1;
  }
  for (std::uint64_t moment = first; moment < last; ++moment) {
    SCOPED_TRACE(::testing::Message() << "moment " << moment << " of " << clean.size());
    Neighbourhood n;
    prepare(n);
    bool acted = false;
    std::vector<bool> pieces_then;
    FaultPlatform watch(DefaultPlatform());
    watch.AfterEachCall([&](std::uint64_t number, const Call&) {
      if (number != moment) return;
      acted = move.act(n);
      for (int piece = 0; piece < 2; ++piece) pieces_then.push_back(FileExists(n.ws.piece(piece)));
    });
    const ResultCode result = run(n, &watch);
    if (n.held != nullptr) DefaultPlatform().CloseHandle(n.held);
    for (const auto& [path, bytes] : n.theirs) EXPECT_EQ(bytes, ReadFileBytes(path));
    if (!acted) continue;
    if (move.must_fail) {
      EXPECT_NE(RC_OK, result);
    }
    if (move.destroys) {
      const std::string rebuilt = FileExists(n.ws.source()) ? ReadFileBytes(n.ws.source()) : "";
      for (int piece = 0; piece < 2; ++piece) {
        if (!pieces_then[piece] || FileExists(n.ws.piece(piece))) continue;
        const std::size_t place = piece * kMiB;
        EXPECT_EQ(n.original.substr(place, kMiB), rebuilt.substr(place, kMiB)) << piece;
      }
      continue;
    }
    const std::string& survivor = move.changes_source ? n.theirs[n.ws.source()] : n.original;
    EXPECT_TRUE(HoldsR(n.ws.source(), n.ws.base(), survivor));
  }
}

INSTANTIATE_TEST_SUITE_P(Sweep, Moments, ::testing::ValuesIn(kMoves),
                         [](const ::testing::TestParamInfo<Move>& info) {
                           return std::string(info.param.label);
                         });

}  // namespace
}  // namespace tarvelin::testing
