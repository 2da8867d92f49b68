// SPDX-License-Identifier: MIT
#include "cli/failure_words.h"

#include "cli/messages.h"
#include "platform/platform_errors.h"

namespace tarvelin::cli {
namespace {

// "piece disk.3", "the manifest disk.DAT" or "it" (the path given) for a
// file that one of the operations touched.
std::string Which(const FileNames& names, const std::wstring& path) {
  if (path == names.path) return "it";
  if (path == names.manifest) return "the manifest " + Shown(path);
  if (path.size() > names.base.size() + 1 && path.compare(0, names.base.size(), names.base) == 0 &&
      path[names.base.size()] == L'.') {
    return "piece " + Shown(path);
  }
  return Shown(path);
}

std::string Reason(const TracedFailure& failure) {
  return failure.op == TracedOp::kStreamOpen ? ErrnoWords(static_cast<int>(failure.error))
                                             : SystemErrorWords(failure.error);
}

std::string PieceText(const FileNames& names, std::int32_t n) {
  return "piece " + Shown(names.Piece(n));
}

// A failed open or creation: which file, and the system's reason.
std::string OpenWords(const Outcome& outcome) {
  const TracedFailure& failure =
      outcome.trace->Latest({TracedOp::kOpen, TracedOp::kCreate, TracedOp::kRead});
  if (!failure.happened) {
    // Nothing refused: the merge found something in the file it opened to
    // rebuild, which it never overwrites.
    if (outcome.trace->GetLastError() == kErrorFileExists) {
      return "a file that is not empty appeared at it as the merge began; it is left alone";
    }
    return "a file could not be opened: " + SystemErrorWords(outcome.trace->GetLastError());
  }
  const std::string which = Which(*outcome.names, failure.path);
  switch (failure.op) {
    case TracedOp::kCreate: return "cannot create " + which + ": " + Reason(failure);
    case TracedOp::kRead:
      return "cannot read " + which + " to see whether it is empty: " + Reason(failure);
    default: return "cannot open " + which + ": " + Reason(failure);
  }
}

// A read that failed: through the platform (then traced) or inside a
// fingerprint's stream (then the phase tells whose it was).
std::string ReadWords(const Outcome& outcome, const std::string& phase_file) {
  const TracedFailure& failure = outcome.trace->Latest({TracedOp::kRead, TracedOp::kStreamOpen});
  if (failure.happened) {
    const std::string which = Which(*outcome.names, failure.path);
    if (failure.op == TracedOp::kStreamOpen) {
      return "cannot open " + which + " to fingerprint it: " + Reason(failure);
    }
    return "reading " + which + " failed: " + Reason(failure);
  }
  if (outcome.trace->GetLastError() == kErrorNotEnoughMemory) return "not enough memory";
  return "a read of " + phase_file + " failed part way";
}

std::string WriteWords(const Outcome& outcome) {
  const TracedFailure& failure = outcome.trace->Latest(
      {TracedOp::kWrite, TracedOp::kFlush, TracedOp::kFlushFolder, TracedOp::kOpen,
       TracedOp::kClose});
  if (!failure.happened) return "a write failed";
  const std::string which = Which(*outcome.names, failure.path);
  switch (failure.op) {
    case TracedOp::kWrite: return "writing " + which + " failed: " + Reason(failure);
    case TracedOp::kClose: return "closing " + which + " after writing it failed: " + Reason(failure);
    case TracedOp::kFlush:
      return "putting " + which + " on stable storage failed: " + Reason(failure);
    case TracedOp::kFlushFolder:
      return "putting " + (which == "it" ? std::string("its folder") : "the folder of " + which) +
             " on stable storage failed: " + Reason(failure);
    default: return "cannot open " + which + " to put it on stable storage: " + Reason(failure);
  }
}

// The file that the phase of the last event was reading.
std::string PhaseFile(const Outcome& outcome) {
  const ProgressEvent& event = outcome.watch->last();
  if (!outcome.watch->seen()) return "a file";
  switch (event.phase) {
    case Phase::kFingerprintSource:
    case Phase::kFlushPieces:
    case Phase::kVerifyWhole: return "it";
    default: return PieceText(*outcome.names, event.piece);
  }
}

}  // namespace

const char kTooLongWords[] =
    "the path is too long: with the manifest's \".DAT\" or a piece's number added, a name "
    "must stay within 259 characters";

std::string DescribeSplitFailure(ResultCode code, const Outcome& outcome) {
  switch (code) {
    case RC_INVALID_PATH: return kTooLongWords;
    case RC_SOURCE_NOT_FOUND: return "no such file";
    case RC_FILE_OPEN: return OpenWords(outcome);
    case RC_FILE_READ: {
      const ProgressEvent& event = outcome.watch->last();
      // The copy read more bytes than the source measured: its size could
      // not be read, and the pieces would not be trusted.
      if (outcome.watch->seen() && event.phase == Phase::kCutPiece &&
          !outcome.trace->Last(TracedOp::kRead).happened &&
          outcome.trace->GetLastError() == kErrorReadFault) {
        return "its size could not be measured, and it held more bytes than measured";
      }
      return ReadWords(outcome, PhaseFile(outcome));
    }
    case RC_MANIFEST_WRITE: {
      const TracedFailure& failure = outcome.trace->Last(TracedOp::kProfileWrite);
      return "cannot record a fingerprint in the manifest " + Shown(outcome.names->manifest) +
             (failure.happened ? ": " + Reason(failure) : "");
    }
    case RC_FILE_WRITE: return WriteWords(outcome);
    case RC_FILE_DELETE: {
      const TracedFailure& failure = outcome.trace->Last(TracedOp::kDelete);
      return "every piece and the manifest are written, but it could not be deleted" +
             (failure.happened ? ": " + Reason(failure) : "");
    }
    default: break;
  }
  return "the split failed";
}

std::string DescribeMergeFailure(ResultCode code, const Outcome& outcome) {
  const FileNames& names = *outcome.names;
  const ProgressEvent& event = outcome.watch->last();
  switch (code) {
    case RC_INVALID_PATH: return kTooLongWords;
    case RC_MANIFEST_NOT_FOUND: return "no manifest " + Shown(names.manifest) + " beside it";
    case RC_FILE_OPEN: return OpenWords(outcome);
    case RC_DIGEST_MISMATCH: {
      if (outcome.file_existed) {
        return "it already exists and does not match the recorded fingerprint of the source "
               "(a merge that stopped part way leaves in it the pieces that it joined)";
      }
      if (outcome.watch->seen() && event.phase == Phase::kVerifyPiece) {
        return PieceText(names, event.piece) + " does not match its recorded fingerprint";
      }
      if (!SourceFingerprintRecorded(*outcome.trace, names)) {
        return "the manifest " + Shown(names.manifest) +
               " records no fingerprint of the source, so the rebuilt file cannot be proved";
      }
      const std::int32_t next = outcome.watch->last_joined() + 1;
      if (outcome.watch->seen() && next < event.piece_count) {
        return PieceText(names, next) + " is missing, so the rebuilt file does not match the "
               "recorded fingerprint of the source";
      }
      return "the rebuilt file does not match the recorded fingerprint of the source";
    }
    case RC_FILE_READ: {
      if (outcome.watch->seen() && event.phase == Phase::kJoinPiece &&
          !outcome.trace->Last(TracedOp::kRead).happened &&
          outcome.trace->GetLastError() == kErrorReadFault) {
        return "the size of " + PieceText(names, event.piece) +
               " could not be measured, and it held more bytes than measured";
      }
      return ReadWords(outcome, PhaseFile(outcome));
    }
    case RC_FILE_WRITE: return WriteWords(outcome);
    case RC_FILE_DELETE: {
      const TracedFailure& failure = outcome.trace->Last(TracedOp::kDelete);
      const std::string reason = failure.happened ? ": " + Reason(failure) : "";
      if (failure.happened && failure.path == names.manifest) {
        return "it is rebuilt and proved, but the manifest " + Shown(names.manifest) +
               " could not be deleted" + reason;
      }
      return (failure.happened ? Which(names, failure.path) : std::string("a piece")) +
             " is joined but could not be deleted" + reason;
    }
    default: break;
  }
  return "the merge failed";
}

std::string DescribeVerifyVerdict(ResultCode code, const FileNames& names,
                                  const VerifyReport& report) {
  const PieceCheck* deciding =
      report.deciding_piece >= 0 &&
              static_cast<std::size_t>(report.deciding_piece) < report.pieces.size()
          ? &report.pieces[static_cast<std::size_t>(report.deciding_piece)]
          : nullptr;
  switch (code) {
    case RC_INVALID_PATH: return kTooLongWords;
    case RC_MANIFEST_NOT_FOUND: return "no manifest " + Shown(names.manifest) + " beside it";
    case RC_FILE_OPEN:
    case RC_FILE_READ:
      if (deciding != nullptr) {
        return "piece " + Shown(deciding->name) + " cannot be " +
               (deciding->open_failed ? "opened: " : "read: ") + SystemErrorWords(deciding->error);
      }
      if (report.existing == WholeState::kUnreadable) return "it exists but cannot be read whole";
      return "not enough memory";
    case RC_DIGEST_MISMATCH:
      if (deciding != nullptr) {
        return "piece " + Shown(deciding->name) + " does not match its recorded fingerprint";
      }
      if (report.file_exists) {
        return "it already exists and does not match the recorded fingerprint of the source";
      }
      if (!report.source_fingerprint_recorded) {
        return "the manifest " + Shown(names.manifest) + " records no fingerprint of the source";
      }
      if (report.joined == WholeState::kIncomplete && report.joined_stop >= 0) {
        return "piece " + Shown(names.Piece(report.joined_stop)) +
               " is missing, so the pieces before it do not make up the source";
      }
      return "the pieces joined do not match the recorded fingerprint of the source";
    default: break;
  }
  return "a merge would fail";
}

}  // namespace tarvelin::cli
