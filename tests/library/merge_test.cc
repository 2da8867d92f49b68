// SPDX-License-Identifier: MIT
// The merge as a user meets it: round trips, and what it does with pieces and
// manifests that are damaged, missing, stale or hostile.
#include <gtest/gtest.h>

#include <cwctype>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "library/operations.h"
#include "platform/utf8.h"
#include "tarvelin/tarvelin.h"
#include "tests/library/library_test_util.h"

namespace tarvelin::testing {
namespace {

const std::uint64_t M = kMiB;

struct TripCase {
  const char* label;
  std::uint64_t size;
  std::int32_t mib;
  std::size_t pieces;
};
// Named in test output by its label, not by a dump of its bytes (padding
// included, which is never written).
void PrintTo(const TripCase& c, std::ostream* os) { *os << c.label; }

class RoundTrip : public ::testing::TestWithParam<TripCase> {};

TEST_P(RoundTrip, RestoresTheFileAndLeavesNothingElse) {
  const TripCase& c = GetParam();
  Workspace ws;
  const std::string original = ws.MakeSource(c.size, 3);
  ASSERT_EQ(RC_OK, SplitBigWIM(ws.source().c_str(), c.mib));
  ASSERT_EQ(c.pieces, ws.PieceSizes().size());
  ASSERT_EQ(RC_OK, MergeIntoWIM(ws.source().c_str()));
  EXPECT_EQ(original, ReadFileBytes(ws.source()));
  EXPECT_TRUE(ws.PieceSizes().empty());
  EXPECT_FALSE(FileExists(ws.manifest()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RoundTrip,
    ::testing::Values(TripCase{"Empty", 0, 1, 1}, TripCase{"OneByte", 1, 1, 1},
                      TripCase{"ExactlyOneChunk", 524288, -1, 1},
                      TripCase{"OneChunkAndAByte", 524289, -1, 1},
                      TripCase{"TwoMiBAndAByte", 2 * M + 1, 1, 3},
                      TripCase{"EmptyFirstPiece", M + 5, 0, 4},
                      TripCase{"MoreThanTenPieces", 12 * M + 1, 1, 13},
                      TripCase{"LargerPieces", 7 * M, 3, 3}),
    [](const ::testing::TestParamInfo<TripCase>& info) { return std::string(info.param.label); });

class Merge : public ::testing::Test {
 protected:
  // Splits a 4-piece source (1 MiB pieces) and keeps its bytes.
  void SetUp() override {
    original_ = ws_.MakeSource(3 * M + 17, 5);
    ASSERT_EQ(RC_OK, SplitBigWIM(ws_.source().c_str(), 1));
    for (int n = 0; n < 4; ++n) pieces_.push_back(ReadFileBytes(ws_.piece(n)));
  }
  std::string PiecesFrom(int n) const {
    std::string joined;
    for (int i = n; i < 4; ++i) joined += pieces_[i];
    return joined;
  }
  std::string PiecesBefore(int n) const { return original_.substr(0, n * M); }
  void WriteManifest(const std::string& bytes) { WriteFileBytes(ws_.manifest(), bytes); }
  std::string ManifestText(bool lf = false) const {
    std::string text = ReadFileBytes(ws_.manifest());
    if (!lf) return text;
    std::string out;
    for (char ch : text) if (ch != '\r') out += ch;
    return out;
  }

  Workspace ws_;
  std::string original_;
  std::vector<std::string> pieces_;
};

TEST_F(Merge, UnderAnotherExtensionWithTheSameBasePath) {
  const std::wstring other = ws_.base() + L".img";
  ASSERT_EQ(RC_OK, MergeIntoWIM(other.c_str()));
  EXPECT_EQ(original_, ReadFileBytes(other));
  EXPECT_FALSE(FileExists(ws_.manifest()));
}

TEST_F(Merge, NoManifestCreatesNothing) {
  std::filesystem::remove(FsPath(ws_.manifest()));
  EXPECT_EQ(RC_MANIFEST_NOT_FOUND, MergeIntoWIM(ws_.source().c_str()));
  EXPECT_FALSE(FileExists(ws_.source()));
  EXPECT_EQ(4u, ws_.PieceSizes().size());
}

TEST_F(Merge, ExistingFileWithoutManifestIsLeftAlone) {
  std::filesystem::remove(FsPath(ws_.manifest()));
  WriteFileBytes(ws_.source(), "already here");
  EXPECT_EQ(RC_OK, MergeIntoWIM(ws_.source().c_str()));
  EXPECT_EQ("already here", ReadFileBytes(ws_.source()));
  EXPECT_EQ(4u, ws_.PieceSizes().size());
}

// A file at the path beside a manifest is proved against the record, piece
// by piece: a partial rebuild is finished, not taken for a success.
TEST_F(Merge, ExistingFileBesideManifestIsProvedNotTrusted) {
  WriteFileBytes(ws_.source(), original_.substr(0, M));
  EXPECT_EQ(RC_OK, MergeIntoWIM(ws_.source().c_str()));
  EXPECT_EQ(original_, ReadFileBytes(ws_.source()));
  EXPECT_TRUE(ws_.PieceSizes().empty());
  EXPECT_FALSE(FileExists(ws_.manifest()));
}

TEST_F(Merge, DamagedPieceStopsBeforeAnyOfItsBytes) {
  std::string damaged = pieces_[2];
  damaged[damaged.size() / 2] ^= 1;
  WriteFileBytes(ws_.piece(2), damaged);
  EXPECT_EQ(RC_DIGEST_MISMATCH, MergeIntoWIM(ws_.source().c_str()));
  EXPECT_EQ(PiecesBefore(2), ReadFileBytes(ws_.source()));
  EXPECT_FALSE(FileExists(ws_.piece(1)));
  EXPECT_EQ(damaged, ReadFileBytes(ws_.piece(2)));
  EXPECT_EQ(pieces_[3], ReadFileBytes(ws_.piece(3)));
  EXPECT_TRUE(FileExists(ws_.manifest()));
  // Called again, the partial file is not taken for a finished merge.
  EXPECT_EQ(RC_DIGEST_MISMATCH, MergeIntoWIM(ws_.source().c_str()));
  EXPECT_EQ(PiecesBefore(2), ReadFileBytes(ws_.source()));
}

TEST_F(Merge, GapInTheNumbersEndsTheLoop) {
  std::filesystem::remove(FsPath(ws_.piece(2)));
  EXPECT_EQ(RC_DIGEST_MISMATCH, MergeIntoWIM(ws_.source().c_str()));
  EXPECT_EQ(PiecesBefore(2), ReadFileBytes(ws_.source()));
  EXPECT_EQ(pieces_[3], ReadFileBytes(ws_.piece(3)));
  EXPECT_TRUE(FileExists(ws_.manifest()));
}

TEST_F(Merge, FewerPiecesThanRecordedMergesWhatThereIs) {
  std::filesystem::remove(FsPath(ws_.piece(3)));
  EXPECT_EQ(RC_DIGEST_MISMATCH, MergeIntoWIM(ws_.source().c_str()));
  EXPECT_EQ(PiecesBefore(3), ReadFileBytes(ws_.source()));
  EXPECT_TRUE(ws_.PieceSizes().empty());
  EXPECT_TRUE(FileExists(ws_.manifest()));
}

TEST_F(Merge, StalePieceBeyondTheRecordedOnesIsNeitherAppendedNorDeleted) {
  WriteFileBytes(ws_.piece(4), "left by a longer split");
  EXPECT_EQ(RC_OK, MergeIntoWIM(ws_.source().c_str()));
  EXPECT_EQ(original_, ReadFileBytes(ws_.source()));
  EXPECT_EQ("left by a longer split", ReadFileBytes(ws_.piece(4)));
}

TEST_F(Merge, RecordedTextsMustMatchExactly) {
  const std::wstring real = FingerprintOf(pieces_[0]);
  std::wstring lower = real;
  for (wchar_t& ch : lower) ch = static_cast<wchar_t>(towlower(ch));
  std::wstring almost = real;
  almost[46] = almost[46] == L'0' ? L'1' : L'0';
  for (const std::wstring& text : {lower, almost, real.substr(0, 44), real + L" 00"}) {
    ASSERT_TRUE(DefaultPlatform().WritePrivateProfileString(L"SplitImageMD5", L"MD5_VALUE0",
                                                            text.c_str(), ws_.manifest().c_str()));
    EXPECT_EQ(RC_DIGEST_MISMATCH, MergeIntoWIM(ws_.source().c_str()));
    EXPECT_EQ(4u, ws_.PieceSizes().size());
    EXPECT_EQ(0u, FileSizeOf(ws_.source()));
    std::filesystem::remove(FsPath(ws_.source()));
  }
}

TEST_F(Merge, NoSourceFingerprintMergesEveryPieceAndKeepsTheManifest) {
  std::string text = ManifestText();
  const std::size_t end = text.find("[SplitImageMD5]");
  WriteManifest(text.substr(end));
  EXPECT_EQ(RC_DIGEST_MISMATCH, MergeIntoWIM(ws_.source().c_str()));
  EXPECT_EQ(original_, ReadFileBytes(ws_.source()));
  EXPECT_TRUE(ws_.PieceSizes().empty());
  EXPECT_TRUE(FileExists(ws_.manifest()));
}

TEST_F(Merge, ManifestWithoutPieceZeroAppendsNothing) {
  std::string text = ManifestText();
  WriteManifest(text.substr(0, text.find("[SplitImageMD5]")));
  EXPECT_EQ(RC_DIGEST_MISMATCH, MergeIntoWIM(ws_.source().c_str()));
  EXPECT_EQ(0u, FileSizeOf(ws_.source()));
  EXPECT_EQ(4u, ws_.PieceSizes().size());
}

TEST_F(Merge, ReadOnlyPiecesAndManifestAreDeleted) {
  for (int n = 0; n < 4; ++n) SetReadOnly(ws_.piece(n), true);
  SetReadOnly(ws_.manifest(), true);
  EXPECT_EQ(RC_OK, MergeIntoWIM(ws_.source().c_str()));
  EXPECT_EQ(original_, ReadFileBytes(ws_.source()));
  EXPECT_TRUE(ws_.PieceSizes().empty());
  EXPECT_FALSE(FileExists(ws_.manifest()));
}

enum class Outcome { kMerges, kRefuses, kEither };

// `text` as UTF-16 after its byte-order mark, as a Windows editor saves it.
std::string Utf16(const std::string& text, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : text) out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  return out;
}

struct HostileCase {
  const char* label;
  std::string (*make)(const std::string& manifest);
  Outcome outcome;
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.label; }

class HostileManifest : public Merge, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileManifest, CostsNoPiece) {
  WriteManifest(GetParam().make(ManifestText()));
  const ResultCode result = MergeIntoWIM(ws_.source().c_str());
  const Outcome outcome = GetParam().outcome;
  if (outcome == Outcome::kMerges) {
    EXPECT_EQ(RC_OK, result);
  }
  if (outcome == Outcome::kRefuses) {
    EXPECT_NE(RC_OK, result);
    EXPECT_EQ(4u, ws_.PieceSizes().size());
  }
  // Whatever the verdict, the bytes are all still there.
  if (result == RC_OK) {
    EXPECT_EQ(original_, ReadFileBytes(ws_.source()));
  } else {
    int first = 0;  // the pieces joined are gone from the front
    while (first < 4 && !FileExists(ws_.piece(first))) ++first;
    EXPECT_EQ(original_, ReadFileBytes(ws_.source()).substr(0, first * M) + PiecesFrom(first));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileManifest,
    ::testing::Values(
        HostileCase{"RandomBytes", [](const std::string&) { return PatternBytes(5000, 9); },
                    Outcome::kRefuses},
        HostileCase{"MegabyteValue",
                    [](const std::string&) {
                      return "[SplitImageMD5]\r\nMD5_VALUE0=" + std::string(3 << 20, 'A') +
                             "\r\n";
                    },
                    Outcome::kRefuses},
        HostileCase{"NulBytes",
                    [](const std::string& m) { return std::string("\0\0[\0\r\n", 6) + m; },
                    Outcome::kEither},
        HostileCase{"LineFeedsOnly",
                    [](const std::string& m) {
                      std::string out;
                      for (char ch : m) if (ch != '\r') out += ch;
                      return out;
                    },
                    Outcome::kMerges},
        HostileCase{"ByteOrderMark", [](const std::string& m) { return "\xEF\xBB\xBF" + m; },
                    Outcome::kMerges},
        HostileCase{"Utf16LittleEndian", [](const std::string& m) { return Utf16(m, false); },
                    Outcome::kMerges},
        HostileCase{"Utf16BigEndian", [](const std::string& m) { return Utf16(m, true); },
                    Outcome::kMerges},
        // Passed over whole, without being kept.
        HostileCase{"EndlessLineFirst",
                    [](const std::string& m) { return std::string(300000, 'x') + "\r\n" + m; },
                    Outcome::kMerges},
        HostileCase{"AllZeroRecord",
                    [](const std::string& m) {
                      const std::size_t at = m.find("MD5_VALUE1=") + 11;
                      return m.substr(0, at) +
                             "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00" + m.substr(at + 47);
                    },
                    Outcome::kEither},
        HostileCase{"DuplicateSectionsAndKeysFirstWins",
                    [](const std::string& m) {
                      return m + "[SplitImageMD5]\r\nMD5_VALUE0=00\r\n[SrcImageMD5]\r\nMD5_VALUE=1\r\n";
                    },
                    Outcome::kMerges},
        HostileCase{"BlanksAroundNamesAndValues",
                    [](const std::string& m) {
                      std::string out;
                      for (char ch : m) out += ch == '=' ? std::string(" =  ") : std::string(1, ch);
                      return out;
                    },
                    Outcome::kMerges}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.label); });

#ifndef _WIN32
// A manifest that is no file to read is said to be one, and the merge
// creates nothing before it has read the record.
TEST_F(Merge, ManifestThatCannotBeReadCreatesNothing) {
  const std::string manifest = WideToUtf8(ws_.manifest());
  const std::vector<std::pair<const char*, std::function<void()>>> cases = {
      {"pipe", [&] { ASSERT_EQ(0, mkfifo(manifest.c_str(), 0600)); }},
      {"link to a device", [&] { ASSERT_EQ(0, symlink("/dev/zero", manifest.c_str())); }},
      {"no permission", [&] { ASSERT_EQ(0, chmod(manifest.c_str(), 0)); }},
  };
  const std::string text = ReadFileBytes(ws_.manifest());
  for (const auto& [label, make] : cases) {
    SCOPED_TRACE(label);
    std::filesystem::remove(FsPath(ws_.manifest()));
    WriteFileBytes(ws_.manifest(), text);
    if (std::string(label) != "no permission") std::filesystem::remove(FsPath(ws_.manifest()));
    make();
    if (std::string(label) == "no permission" && access(manifest.c_str(), R_OK) == 0) continue;
    FailureReport report;
    OperationOptions options;
    options.failure = &report;
    EXPECT_EQ(RC_FILE_OPEN, tarvelin::Merge(ws_.source().c_str(), options));
    EXPECT_EQ(FileRole::kManifest, report.role);
    EXPECT_FALSE(FileExists(ws_.source()));
    EXPECT_EQ(4u, ws_.PieceSizes().size());
  }
  std::filesystem::remove(FsPath(ws_.manifest()));
}
#endif

// While the pieces are joined, nobody else can open the rebuilt file.
TEST_F(Merge, RebuiltFileIsExclusiveWhileJoining) {
  struct Probe {
    std::wstring path;
    int attempts = 0;
    int refused = 0;
  } probe{ws_.source()};
  OperationOptions options;
  options.progress_context = &probe;
  options.progress = [](const ProgressEvent& event, void* context) -> bool {
    auto* p = static_cast<Probe*>(context);
    if (event.phase != Phase::kJoinPiece) return true;
    ++p->attempts;
    FileHandle other = DefaultPlatform().CreateFile(p->path.c_str(), kAccessRead,
                                                    kShareRead | kShareWrite,
                                                    Disposition::kOpenExisting,
                                                    Attribute::kNormal);
    if (other == InvalidHandle()) {
      ++p->refused;
    } else {
      DefaultPlatform().CloseHandle(other);
    }
    return true;
  };
  ASSERT_EQ(RC_OK, tarvelin::Merge(ws_.source().c_str(), options));
  EXPECT_GT(probe.attempts, 0);
  EXPECT_EQ(probe.attempts, probe.refused);
}

}  // namespace
}  // namespace tarvelin::testing
