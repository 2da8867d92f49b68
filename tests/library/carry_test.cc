// SPDX-License-Identifier: MIT
// Carrying a file to another folder (a stick) and back through the public
// functions: pieces written to a folder of their own and read back from
// there, the source or the pieces kept, the read-back's account, the
// verified stream, and the limits of a FAT file system refused before
// anything is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "library/operations.h"
#include "platform/platform_wrapper.h"
#include "tarvelin/tarvelin.h"
#include "tests/library/library_test_util.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint64_t kChunk = 524288;

std::string Utf8(const std::wstring& path) { return FsPath(path).u8string(); }

std::set<std::string> Names(const std::wstring& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(folder))) {
    names.insert(entry.path().filename().u8string());
  }
  return names;
}

// A source beside an empty folder that stands for the stick.
struct Carry {
  Workspace ws{L"disk.img"};
  std::wstring stick = ws.dir().Path(L"stick");
  std::string original = ws.MakeSource(3 * kChunk + 17, 9);
  std::string path = Utf8(ws.source());
  std::string folder = Utf8(stick);
  tarvelin_options options{};
  tarvelin_outcome outcome{};
  std::string streamed;
  std::uint32_t refuse_after = 0;  // the stream's writes taken before a refusal; 0: none

  Carry() {
    std::filesystem::create_directory(FsPath(stick));
    options.size = sizeof options;
    options.piece_size = kChunk;
    options.piece_folder = folder.c_str();
    options.output = &Carry::Take;
    options.user_data = this;
    outcome.size = sizeof outcome;
  }
  std::wstring OnStick(const std::wstring& name) const { return stick + L"/" + name; }
  ResultCode Split(std::uint32_t flags) {
    options.flags = flags;
    return tarvelin_split(path.c_str(), &options, &outcome);
  }
  ResultCode Merge(std::uint32_t flags) {
    options.flags = flags;
    return tarvelin_merge(path.c_str(), &options, &outcome);
  }
  ResultCode Cat() {
    streamed.clear();
    return tarvelin_cat(path.c_str(), &options, &outcome);
  }
  static int TARVELIN_CALLBACK Take(const void* bytes, std::size_t size, void* self) {
    Carry& c = *static_cast<Carry*>(self);
    if (c.refuse_after != 0 && --c.refuse_after == 0) return 232;  // ERROR_NO_DATA
    c.streamed.append(static_cast<const char*>(bytes), size);
    return 0;
  }
};

const std::set<std::string> kWholeSet = {"disk.0", "disk.1", "disk.2", "disk.3", "disk.DAT"};

TEST(Carry, ToAFolderAndBackEachWayOfKeeping) {
  struct Row {
    const char* label;
    std::uint32_t split_flags, merge_flags;
    bool source_kept, read_back, pieces_kept;
  } rows[] = {
      {"defaults", 0, 0, false, true, false},
      {"keep the source", TARVELIN_KEEP_SOURCE, 0, true, true, false},
      {"no read-back", TARVELIN_NO_READ_BACK, 0, false, false, false},
      {"keep the pieces", 0, TARVELIN_KEEP_PIECES, false, true, true},
      {"keep both", TARVELIN_KEEP_SOURCE, TARVELIN_KEEP_PIECES, true, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Carry c;
    ASSERT_EQ(RC_OK, c.Split(row.split_flags));
    EXPECT_EQ(4, c.outcome.pieces);
    EXPECT_EQ(row.read_back ? 1 : 0, c.outcome.read_back);
    EXPECT_EQ(TARVELIN_FS_OTHER, c.outcome.file_system);
    EXPECT_EQ(kWholeSet, Names(c.stick));
    EXPECT_EQ(row.source_kept, std::filesystem::exists(FsPath(c.ws.source())));
    if (row.source_kept) {
      EXPECT_TRUE(c.original == ReadFileBytes(c.ws.source()));
      std::filesystem::remove(FsPath(c.ws.source()));
    }
    ASSERT_EQ(RC_OK, c.Merge(row.merge_flags));
    EXPECT_TRUE(c.original == ReadFileBytes(c.ws.source()));
    EXPECT_EQ(row.pieces_kept ? kWholeSet : std::set<std::string>(), Names(c.stick));
    // Again, with the whole at the path: kept pieces stay kept.
    ASSERT_EQ(RC_OK, c.Merge(row.merge_flags));
    EXPECT_EQ(row.pieces_kept ? kWholeSet : std::set<std::string>(), Names(c.stick));
    EXPECT_TRUE(c.original == ReadFileBytes(c.ws.source()));
  }
}

TEST(Carry, MergeFromAFolderGoesOnAfterAStop) {
  Carry c;
  ASSERT_EQ(RC_OK, c.Split(0));
  // A merge that stopped after two pieces: the file at the path holds them.
  std::filesystem::remove(FsPath(c.OnStick(L"disk.0")));
  std::filesystem::remove(FsPath(c.OnStick(L"disk.1")));
  WriteFileBytes(c.ws.source(), c.original.substr(0, 2 * kChunk + 5));
  ASSERT_EQ(RC_OK, c.Merge(0));
  EXPECT_EQ(2, c.outcome.resumed_from);
  EXPECT_TRUE(c.original == ReadFileBytes(c.ws.source()));
  EXPECT_TRUE(Names(c.stick).empty());
}

TEST(Carry, StreamProvesEachPieceAndDeletesNothing) {
  struct Row {
    const char* label;
    void (*change)(Carry&);
    ResultCode code;
    int step, role, piece;
    std::uint64_t streamed;  // bytes handed out before the stop
  } rows[] = {
      {"whole", [](Carry&) {}, RC_OK, TARVELIN_STEP_NONE, TARVELIN_ROLE_NONE, -1,
       3 * kChunk + 17},
      {"a piece changed",
       [](Carry& c) {
         std::string bytes = ReadFileBytes(c.OnStick(L"disk.1"));
         bytes[100] ^= 1;
         WriteFileBytes(c.OnStick(L"disk.1"), bytes);
       },
       RC_DIGEST_MISMATCH, TARVELIN_STEP_MISMATCH, TARVELIN_ROLE_PIECE, 1, 2 * kChunk},
      {"a piece missing",
       [](Carry& c) { std::filesystem::remove(FsPath(c.OnStick(L"disk.2"))); }, RC_FILE_OPEN,
       TARVELIN_STEP_NOT_FOUND, TARVELIN_ROLE_PIECE, 2, 0},
      {"the output refuses", [](Carry& c) { c.refuse_after = 2; }, RC_FILE_WRITE,
       TARVELIN_STEP_WRITE, TARVELIN_ROLE_OUTPUT, -1, kChunk},
      {"no output", [](Carry& c) { c.options.output = nullptr; }, RC_INVALID_ARGUMENT,
       TARVELIN_STEP_BAD_OPTIONS, TARVELIN_ROLE_NONE, -1, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Carry c;
    ASSERT_EQ(RC_OK, c.Split(TARVELIN_KEEP_SOURCE));
    row.change(c);
    const std::set<std::string> before = Names(c.stick);
    EXPECT_EQ(row.code, c.Cat());
    EXPECT_EQ(row.step, c.outcome.step);
    EXPECT_EQ(row.role, c.outcome.role);
    EXPECT_EQ(row.piece, c.outcome.piece);
    EXPECT_EQ(row.streamed, c.streamed.size());
    // The bytes before the piece that failed are the original's.
    const std::size_t good = std::min<std::size_t>(c.streamed.size(), kChunk);
    EXPECT_TRUE(c.original.compare(0, good, c.streamed, 0, good) == 0);
    if (row.role == TARVELIN_ROLE_OUTPUT) {
      EXPECT_EQ(232u, c.outcome.system_error);
    }
    EXPECT_EQ(before, Names(c.stick));
  }
}

// However the path spells it, a file of the set in the folder is not the
// file to rebuild: nothing is written into the set, even when asked to keep
// it. A link to the folder is the folder.
TEST(Carry, ASetFileAtThePathIsRefusedHoweverSpelled) {
  struct Row {
    const char* label;
    std::string (*path)(const Carry&);
    std::int32_t piece;
  } rows[] = {
      {"./ before a piece", [](const Carry& c) { return c.folder + "/./disk.0"; }, 0},
      {"two slashes", [](const Carry& c) { return c.folder + "//disk.2"; }, 2},
      {"the manifest", [](const Carry& c) { return c.folder + "/./disk.DAT"; }, -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Carry c;
    ASSERT_EQ(RC_OK, c.Split(TARVELIN_KEEP_SOURCE));
    const std::string given = row.path(c);
    const std::string piece_bytes = ReadFileBytes(c.OnStick(L"disk.0"));
    for (int fn = 0; fn < 3; ++fn) {
      c.options.flags = TARVELIN_KEEP_PIECES;
      const ResultCode code = fn == 0   ? tarvelin_merge(given.c_str(), &c.options, &c.outcome)
                              : fn == 1 ? tarvelin_verify(given.c_str(), &c.options, &c.outcome)
                                        : tarvelin_cat(given.c_str(), &c.options, &c.outcome);
      EXPECT_EQ(RC_INVALID_ARGUMENT, code) << fn;
      EXPECT_EQ(TARVELIN_STEP_PART_OF_A_SPLIT, c.outcome.step) << fn;
      EXPECT_EQ(row.piece, c.outcome.piece) << fn;
    }
    EXPECT_EQ(kWholeSet, Names(c.stick));
    EXPECT_TRUE(piece_bytes == ReadFileBytes(c.OnStick(L"disk.0")));
  }
#if !defined(_WIN32)
  Carry c;
  const std::string link = Utf8(c.ws.dir().Path(L"link"));
  std::filesystem::create_directory_symlink(FsPath(c.stick), link);
  c.options.piece_folder = link.c_str();
  ASSERT_EQ(RC_OK, c.Split(0));
  EXPECT_EQ(kWholeSet, Names(c.stick));
  ASSERT_EQ(RC_OK, c.Merge(0));
  EXPECT_TRUE(c.original == ReadFileBytes(c.ws.source()));
#endif
}

// A file system that says it is FAT.
class FatPlatform : public PlatformWrapper {
 public:
  using PlatformWrapper::PlatformWrapper;
  bool GetVolumeInformation(const wchar_t*, FileSystemInformation* info) override {
    info->name = L"FAT32";
    info->family = FileSystemFamily::kFat;
    return true;
  }
};

TEST(Carry, FatLimitsAreRefusedBeforeAnythingIsWritten) {
  struct Row {
    const char* label;
    const wchar_t* name;
    std::uint64_t size, piece_limit;
    ResultCode code;
    FailedStep step;
  } rows[] = {
      {"pieces past 4 GiB - 1", L"disk.img", (4ull << 30) + kChunk, 4ull << 30,
       RC_INVALID_ARGUMENT, FailedStep::kTooLargeForMedium},
#if !defined(_WIN32)  // names that Windows itself refuses everywhere
      {"a colon in the name", L"disk:1.img", 3 * kChunk, kChunk, RC_INVALID_PATH,
       FailedStep::kNameNotAllowed},
      {"a question mark", L"disk?.img", 3 * kChunk, kChunk, RC_INVALID_PATH,
       FailedStep::kNameNotAllowed},
#endif
      {"the largest that fits", L"disk.img", 3 * kChunk, 4095ull << 20, RC_OK, FailedStep::kNone},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Workspace ws(row.name);
    MakeSparseFile(ws.source(), row.size);
    FatPlatform fat(&DefaultPlatform());
    FailureReport failure;
    OperationFacts facts;
    OperationOptions options;
    options.platform = &fat;
    options.failure = &failure;
    options.facts = &facts;
    options.flags = kKeepSource;
    EXPECT_EQ(row.code, tarvelin::Split(ws.source().c_str(), row.piece_limit, options));
    EXPECT_EQ(row.step, failure.step);
    EXPECT_EQ(OperationFacts::FileSystem::kFat, facts.file_system);
    if (row.code != RC_OK) {
      EXPECT_EQ(std::set<std::string>{Utf8(FsPath(ws.source()).filename().wstring())},
                Names(ws.dir().path()));
    }
  }
}

}  // namespace
}  // namespace tarvelin::testing
