// SPDX-License-Identifier: MIT
// The library's internal API: split, merge and verify with a choice of
// platform, progress, cancellation and a full account of what happened. The
// exports call these with the default platform and nothing else; the public
// functions (api.cc), the tests and the benchmarks with more.
#ifndef TARVELIN_LIBRARY_OPERATIONS_H_
#define TARVELIN_LIBRARY_OPERATIONS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "library/failure_report.h"
#include "library/naming.h"
#include "library/result_codes.h"
#include "platform/platform.h"

namespace tarvelin {

enum class Phase {
  kFingerprintSource,  // split: reading the whole source for its fingerprint
  kCheckEarlierOutput, // split: comparing piece `piece`, left at one of its names by an
                       // earlier split, with the source, before clearing it
  kCutPiece,           // split: copying into piece `piece`
  kFingerprintPiece,   // split: fingerprinting the finished piece `piece`
  kFlushPieces,        // split: waiting for the disk to store every piece
  kFindJoined,         // merge: reading a file found at its path for the pieces already
                       // joined in it (verify: the same, to foretell the merge)
  kVerifyPiece,        // merge: proving piece `piece` before it is appended
  kJoinPiece,          // merge: appending piece `piece`, and reading it back
  kVerifyWhole,        // merge: proving the rebuilt file
  kFingerprint,        // fingerprint: reading a file
  kReadBack,           // split: reading piece `piece` (-1: the manifest) back from the
                       // medium, past the system's cache
  kStreamPiece,        // stream: proving piece `piece` as it goes out
};

struct ProgressEvent {
  Phase phase;
  std::int32_t piece;        // the piece concerned, -1 for none
  std::int32_t piece_count;  // the pieces expected in all
  std::uint64_t done;        // bytes of work done so far in the whole operation
  std::uint64_t total;       // bytes of work in the whole operation
};

// Returns false to stop the operation at its next chunk (RC_CANCELLED).
using ProgressCallback = bool (*)(const ProgressEvent& event, void* context);

enum class PieceState {
  kOk,           // read whole, and its fingerprint is the recorded one
  kFailed,       // read whole, and its fingerprint differs from the recorded one
  kUnreadable,   // it exists but could not be opened, or a read failed
  kMissing,      // no file by its name
  kJoined,       // the file at the path holds it, proved: a merge goes on after it
                 // (and deletes this piece's file, if one is left) without reading it
  kNotRecorded,  // a piece file past the recorded ones, which a merge leaves in place
};

// One piece as a verify judges it, or one that a merge leaves unrecorded.
struct PieceCheck {
  std::int32_t number = 0;
  std::wstring name;  // the piece file's path, derived from the path given
  PieceState state = PieceState::kMissing;
  std::uint32_t error = 0;  // the platform's last-error value when kUnreadable
  bool open_failed = false;  // kUnreadable: the open failed, not a read
  bool record_malformed = false;  // kFailed: the record is no fingerprint text
};

using PieceCallback = void (*)(const PieceCheck& piece, void* context);

// What an operation did, filled whether it succeeded or not.
struct OperationFacts {
  std::int32_t pieces = 0;         // split: cut; merge: joined by this call
  std::uint64_t bytes = 0;         // split: the source's size; merge: the rebuilt file's
  std::int32_t resumed_from = -1;  // merge: the first piece it joined after an earlier merge
  bool tidied = false;             // merge: the file at the path was the whole already
  bool file_existed = false;       // merge: a file was at the path when it began
  bool manifest_found = false;     // merge: a manifest was there when it began
  std::int32_t unrecorded = 0;     // merge: piece files past the record, left in place
  std::uint64_t space_needed = 0;  // with kCheckSpace: what the operation needs free
  std::uint64_t space_free = 0;    // and what the file system had
  bool read_back = false;          // split: every piece and the manifest were read
                                   // back from the medium and proved
  // split: the pieces' file system, as far as its limits go.
  enum class FileSystem { kUnknown, kOther, kFat } file_system = FileSystem::kUnknown;
};

enum : std::uint32_t {
  // Refuse up front (RC_NOT_ENOUGH_SPACE) when the file system has too little
  // room: a split needs its source's size, a merge its largest piece.
  kCheckSpace = 1u,
  // Merge and verify: a path that names the manifest or a piece of a split,
  // not the file to rebuild, is a mistake (RC_INVALID_ARGUMENT).
  kRefusePartOfASplit = 2u,
  // Split: keep the source; it still fails if the source changed meanwhile.
  kKeepSource = 4u,
  // Merge: delete nothing, neither pieces nor manifest.
  kKeepPieces = 8u,
  // Split: once everything is durable, read every piece and the manifest
  // back past the system's cache and prove them before the source may go.
  kReadBack = 16u,
};

// Receives the next `size` bytes of a stream; returns 0 once they are all
// written, else a system error number that stops the stream (RC_FILE_WRITE).
using OutputCallback = std::uint32_t (*)(const void* bytes, std::size_t size, void* context);

struct OperationOptions {
  Platform* platform = nullptr;  // null: DefaultPlatform()
  ProgressCallback progress = nullptr;
  void* progress_context = nullptr;
  // The least time between two progress reports, in milliseconds; 0 reports
  // every event.
  std::uint32_t progress_interval_ms = 0;
  // When not null: the operation stops at its next chunk once it is not 0.
  const volatile int* cancel = nullptr;
  // Each piece that a verify judges, and each piece file that a merge leaves
  // in place: past the record, or, when it only tidies, one whose bytes are
  // not its record's or that it cannot read.
  PieceCallback on_piece = nullptr;
  void* piece_context = nullptr;
  // Filled with what stopped the operation, when it fails; may be null.
  FailureReport* failure = nullptr;
  // Filled with what it did; may be null.
  OperationFacts* facts = nullptr;
  // The longest name, with its terminator, that it takes: the exports take
  // 259 characters, as their hosts expect.
  std::size_t name_capacity = kNameCapacity;
  std::uint32_t flags = 0;
  // The folder that holds the pieces and the manifest, named after the
  // path's base name; empty: beside the path.
  std::wstring piece_folder;
};

// The size of one transfer between files: every chunk is written exactly as
// it was read.
constexpr std::uint32_t kChunkSize = 524288;

// The largest piece of a split of `piece_size_mib` MiB: the count
// sign-extended to 64 bits and read as unsigned, so that 0 is a piece of one
// chunk after an empty piece 0 and a negative count a limit never reached.
constexpr std::uint64_t PieceLimit(std::int32_t piece_size_mib) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(piece_size_mib) * 1048576);
}

// Cuts `path` into pieces of at most `piece_limit` bytes (whole chunks:
// a piece holds as many as fit, and at least one), records them in the
// manifest, makes pieces, manifest and folder durable, then deletes the
// source. Never throws.
ResultCode Split(const wchar_t* path, std::uint64_t piece_limit,
                 const OperationOptions& options = OperationOptions());
// A count of MiB is no count of bytes: PieceLimit(mib) turns one into the
// other, and a plain number does not compile.
ResultCode Split(const wchar_t* path, int piece_size_mib,
                 const OperationOptions& options = OperationOptions()) = delete;

// Rebuilds `path` from its pieces, proving each before appending it and
// making the rebuilt file durable before the piece is deleted, then proves
// the whole and deletes the manifest. A file already at `path` beside the
// manifest is taken as the work of an earlier merge: when it is the whole,
// the pieces and the manifest left beside it are deleted; when it begins
// with the first pieces joined in order (and at most the first bytes of the
// next), joining goes on from there; anything else is left untouched
// (RC_DIGEST_MISMATCH). A merge that fails leaves its file holding exactly
// the pieces it joined whole. Never throws.
ResultCode Merge(const wchar_t* path, const OperationOptions& options = OperationOptions());

// Gives the original of `path`, from its pieces, to `output`, proving each
// piece as it goes out and the whole at the end (RC_DIGEST_MISMATCH, after
// the bytes went out); a recorded piece that is missing stops it before a
// byte is written. Deletes nothing. Never throws.
ResultCode Stream(const wchar_t* path, OutputCallback output, void* output_context,
                  const OperationOptions& options = OperationOptions());

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_OPERATIONS_H_
