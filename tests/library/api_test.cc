// SPDX-License-Identifier: MIT
// The public functions (tarvelin.h), through those functions alone: the
// defaults and versions of the options, the refusal of every bad argument
// (touching nothing), the outcome, cancellation at every phase (the same
// call again then finishes, and the user's bytes are intact all along), what
// verify tells of each piece, and two files split and merged at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/background_thread.h"
#include "tarvelin/tarvelin.h"
#include "tests/library/library_test_util.h"

namespace tarvelin::testing {
namespace {

constexpr std::uint64_t kChunk = 524288;  // the smallest piece

// A row runs each function of its mask in a fresh folder.
enum Fn { kSplit = 1, kMerge = 2, kVerify = 4, kPrint = 8, kStream = 16 };
constexpr int kPathFns = kSplit | kMerge | kVerify | kPrint;
constexpr int kAllFns = kPathFns | kStream;
const std::map<int, const char*> kFnNames = {{kSplit, "split"}, {kMerge, "merge"},
                                             {kVerify, "verify"}, {kPrint, "fingerprint"},
                                             {kStream, "fingerprint_stream"}};

// The folder before the call. kReady: the source (1.5 MiB and 17 bytes) for
// a split or a fingerprint, its split into four pieces for a merge or verify.
enum class Disk {
  kReady,
  kStale,    // the source beside a split's output, as a split stopped before its deletion leaves
  kPartial,  // a merge stopped after piece 0, with the start of piece 1 appended
};

std::string Utf8(const std::wstring& path) { return FsPath(path).u8string(); }

// Options of this version's size, all else zero.
tarvelin_options Sized() {
  tarvelin_options o{};
  o.size = sizeof o;
  return o;
}

using Told = std::tuple<std::int32_t, int, std::string, int>;  // number, state, name, kind

// One call of a public function with every callback listening; a non-ASCII
// name throughout, so that every name told back is checked as UTF-8.
struct Call {
  Fn fn = kSplit;
  Workspace ws{L"\u00E9t\u00E9 \u00DF.wim"};
  std::string original, path;
  const char* path_arg = nullptr;
  struct {
    tarvelin_options o;
    std::uint64_t tail[2];  // fields of a newer host's struct
  } options{};
  bool no_options = false, no_text = false;
  tarvelin_outcome outcome{};
  char text[TARVELIN_FINGERPRINT_BYTES] = {};
  tarvelin_read_callback read = &Call::Read;
  std::size_t read_at = 0;
  int cancel_phase = 0;  // the phase whose first event cancels
  bool by_flag = false;  // through `cancel` rather than the callback's answer
  bool fired = false;
  volatile int flag = 0;
  std::int32_t piece_count = -1;
  std::vector<Told> told;

  std::string Name(int piece) const { return Utf8(piece < 0 ? ws.manifest() : ws.piece(piece)); }

  void Arrange(Fn f, Disk disk) {
    fn = f;
    original = ws.MakeSource(3 * kChunk + 17, 5);
    path = Utf8(ws.source());
    path_arg = path.c_str();
    tarvelin_options& o = options.o;
    o.size = sizeof o;
    o.piece_size = kChunk;
    if (disk != Disk::kReady || fn == kMerge || fn == kVerify) {
      ASSERT_EQ(RC_OK, tarvelin_split(path_arg, &o, nullptr));
    }
    if (disk == Disk::kStale) WriteFileBytes(ws.source(), original);
    if (disk == Disk::kPartial) LeaveInterruptedMerge(ws, original, kChunk + 100, 1);
    o.progress = &Call::OnProgress;
    o.piece = &Call::OnPiece;
    o.user_data = this;
    o.cancel = &flag;
    outcome.size = sizeof outcome;
  }

  ResultCode Run() {
    const tarvelin_options* o = no_options ? nullptr : &options.o;
    char* out = no_text ? nullptr : text;
    read_at = 0;
    switch (fn) {
      case kSplit: return tarvelin_split(path_arg, o, &outcome);
      case kMerge: return tarvelin_merge(path_arg, o, &outcome);
      case kVerify: return tarvelin_verify(path_arg, o, &outcome);
      case kPrint: return tarvelin_fingerprint(path_arg, out, o, &outcome);
      case kStream: return tarvelin_fingerprint_stream(read, this, out, o, &outcome);
    }
    return RC_OK;
  }

  static long TARVELIN_CALLBACK Read(void* self, void* buffer, std::size_t size) {
    Call& c = *static_cast<Call*>(self);
    const std::size_t n = std::min(size, c.original.size() - c.read_at);
    std::memcpy(buffer, c.original.data() + c.read_at, n);
    c.read_at += n;
    return static_cast<long>(n);
  }
  static int TARVELIN_CALLBACK OnProgress(const tarvelin_progress* p, void* self) {
    Call& c = *static_cast<Call*>(self);
    c.piece_count = p->piece_count;
    if (c.fired || p->phase != c.cancel_phase) return 0;
    c.fired = true;
    if (c.by_flag) c.flag = 1;
    return c.by_flag ? 0 : 1;
  }
  static void TARVELIN_CALLBACK OnPiece(const tarvelin_piece* p, void* self) {
    static_cast<Call*>(self)->told.emplace_back(p->number, p->state, p->name, p->file_kind);
  }
};

// Every entry in the folder with its bytes.
std::map<std::string, std::string> Snapshot(Call& c) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(c.ws.dir().path()))) {
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().u8string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

// The user's bytes exist intact: the file at the path is the original, or
// its start followed by the pieces left is.
bool Intact(const Call& c) {
  const std::string at_path = FileExists(c.ws.source()) ? ReadFileBytes(c.ws.source()) : "";
  if (at_path == c.original) return true;
  int n = 0;
  while (n < 64 && !FileExists(c.ws.piece(n))) ++n;
  std::string rest;
  for (; FileExists(c.ws.piece(n)); ++n) rest += ReadFileBytes(c.ws.piece(n));
  const std::size_t head = c.original.size() - std::min(rest.size(), c.original.size());
  return at_path.size() >= head && at_path.substr(0, head) + rest == c.original;
}

// After a call that finished, the original comes back byte for byte.
void ExpectFinished(Call& c) {
  if (c.fn == kSplit) {
    ASSERT_EQ(RC_OK, tarvelin_merge(c.path_arg, nullptr, nullptr));
  }
  if (c.fn == kSplit || c.fn == kMerge) {
    EXPECT_TRUE(ReadFileBytes(c.ws.source()) == c.original);
    EXPECT_FALSE(FileExists(c.ws.manifest()));
  }
  std::string text;
  for (wchar_t ch : FingerprintOf(c.original)) text += static_cast<char>(ch);
  if (c.fn == kPrint || c.fn == kStream) {
    EXPECT_EQ(text, c.text);
  }
}

struct Row {
  const char* label;
  int fns;
  ResultCode code;
  int step;  // the outcome's
  std::function<void(Call&)> change = nullptr;
  Disk disk = Disk::kReady;
  // Cancelled at the first event of this phase, by the callback's answer and
  // then by the flag; the same call again must finish.
  int cancel_phase = 0;
  std::function<void(const Call&)> check = nullptr;
};
void PrintTo(const Row& r, std::ostream* os) { *os << r.label; }

class Contract : public ::testing::TestWithParam<Row> {};

TEST_P(Contract, Holds) {
  const Row& row = GetParam();
  const bool refused = row.code == RC_INVALID_ARGUMENT || row.code == RC_INVALID_PATH;
  for (Fn fn : {kSplit, kMerge, kVerify, kPrint, kStream}) {
    for (bool by_flag : {false, true}) {
      if ((row.fns & fn) == 0 || (by_flag && row.cancel_phase == 0)) continue;
      SCOPED_TRACE(::testing::Message() << kFnNames.at(fn) << (by_flag ? ", by the flag" : ""));
      Call c;
      ASSERT_NO_FATAL_FAILURE(c.Arrange(fn, row.disk));
      c.cancel_phase = row.cancel_phase;
      c.by_flag = by_flag;
      if (row.change) row.change(c);
      const tarvelin_outcome given = c.outcome;
      const auto before = refused ? Snapshot(c) : decltype(Snapshot(c))();

      EXPECT_STREQ(tarvelin_code_name(row.code), tarvelin_code_name(c.Run()));
      if (given.size >= sizeof given) {
        EXPECT_EQ(row.code, c.outcome.code);
        EXPECT_EQ(row.step, c.outcome.step);
      } else {
        EXPECT_EQ(0, std::memcmp(&given, &c.outcome, sizeof given)) << "a small outcome written";
      }
      if (refused) {
        EXPECT_TRUE(before == Snapshot(c)) << "a refused call changed the folder";
      }
      if (row.check) row.check(c);
      if (row.cancel_phase != 0) {
        EXPECT_TRUE(c.fired) << "the phase was never reported";
        EXPECT_TRUE(Intact(c)) << "the user's bytes are not all there";
        c.cancel_phase = 0;
        c.flag = 0;
        ASSERT_EQ(RC_OK, c.Run()) << "the same call again";
      }
      if (row.code == RC_OK || row.cancel_phase != 0) ExpectFinished(c);
    }
  }
}

Row Refused(const char* label, int fns, std::function<void(Call&)> change) {
  return Row{label, fns, RC_INVALID_ARGUMENT, TARVELIN_STEP_BAD_OPTIONS, std::move(change)};
}
Row Cancel(const char* label, int fns, Disk disk, int phase, ResultCode code = RC_CANCELLED) {
  return Row{label, fns, code, code == RC_OK ? 0 : TARVELIN_STEP_CANCELLED, nullptr, disk, phase};
}
// What a zeroed struct plans for a sparse source of `size` bytes, as its
// first event tells, before the split is cancelled there.
Row DefaultPieces(const char* label, std::uint64_t size, std::int32_t pieces) {
  const auto change = [size](Call& c) {
    MakeSparseFile(c.ws.source(), size);
    c.options.o.piece_size = 0;
    c.cancel_phase = TARVELIN_PHASE_FINGERPRINT_SOURCE;
  };
  return Row{label, kSplit, RC_CANCELLED, TARVELIN_STEP_CANCELLED, change, Disk::kReady, 0,
             [pieces](const Call& c) { EXPECT_EQ(pieces, c.piece_count); }};
}
void OnePieceWhenSplit(const Call& c) {
  if (c.fn == kSplit) {
    EXPECT_EQ(1, c.outcome.pieces);
  }
}
std::function<void(Call&)> PathOf(int piece) {
  return [piece](Call& c) { c.path_arg = (c.path = c.Name(piece)).c_str(); };
}
std::function<void(const Call&)> PartIs(int piece) {
  return [piece](const Call& c) {
    EXPECT_EQ(piece, c.outcome.piece);
    EXPECT_EQ(c.Name(-1), c.outcome.file);
  };
}
void MakeFolder(const std::wstring& name) {
  std::filesystem::remove(FsPath(name));
  std::filesystem::create_directory(FsPath(name));
}
std::function<void(const Call&)> Failed(int role, int piece, int kind) {
  return [=](const Call& c) {
    EXPECT_EQ(role, c.outcome.role);
    EXPECT_EQ(piece, c.outcome.piece);
    EXPECT_EQ(role == TARVELIN_ROLE_SOURCE ? c.path : c.Name(piece), c.outcome.file);
    EXPECT_EQ(kind, c.outcome.file_kind);
    EXPECT_NE(0u, c.outcome.system_error);
    EXPECT_STRNE("", c.outcome.system_message);
  };
}
void NoSource(Call& c) { std::filesystem::remove(FsPath(c.ws.source())); }

INSTANTIATE_TEST_SUITE_P(
    Table, Contract,
    ::testing::Values(
        // Defaults: 4095 MiB pieces. An older host's struct ends before
        // piece_folder, and what follows it is not read.
        Row{"NullOptions", kAllFns, RC_OK, 0, [](Call& c) { c.no_options = true; }, Disk::kReady,
            0, OnePieceWhenSplit},
        Row{"ZeroedOptions", kAllFns, RC_OK, 0, [](Call& c) { c.options.o = Sized(); },
            Disk::kReady, 0, OnePieceWhenSplit},
        DefaultPieces("ZeroPieceSizeHolds4095MiBInOnePiece", 4095 * kMiB, 1),
        DefaultPieces("ZeroPieceSizeCutsAByteMoreInTwo", 4095 * kMiB + 1, 2),
        Row{"FirstVersionOfOptions", kAllFns, RC_OK, 0,
            [](Call& c) {
              c.options.o.size = TARVELIN_OPTIONS_SIZE_1;
              c.options.o.piece_folder = "not the host's";
            }},
        Row{"NewerOptionsWithZeroTail", kAllFns, RC_OK, 0,
            [](Call& c) { c.options.o.size = sizeof c.options; }},
        Refused("NewerOptionsAskingMore", kAllFns,
                [](Call& c) {
                  c.options.o.size = sizeof c.options;
                  c.options.tail[1] = 1;
                }),
        // Bad arguments.
        Row{"NullPath", kPathFns, RC_INVALID_PATH, TARVELIN_STEP_BAD_PATH,
            [](Call& c) { c.path_arg = nullptr; }},
        Row{"EmptyPath", kPathFns, RC_INVALID_PATH, TARVELIN_STEP_BAD_PATH,
            [](Call& c) { c.path_arg = ""; }},
        Refused("OptionsSizeZero", kAllFns, [](Call& c) { c.options.o.size = 0; }),
        Refused("OptionsSmallerThanTheFirstVersion", kAllFns,
                [](Call& c) { c.options.o.size = TARVELIN_OPTIONS_SIZE_1 - 4; }),
        Row{"OutcomeTooSmallIsLeftUntouched", kAllFns, RC_INVALID_ARGUMENT, 0,
            [](Call& c) {
              std::memset(&c.outcome, 0x5A, sizeof c.outcome);
              c.outcome.size = TARVELIN_OUTCOME_SIZE_1 - 1;
            }},
        Refused("UnknownFlag", kAllFns, [](Call& c) { c.options.o.flags = 0x80000000u; }),
        // Each function's own: the split keeps its source, the merge its pieces.
        Refused("KeepPiecesOnASplit", kSplit,
                [](Call& c) { c.options.o.flags = TARVELIN_KEEP_PIECES; }),
        Refused("KeepSourceOnAMerge", kMerge,
                [](Call& c) { c.options.o.flags = TARVELIN_KEEP_SOURCE; }),
        Refused("ReadBackAndNot", kAllFns,
                [](Call& c) { c.options.o.flags = TARVELIN_READ_BACK | TARVELIN_NO_READ_BACK; }),
        Row{"EmptyPieceFolder", kAllFns, RC_INVALID_PATH, TARVELIN_STEP_BAD_PATH,
            [](Call& c) { c.options.o.piece_folder = ""; }},
        Row{"PieceFolderThatIsNoFolder", kSplit | kMerge | kVerify, RC_INVALID_PATH, TARVELIN_STEP_NOT_FOUND,
            [](Call& c) { c.options.o.piece_folder = "no such folder"; }},
        Refused("PieceSizeOne", kSplit, [](Call& c) { c.options.o.piece_size = 1; }),
        Refused("PieceSizeAByteBelowAChunk", kSplit,
                [](Call& c) { c.options.o.piece_size = kChunk - 1; }),
        Refused("NullText", kPrint | kStream, [](Call& c) { c.no_text = true; }),
        Refused("NullReadCallback", kStream, [](Call& c) { c.read = nullptr; }),
        Row{"PathIsTheManifest", kMerge | kVerify, RC_INVALID_ARGUMENT,
            TARVELIN_STEP_PART_OF_A_SPLIT, PathOf(-1), Disk::kReady, 0, PartIs(-1)},
        Row{"PathIsAPiece", kMerge | kVerify, RC_INVALID_ARGUMENT, TARVELIN_STEP_PART_OF_A_SPLIT,
            PathOf(2), Disk::kReady, 0, PartIs(2)},
        // The outcome.
        Row{"OutcomeOfSuccess", kSplit | kMerge | kVerify, RC_OK, 0, nullptr, Disk::kReady, 0,
            [](const Call& c) {
              const tarvelin_outcome& o = c.outcome;
              if (c.fn == kVerify) {
                EXPECT_EQ(4, o.recorded);
                EXPECT_EQ(TARVELIN_WHOLE_MATCHES, o.joined);
                return;
              }
              EXPECT_EQ(4, o.pieces);
              EXPECT_EQ(c.original.size(), o.bytes);
              EXPECT_TRUE(c.fn == kSplit || (o.resumed_from == -1 && o.tidied == 0));
            }},
        Row{"SourceMissing", kSplit, RC_SOURCE_NOT_FOUND, TARVELIN_STEP_NOT_FOUND, NoSource,
            Disk::kReady, 0, Failed(TARVELIN_ROLE_SOURCE, -1, TARVELIN_KIND_NONE)},
        Row{"FingerprintedFileMissing", kPrint, RC_FILE_OPEN, TARVELIN_STEP_OPEN, NoSource,
            Disk::kReady, 0, Failed(TARVELIN_ROLE_SOURCE, -1, TARVELIN_KIND_NONE)},
        Row{"ManifestMissing", kMerge | kVerify, RC_MANIFEST_NOT_FOUND, TARVELIN_STEP_NOT_FOUND,
            [](Call& c) { std::filesystem::remove(FsPath(c.ws.manifest())); }, Disk::kReady, 0,
            Failed(TARVELIN_ROLE_MANIFEST, -1, TARVELIN_KIND_NONE)},
        Row{"PieceUnreadable", kMerge | kVerify, RC_FILE_OPEN, TARVELIN_STEP_OPEN,
            [](Call& c) { MakeFolder(c.ws.piece(1)); }, Disk::kReady, 0,
            Failed(TARVELIN_ROLE_PIECE, 1, TARVELIN_KIND_FOLDER)},
        // A piece whose bytes are others: every call succeeded, so no system
        // error is told, even after an earlier merge left the set part way.
        Row{"PieceWithOtherBytes", kMerge | kVerify, RC_DIGEST_MISMATCH, TARVELIN_STEP_MISMATCH,
            [](Call& c) { WriteFileBytes(c.ws.piece(2), PatternBytes(kChunk, 9)); },
            Disk::kPartial, 0,
            [](const Call& c) {
              EXPECT_EQ(TARVELIN_ROLE_PIECE, c.outcome.role);
              EXPECT_EQ(2, c.outcome.piece);
              EXPECT_EQ(0u, c.outcome.system_error);
              EXPECT_STREQ("", c.outcome.system_message);
            }},
        // Cancellation at every phase. Proving the whole reads nothing once
        // it has begun (the bytes were proved as they were joined): a wish to
        // stop there comes too late, and the call finishes.
        Cancel("CancelFingerprintingTheSource", kSplit, Disk::kReady,
               TARVELIN_PHASE_FINGERPRINT_SOURCE),
        Cancel("CancelCheckingEarlierOutput", kSplit, Disk::kStale,
               TARVELIN_PHASE_CHECK_EARLIER_OUTPUT),
        Cancel("CancelCuttingAPiece", kSplit, Disk::kReady, TARVELIN_PHASE_CUT_PIECE),
        Cancel("CancelFingerprintingAPiece", kSplit, Disk::kReady,
               TARVELIN_PHASE_FINGERPRINT_PIECE),
        Cancel("CancelFlushing", kSplit, Disk::kReady, TARVELIN_PHASE_FLUSH),
        Cancel("CancelFindingTheJoined", kMerge | kVerify, Disk::kPartial,
               TARVELIN_PHASE_FIND_JOINED),
        Cancel("CancelVerifyingAPiece", kMerge | kVerify, Disk::kReady,
               TARVELIN_PHASE_VERIFY_PIECE),
        Cancel("CancelJoiningAPiece", kMerge, Disk::kReady, TARVELIN_PHASE_JOIN_PIECE),
        Cancel("CancelVerifyingTheWholeComesTooLate", kMerge | kVerify, Disk::kReady,
               TARVELIN_PHASE_VERIFY_WHOLE, RC_OK),
        Cancel("CancelFingerprinting", kPrint | kStream, Disk::kReady, TARVELIN_PHASE_FINGERPRINT),
        // Verify tells every piece in order, and the unrecorded one past them.
        Row{"VerifyTellsEveryPiece", kVerify, RC_DIGEST_MISMATCH, TARVELIN_STEP_MISMATCH,
            [](Call& c) {
              WriteFileBytes(c.ws.piece(1), PatternBytes(kChunk, 9));
              std::filesystem::remove(FsPath(c.ws.piece(2)));
              MakeFolder(c.ws.piece(3));
              WriteFileBytes(c.ws.piece(4), "past the record");
            },
            Disk::kReady, 0,
            [](const Call& c) {
              const std::vector<Told> expected = {
                  {0, TARVELIN_PIECE_OK, c.Name(0), 0},
                  {1, TARVELIN_PIECE_FAILED, c.Name(1), 0},
                  {2, TARVELIN_PIECE_MISSING, c.Name(2), 0},
                  {3, TARVELIN_PIECE_UNREADABLE, c.Name(3), TARVELIN_KIND_FOLDER},
                  {4, TARVELIN_PIECE_NOT_RECORDED, c.Name(4), 0}};
              EXPECT_EQ(expected, c.told);
              EXPECT_EQ(1, c.outcome.deciding_piece);
            }}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.label); });

// One of two operations at once, and what its callback heard.
struct Job {
  Workspace ws;
  std::string original, path;
  std::int32_t piece_count = 0;
  int events = 0;
  bool elsewhere = false;  // an event came on a thread other than the call's
  ResultCode code = RC_OK;
};
thread_local const Job* t_running = nullptr;  // the job this thread is running

int TARVELIN_CALLBACK JobProgress(const tarvelin_progress* p, void* self) {
  Job& job = *static_cast<Job*>(self);
  job.elsewhere |= t_running != &job;
  job.piece_count = p->piece_count;
  ++job.events;
  return 0;
}

using PathFunction = ResultCode(TARVELIN_CALL*)(const char*, const tarvelin_options*,
                                                tarvelin_outcome*);

// Two splits, then two merges, of two files at once on two threads; each
// callback hears its own operation alone (the two differ in their count of
// pieces).
TEST(AtOnce, TwoFilesSplitAndMergeOnTwoThreads) {
  Job jobs[2];
  for (int i = 0; i < 2; ++i) {
    jobs[i].original = jobs[i].ws.MakeSource((3 + 2 * i) * kChunk + 17, 20 + i);
    jobs[i].path = Utf8(jobs[i].ws.source());
  }
  for (PathFunction fn : {tarvelin_split, tarvelin_merge}) {
    std::unique_ptr<BackgroundThread> threads[2];
    for (int i = 0; i < 2; ++i) {
      threads[i] = DefaultPlatform().CreateBackgroundThread();
      ASSERT_TRUE(threads[i]);
      threads[i]->Post([&job = jobs[i], fn] {
        t_running = &job;
        job.events = 0;
        tarvelin_options o = Sized();
        o.piece_size = kChunk;
        o.progress = &JobProgress;
        o.user_data = &job;
        job.code = fn(job.path.c_str(), &o, nullptr);
      });
    }
    for (auto& thread : threads) thread->Wait();
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(::testing::Message() << (fn == tarvelin_split ? "split " : "merge ") << i);
      EXPECT_EQ(RC_OK, jobs[i].code);
      EXPECT_EQ(4 + 2 * i, jobs[i].piece_count);
      EXPECT_LT(0, jobs[i].events);
      EXPECT_FALSE(jobs[i].elsewhere);
    }
  }
  for (const Job& job : jobs) EXPECT_TRUE(ReadFileBytes(job.ws.source()) == job.original);
}

}  // namespace
}  // namespace tarvelin::testing
