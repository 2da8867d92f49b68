// SPDX-License-Identifier: MIT
// The split as a user sees it: which pieces a source gives, what the manifest
// holds, and which names keep the source intact.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/operations.h"
#include "tarvelin/tarvelin.h"
#include "tests/library/library_test_util.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint64_t kChunk = 524288;

// The manifest's exact bytes, as the Windows profile functions lay them out.
std::string ExpectedManifest(const std::string& source, const std::vector<std::string>& pieces) {
  auto narrow = [](const std::wstring& text) { return std::string(text.begin(), text.end()); };
  std::string out = "[SrcImageMD5]\r\nMD5_VALUE=" + narrow(FingerprintOf(source)) + "\r\n";
  out += "[SplitImageMD5]\r\n";
  for (std::size_t n = 0; n < pieces.size(); ++n) {
    out += "MD5_VALUE" + std::to_string(n) + "=" + narrow(FingerprintOf(pieces[n])) + "\r\n";
  }
  return out;
}

struct CutCase {
  const char* name;
  std::uint64_t size;
  std::int32_t mib;
  std::vector<std::uint64_t> pieces;
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class SplitCuts : public ::testing::TestWithParam<CutCase> {};

TEST_P(SplitCuts, GivesThePiecesAndTheManifest) {
  const CutCase& c = GetParam();
  Workspace ws;
  const std::string original = ws.MakeSource(c.size);

  ASSERT_EQ(RC_OK, SplitWith(nullptr, ws.source(), c.mib));

  EXPECT_FALSE(FileExists(ws.source()));
  EXPECT_EQ(c.pieces, ws.PieceSizes());
  EXPECT_EQ(original, ws.JoinedPieces());
  std::vector<std::string> pieces;
  for (std::size_t n = 0; n < c.pieces.size(); ++n) pieces.push_back(ReadFileBytes(ws.piece(n)));
  EXPECT_EQ(ExpectedManifest(original, pieces), ReadFileBytes(ws.manifest()));
}

const std::uint64_t M = kMiB;
INSTANTIATE_TEST_SUITE_P(
    Table, SplitCuts,
    ::testing::Values(
        CutCase{"TwoMiBInOneMiB", 2 * M, 1, {M, M}},
        CutCase{"TwoMiBAndAByte", 2 * M + 1, 1, {M, M, 1}},
        CutCase{"SmallerThanAPiece", 100000, 1, {100000}},
        CutCase{"ExactlyOnePiece", M, 1, {M}},
        CutCase{"Empty", 0, 1, {0}},
        CutCase{"EmptyWithZeroSize", 0, 0, {0}},
        CutCase{"ZeroSizeMeansOneChunkEach", M, 0, {0, kChunk, kChunk}},
        CutCase{"ZeroSizeAndAByte", kChunk + 1, 0, {0, kChunk, 1}},
        CutCase{"NegativeSizeIsOnePiece", 3 * M + 7, -1, {3 * M + 7}},
        CutCase{"MostNegativeSize", M, INT32_MIN, {M}},
        CutCase{"TwoMiBPieces", 5 * M + 3, 2, {2 * M, 2 * M, M + 3}},
        CutCase{"MoreThanTenPieces", 11 * M + 5, 1,
                {M, M, M, M, M, M, M, M, M, M, M, 5}}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

struct NameCase {
  const char* label;
  std::wstring folder;  // created inside the scratch folder when not empty
  std::wstring file;
  std::wstring base;    // expected base name inside that folder
};
void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class SplitNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(SplitNames, DeriveEveryNameFromTheBasePath) {
  const NameCase& c = GetParam();
  TempDir dir;
  std::wstring folder = dir.path();
  if (!c.folder.empty()) {
    folder = dir.Path(c.folder);
    std::filesystem::create_directory(FsPath(folder));
  }
#if defined(_WIN32)
  const std::wstring sep = L"\\";
#else
  const std::wstring sep = L"/";
#endif
  const std::wstring source = folder + sep + c.file;
  const std::wstring base = folder + sep + c.base;
  const std::string original = PatternBytes(M + 10, 7);
  WriteFileBytes(source, original);

  ASSERT_EQ(RC_OK, SplitWith(nullptr, source, 1));
  EXPECT_FALSE(FileExists(source));
  EXPECT_TRUE(FileExists(base + L".DAT"));
  EXPECT_EQ(original, ReadFileBytes(base + L".0") + ReadFileBytes(base + L".1"));

  ASSERT_EQ(RC_OK, MergeWith(nullptr, source));
  EXPECT_EQ(original, ReadFileBytes(source));
  EXPECT_FALSE(FileExists(base + L".DAT"));
  EXPECT_FALSE(FileExists(base + L".0"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitNames,
    ::testing::Values(NameCase{"Plain", L"", L"disk.wim", L"disk"},
                      NameCase{"SeveralDots", L"", L"backup.2020.wim", L"backup.2020"},
                      NameCase{"NoDot", L"", L"disk", L"disk"},
                      NameCase{"DotInFolder", L"images.v2", L"disk", L"disk"},
                      NameCase{"Percent", L"", L"100%d %s.wim", L"100%d %s"},
                      NameCase{"SpaceAfterDotIsNoExtension", L"", L"disk.w im", L"disk.w im"},
                      NameCase{"OutsideAscii", L"\u00e9t\u00e9", L"\u0434\u0438\u0441\u043a-\u00df-\u65e5\u672c.wim",
                               L"\u0434\u0438\u0441\u043a-\u00df-\u65e5\u672c"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

// Names that would collide with the split's own files: the sharing of the
// source's handle refuses them, so the source survives.
struct CollisionCase {
  const char* label;
  std::wstring file;
  std::uint64_t size;
  ResultCode expected;
};
void PrintTo(const CollisionCase& c, std::ostream* os) { *os << c.label; }

class SplitCollisions : public ::testing::TestWithParam<CollisionCase> {};

TEST_P(SplitCollisions, KeepTheSourceIntact) {
  const CollisionCase& c = GetParam();
  Workspace ws(c.file);
  const std::string original = ws.MakeSource(c.size);
  EXPECT_EQ(c.expected, SplitWith(nullptr, ws.source(), 1));
  EXPECT_EQ(original, ReadFileBytes(ws.source()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitCollisions,
    ::testing::Values(CollisionCase{"NamedLikePieceZero", L"disk.0", 3 * M, RC_FILE_OPEN},
                      CollisionCase{"NamedLikePieceOne", L"disk.1", 3 * M, RC_FILE_OPEN},
                      CollisionCase{"NamedLikePieceTwo", L"disk.2", 3 * M, RC_FILE_OPEN},
                      CollisionCase{"NamedLikeTheManifest", L"disk.DAT", M, RC_FILE_OPEN}),
    [](const ::testing::TestParamInfo<CollisionCase>& info) {
      return std::string(info.param.label);
    });

// The source stands at a name that the split would create: it is refused
// before anything is created.
TEST(Split, SourceNamedLikePieceZeroIsRefusedBeforeAnythingIsCreated) {
  Workspace ws(L"disk.0");
  const std::string original = ws.MakeSource(M);
  ASSERT_EQ(RC_FILE_OPEN, SplitWith(nullptr, ws.source(), 1));
  EXPECT_FALSE(FileExists(ws.manifest()));
  EXPECT_EQ(original, ReadFileBytes(ws.source()));
}

TEST(Split, MissingOrEmptyOrNullPathCreatesNothing) {
  TempDir dir;
  EXPECT_EQ(RC_SOURCE_NOT_FOUND, SplitWith(nullptr, dir.Path(L"absent.wim"), 1));
  EXPECT_EQ(RC_SOURCE_NOT_FOUND, SplitWith(nullptr, L"", 1));
  EXPECT_EQ(RC_INVALID_PATH, SplitBigWIM(nullptr, 1));
  EXPECT_TRUE(std::filesystem::is_empty(FsPath(dir.path())));
}

TEST(Split, DirectoryIsRefusedAndNothingIsCreated) {
  TempDir dir;
  const std::wstring folder = dir.Path(L"folder.wim");
  std::filesystem::create_directory(FsPath(folder));
  EXPECT_EQ(RC_FILE_OPEN, SplitWith(nullptr, folder, 1));
  EXPECT_FALSE(FileExists(dir.Path(L"folder.DAT")));
  EXPECT_FALSE(FileExists(dir.Path(L"folder.0")));
}

TEST(Split, SourceHeldOpenForWritingIsRefused) {
  Workspace ws;
  const std::string original = ws.MakeSource(M);
  Platform& platform = DefaultPlatform();
  FileHandle writer = platform.CreateFile(ws.source().c_str(), kAccessRead | kAccessWrite,
                                          kShareRead | kShareWrite, Disposition::kOpenExisting,
                                          Attribute::kNormal);
  ASSERT_NE(InvalidHandle(), writer);
  EXPECT_EQ(RC_FILE_OPEN, SplitWith(nullptr, ws.source(), 1));
  platform.CloseHandle(writer);
  EXPECT_FALSE(FileExists(ws.manifest()));
  EXPECT_EQ(original, ReadFileBytes(ws.source()));
}

TEST(Split, ReadOnlySourceIsSplitAndDeleted) {
  Workspace ws;
  const std::string original = ws.MakeSource(M + 1);
  SetReadOnly(ws.source(), true);
  ASSERT_EQ(RC_OK, SplitWith(nullptr, ws.source(), 1));
  EXPECT_FALSE(FileExists(ws.source()));
  EXPECT_EQ(original, ws.JoinedPieces());
}

// A manifest that does not record this source is another split's: the split
// refuses and leaves it, and every piece, as they are.
TEST(Split, ForeignManifestIsRefusedAndLeftUntouched) {
  Workspace ws;
  const std::string manifest = "[SplitImageMD5]\r\nMD5_VALUE7=OLD\r\n";
  WriteFileBytes(ws.manifest(), manifest);
  WriteFileBytes(ws.piece(7), "stale piece");
  const std::string original = ws.MakeSource(2 * M);
  ASSERT_EQ(RC_FILE_OPEN, SplitWith(nullptr, ws.source(), 1));
  EXPECT_EQ(manifest, ReadFileBytes(ws.manifest()));
  EXPECT_EQ("stale piece", ReadFileBytes(ws.piece(7)));
  EXPECT_EQ(original, ReadFileBytes(ws.source()));
}

// Names that do not fit their 260-character buffers are refused before
// anything on disk changes.
TEST(Split, NamesThatDoNotFitAreRefusedUpFront) {
  TempDir dir;
  const std::size_t prefix = dir.path().size() + 1;
  ASSERT_LT(prefix, 200u);
  // A path of 260 characters or more: refused before it is even looked up.
  const std::wstring too_long = dir.Path(std::wstring(260 - prefix, L'a'));
  ASSERT_EQ(260u, too_long.size());
  EXPECT_EQ(RC_INVALID_PATH, SplitWith(nullptr, too_long, 1));

  // A 259-character path whose base path (256 characters) leaves no room for
  // ".DAT": the source exists and stays, and nothing is created.
  const std::wstring name = std::wstring(256 - prefix, L'b') + L".ab";
  const std::wstring source = dir.Path(name);
  ASSERT_EQ(259u, source.size());
  WriteFileBytes(source, "data");
  EXPECT_EQ(RC_INVALID_PATH, SplitWith(nullptr, source, 1));
  EXPECT_EQ("data", ReadFileBytes(source));
  std::size_t entries = 0;
  for (auto& entry : std::filesystem::directory_iterator(FsPath(dir.path()))) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(1u, entries);
}

// A source above 4 GiB: sizes, totals and the fingerprint count past 32 bits.
TEST(SplitSlow, SparseSourceAboveFourGiBRoundTrips) {
  Workspace ws(L"big.img");
  const std::uint64_t size = 4 * 1024 * M + 3 * M + 5;
  MakeSparseFile(ws.source(), size);
  ASSERT_EQ(RC_OK, SplitWith(nullptr, ws.source(), 4095));
  const std::vector<std::uint64_t> expected = {4095 * M, size - 4095 * M};
  EXPECT_EQ(expected, ws.PieceSizes());
  ASSERT_EQ(RC_OK, MergeWith(nullptr, ws.source()));
  EXPECT_EQ(size, FileSizeOf(ws.source()));
  EXPECT_FALSE(FileExists(ws.piece(0)));
  EXPECT_FALSE(FileExists(ws.manifest()));
}

}  // namespace
}  // namespace tarvelin::testing
