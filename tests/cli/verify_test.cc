// SPDX-License-Identifier: MIT
// The verify against the merge it foretells: for every state that a split
// can be found in, the verify changes nothing on disk, reports each piece
// and the whole, and its verdict is what the merge then really returns.
#include <gtest/gtest.h>

#include <cwctype>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "library/manifest.h"
#include "library/operations.h"
#include "library/verify.h"
#include "platform/utf8.h"
#include "tests/library/library_test_util.h"

namespace tarvelin::testing {
namespace {

const std::uint64_t M = kMiB;
constexpr int kPieces = 4;  // a 3 MiB + 17 byte source in 1 MiB pieces

// Every file in the folder with its bytes ("<folder>" for a folder).
std::map<std::string, std::string> Snapshot(const std::wstring& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(folder))) {
    const std::string name = entry.path().filename().string();
    files[name] = entry.is_directory() ? "<folder>" : ReadFileBytes(Utf8ToWide(entry.path().string()));
  }
  return files;
}

void WriteManifestValue(const Workspace& ws, const wchar_t* section, const wchar_t* key,
                        const std::wstring& value) {
  ASSERT_TRUE(DefaultPlatform().WritePrivateProfileString(section, key, value.c_str(),
                                                          ws.manifest().c_str()));
}

std::wstring ReadManifest(const Workspace& ws, const wchar_t* section, const wchar_t* key) {
  return ReadManifestValue(DefaultPlatform(), section, key, ws.manifest().c_str());
}

using P = PieceState;
using W = WholeState;

// A verify whose pieces, told one by one, are kept: the recorded ones in
// `pieces`, those past the record in `unrecorded`.
struct Verified {
  ResultCode code = RC_OK;
  VerifyReport report;
  std::vector<PieceCheck> pieces;
  std::vector<PieceCheck> unrecorded;
};

Verified VerifyKeepingPieces(const std::wstring& path, OperationOptions options = {}) {
  Verified verified;
  options.on_piece = [](const PieceCheck& piece, void* context) {
    auto& v = *static_cast<Verified*>(context);
    (piece.state == PieceState::kNotRecorded ? v.unrecorded : v.pieces).push_back(piece);
  };
  options.piece_context = &verified;
  verified.code = Verify(path.c_str(), options, &verified.report);
  return verified;
}

struct Scenario {
  const char* label;
  std::function<void(Workspace&, const std::string& original)> arrange;
  ResultCode verdict;
  std::vector<PieceState> pieces;  // the recorded pieces' states
  WholeState joined;
  WholeState existing;
  std::int32_t deciding_piece;
  std::size_t unrecorded;
};

void Damage(Workspace& ws, int n) {
  std::string bytes = ReadFileBytes(ws.piece(n));
  bytes[bytes.size() / 2] ^= 0x01;
  WriteFileBytes(ws.piece(n), bytes);
}

void Remove(Workspace& ws, int n) { std::filesystem::remove(FsPath(ws.piece(n))); }

const std::vector<P> kAllOk(kPieces, P::kOk);

const Scenario kScenarios[] = {
    {"Intact", [](Workspace&, const std::string&) {}, RC_OK, kAllOk, W::kMatches,
     W::kNotChecked, -1, 0},
    {"DamagedPiece", [](Workspace& ws, const std::string&) { Damage(ws, 2); },
     RC_DIGEST_MISMATCH, {P::kOk, P::kOk, P::kFailed, P::kOk}, W::kDiffers, W::kNotChecked, 2, 0},
    {"FirstOfTwoDamagedDecides",
     [](Workspace& ws, const std::string&) {
       Damage(ws, 3);
       Damage(ws, 1);
     },
     RC_DIGEST_MISMATCH, {P::kOk, P::kFailed, P::kOk, P::kFailed}, W::kDiffers, W::kNotChecked, 1,
     0},
    {"MissingPiece", [](Workspace& ws, const std::string&) { Remove(ws, 2); },
     RC_DIGEST_MISMATCH, {P::kOk, P::kOk, P::kMissing, P::kOk}, W::kIncomplete, W::kNotChecked, -1,
     0},
    {"MissingLastPiece", [](Workspace& ws, const std::string&) { Remove(ws, 3); },
     RC_DIGEST_MISMATCH, {P::kOk, P::kOk, P::kOk, P::kMissing}, W::kIncomplete, W::kNotChecked, -1,
     0},
    // The merge's loop ends at the gap, before the damaged piece.
    {"MissingBeforeDamaged",
     [](Workspace& ws, const std::string&) {
       Remove(ws, 1);
       Damage(ws, 2);
     },
     RC_DIGEST_MISMATCH, {P::kOk, P::kMissing, P::kFailed, P::kOk}, W::kIncomplete,
     W::kNotChecked, -1, 0},
    {"UnrecordedPieceIsListedAndLeft",
     [](Workspace& ws, const std::string&) { WriteFileBytes(ws.piece(4), "stale"); }, RC_OK,
     kAllOk, W::kMatches, W::kNotChecked, -1, 1},
    {"PieceThatCannotBeOpened",
     [](Workspace& ws, const std::string&) {
       Remove(ws, 1);
       std::filesystem::create_directory(FsPath(ws.piece(1)));
     },
     RC_FILE_OPEN, {P::kOk, P::kUnreadable, P::kOk, P::kOk}, W::kUnreadable, W::kNotChecked, 1, 0},
    {"NoManifest",
     [](Workspace& ws, const std::string&) { std::filesystem::remove(FsPath(ws.manifest())); },
     RC_MANIFEST_NOT_FOUND, {}, W::kNotChecked, W::kNotChecked, -1, kPieces},
    {"NoSourceFingerprint",
     [](Workspace& ws, const std::string&) {
       WriteManifestValue(ws, kSourceSection, kValueKey, L"");
     },
     RC_DIGEST_MISMATCH, kAllOk, W::kDiffers, W::kNotChecked, -1, 0},
    {"LowerCaseRecordedFingerprint",
     [](Workspace& ws, const std::string&) {
       std::wstring value = ReadManifest(ws, kPieceSection, L"MD5_VALUE1");
       for (wchar_t& c : value) c = static_cast<wchar_t>(std::towlower(c));
       WriteManifestValue(ws, kPieceSection, L"MD5_VALUE1", value);
     },
     RC_DIGEST_MISMATCH, {P::kOk, P::kFailed, P::kOk, P::kOk}, W::kMatches, W::kNotChecked, 1, 0},
    // A record of a fifth piece that no file holds: the whole decides.
    {"MoreRecordedThanPieceFiles",
     [](Workspace& ws, const std::string&) {
       WriteManifestValue(ws, kPieceSection, L"MD5_VALUE4", ReadManifest(ws, kPieceSection, L"MD5_VALUE0"));
     },
     RC_OK, {P::kOk, P::kOk, P::kOk, P::kOk, P::kMissing}, W::kMatches, W::kNotChecked, -1, 0},
    {"FileAlreadyThereAndWhole",
     [](Workspace& ws, const std::string& original) { WriteFileBytes(ws.source(), original); },
     RC_OK, kAllOk, W::kMatches, W::kMatches, -1, 0},
    // A merge that stopped after piece 0: the file holds it, piece 0 is gone,
    // and a merge goes on from piece 1.
    {"FileAlreadyThereHalfMerged",
     [](Workspace& ws, const std::string& original) {
       WriteFileBytes(ws.source(), original.substr(0, M));
       Remove(ws, 0);
     },
     RC_OK, {P::kJoined, P::kOk, P::kOk, P::kOk}, W::kMatches, W::kPartial, -1, 0},
    // ... and had begun to append piece 1, which is cut off and joined again.
    {"FileHalfMergedWithPartOfTheNext",
     [](Workspace& ws, const std::string& original) {
       WriteFileBytes(ws.source(), original.substr(0, M + 1000));
       Remove(ws, 0);
     },
     RC_OK, {P::kJoined, P::kOk, P::kOk, P::kOk}, W::kMatches, W::kPartial, -1, 0},
    {"FileHalfMergedNextPieceDamaged",
     [](Workspace& ws, const std::string& original) {
       WriteFileBytes(ws.source(), original.substr(0, M));
       Remove(ws, 0);
       Damage(ws, 1);
     },
     RC_DIGEST_MISMATCH, {P::kJoined, P::kFailed, P::kOk, P::kOk}, W::kDiffers, W::kPartial, 1,
     0},
    {"FileHalfMergedNextPieceMissing",
     [](Workspace& ws, const std::string& original) {
       WriteFileBytes(ws.source(), original.substr(0, M));
       Remove(ws, 0);
       Remove(ws, 1);
     },
     RC_DIGEST_MISMATCH, {P::kJoined, P::kMissing, P::kOk, P::kOk}, W::kIncomplete, W::kPartial,
     -1, 0},
    // Not a merge's work: a merge leaves it alone.
    {"FileAlreadyThereUnrelated",
     [](Workspace& ws, const std::string&) { WriteFileBytes(ws.source(), PatternBytes(M, 77)); },
     RC_DIGEST_MISMATCH, kAllOk, W::kMatches, W::kDiffers, -1, 0},
    {"FileAlreadyThereWithoutManifest",
     [](Workspace& ws, const std::string& original) {
       WriteFileBytes(ws.source(), original);
       std::filesystem::remove(FsPath(ws.manifest()));
     },
     RC_OK, {}, W::kNotChecked, W::kNotChecked, -1, kPieces},
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.label; }

class VerifyForetellsMerge : public ::testing::TestWithParam<Scenario> {};

TEST_P(VerifyForetellsMerge, ReportsChangesNothingAndMatchesTheMerge) {
  const Scenario& s = GetParam();
  Workspace ws;
  const std::string original = ws.MakeSource(3 * M + 17, 9);
  ASSERT_EQ(RC_OK, Split(ws.source().c_str(), PieceLimit(1)));
  s.arrange(ws, original);

  const auto before = Snapshot(ws.dir().path());
  const Verified verified = VerifyKeepingPieces(ws.source());
  const VerifyReport& report = verified.report;
  const ResultCode verdict = verified.code;
  EXPECT_EQ(before, Snapshot(ws.dir().path())) << "the verify changed the folder";

  EXPECT_EQ(s.verdict, verdict);
  ASSERT_EQ(s.pieces.size(), verified.pieces.size());
  for (std::size_t n = 0; n < s.pieces.size(); ++n) {
    EXPECT_EQ(s.pieces[n], verified.pieces[n].state) << "piece " << n;
    EXPECT_EQ(ws.piece(static_cast<int>(n)), verified.pieces[n].name);
  }
  EXPECT_EQ(s.joined, report.joined);
  EXPECT_EQ(s.existing, report.existing);
  EXPECT_EQ(s.deciding_piece, report.deciding_piece);
  EXPECT_EQ(s.unrecorded, verified.unrecorded.size());
  EXPECT_EQ(static_cast<std::int32_t>(s.unrecorded), report.unrecorded);

  EXPECT_EQ(verdict, Merge(ws.source().c_str())) << "the merge did not do as foretold";
}

INSTANTIATE_TEST_SUITE_P(Table, VerifyForetellsMerge, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return std::string(info.param.label);
                         });

TEST(Verify, EmptySourceHasOneEmptyPieceAndPasses) {
  Workspace ws;
  ws.MakeSource(0);
  ASSERT_EQ(RC_OK, Split(ws.source().c_str(), PieceLimit(1)));
  const Verified verified = VerifyKeepingPieces(ws.source());
  EXPECT_EQ(RC_OK, verified.code);
  ASSERT_EQ(1u, verified.pieces.size());
  EXPECT_EQ(P::kOk, verified.pieces[0].state);
  EXPECT_EQ(W::kMatches, verified.report.joined);
}

TEST(Verify, PathTooLongForItsNames) {
  TempDir dir;
  const std::wstring path = dir.Path(std::wstring(250, L'n') + L".img");
  EXPECT_EQ(Merge(path.c_str()), Verify(path.c_str(), OperationOptions(), nullptr));
  EXPECT_EQ(RC_INVALID_PATH, Verify(path.c_str(), OperationOptions(), nullptr));
}

// One pass: every recorded piece is opened once, for reading only, and read
// through to its end once; nothing is written, deleted or recorded.
TEST(Verify, ReadsEachPieceOnceAndWritesNothing) {
  Workspace ws;
  ws.MakeSource(3 * M + 17, 4);
  ASSERT_EQ(RC_OK, Split(ws.source().c_str(), PieceLimit(1)));
  FaultPlatform platform(DefaultPlatform());
  OperationOptions options;
  options.platform = &platform;
  ASSERT_EQ(RC_OK, Verify(ws.source().c_str(), options, nullptr));

  for (int n = 0; n < kPieces; ++n) {
    EXPECT_EQ(1u, platform.IndexesOf(Op::kCreateFile, ws.piece(n)).size()) << n;
    // Through to the end once, in the fingerprint's requests: 1 MiB, or 17 bytes.
    const int reads = FingerprintReads(n < 3 ? M : 17);
    EXPECT_EQ(static_cast<std::size_t>(reads), platform.IndexesOf(Op::kReadFile, ws.piece(n)).size())
        << n;
  }
  for (const Call& call : platform.calls()) {
    EXPECT_NE(Op::kWriteFile, call.op);
    EXPECT_NE(Op::kDeleteFile, call.op);
    EXPECT_NE(Op::kWriteProfileString, call.op);
    EXPECT_NE(Op::kSetFileAttributes, call.op);
  }
  EXPECT_EQ(0, platform.open_handles());
}

TEST(Verify, AFailedReadMakesThePieceUnreadableAndDecides) {
  Workspace ws;
  ws.MakeSource(3 * M + 17, 4);
  ASSERT_EQ(RC_OK, Split(ws.source().c_str(), PieceLimit(1)));
  FaultPlatform platform(DefaultPlatform());
  // The second read of piece 1, after the manifest's two (its bytes, its end).
  platform.FailOp(Op::kReadFile, 2 + FingerprintReads(M) + 2, false, 30);
  OperationOptions options;
  options.platform = &platform;
  const Verified verified = VerifyKeepingPieces(ws.source(), options);
  EXPECT_EQ(RC_FILE_READ, verified.code);
  ASSERT_EQ(4u, verified.pieces.size());
  EXPECT_EQ(P::kUnreadable, verified.pieces[1].state);
  EXPECT_FALSE(verified.pieces[1].open_failed);
  EXPECT_EQ(30u, verified.pieces[1].error);
  EXPECT_EQ(P::kOk, verified.pieces[2].state) << "the check goes on past the deciding piece";
  EXPECT_EQ(1, verified.report.deciding_piece);
  EXPECT_EQ(W::kUnreadable, verified.report.joined);
  EXPECT_EQ(0, platform.open_handles());
}

TEST(Verify, ProgressCoversEveryPieceInOrderAndEndsAtTheTotal) {
  Workspace ws;
  ws.MakeSource(3 * M + 17, 4);
  ASSERT_EQ(RC_OK, Split(ws.source().c_str(), PieceLimit(1)));
  std::vector<ProgressEvent> events;
  OperationOptions options;
  options.progress = [](const ProgressEvent& event, void* context) -> bool {
    static_cast<std::vector<ProgressEvent>*>(context)->push_back(event);
    return true;
  };
  options.progress_context = &events;
  ASSERT_EQ(RC_OK, Verify(ws.source().c_str(), options, nullptr));
  ASSERT_FALSE(events.empty());
  // The answer on the whole ends the run, once.
  EXPECT_EQ(Phase::kVerifyWhole, events.back().phase);
  events.pop_back();
  ASSERT_FALSE(events.empty());
  std::int32_t piece = -1;
  for (const ProgressEvent& event : events) {
    EXPECT_EQ(Phase::kVerifyPiece, event.phase);
    EXPECT_GE(event.piece, piece);
    piece = event.piece;
    EXPECT_EQ(kPieces, event.piece_count);
    EXPECT_EQ(3 * M + 17, event.total);
  }
  EXPECT_EQ(kPieces - 1, piece);
  EXPECT_EQ(3 * M + 17, events.back().done);
}

}  // namespace
}  // namespace tarvelin::testing
