// SPDX-License-Identifier: MIT
#include "cli/failure_words.h"

#include "cli/messages.h"
#include "platform/platform_errors.h"

namespace tarvelin::cli {
namespace {

// "it" (the path given), "the manifest disk.DAT" or "piece disk.3".
std::string Which(const FailureReport& report, const FailureContext& context) {
  switch (report.role) {
    case FileRole::kSource:
    case FileRole::kRebuilt:
      return report.file == context.set->path() ? "it" : Shown(report.file);
    case FileRole::kManifest: return "the manifest " + Shown(report.file);
    case FileRole::kPiece: return "piece " + Shown(report.file);
    case FileRole::kNone: break;
  }
  return "a file";
}

std::string Reason(const FailureReport& report, const FailureContext& context) {
  if (report.sharing_conflict) return SystemErrorWords(kErrorSharingViolation);
  return FileErrorWords(*context.platform, report.file, report.system_error);
}

std::string MismatchWords(ResultCode code, const FailureReport& report,
                          const FailureContext& context) {
  const std::string manifest = Shown(context.set->manifest());
  if (code == RC_FILE_WRITE) {
    return "the pieces, read back, do not join into it: another program wrote to one of them "
           "while the split ran; it is kept (run the split again)";
  }
  if (report.role == FileRole::kPiece && report.recorded_zero) {
    return "the manifest " + manifest + " records the all-zero fingerprint for piece " +
           Shown(report.file) + ", which a splitter writes when it could not read the piece "
           "(a name outside ASCII, for one), so the piece cannot be proved";
  }
  if (report.role == FileRole::kPiece) {
    return "piece " + Shown(report.file) + " does not match its recorded fingerprint";
  }
  if (report.source_unrecorded) {
    return "the manifest " + manifest + " records no fingerprint of the source, so " +
           (context.file_existed ? "it" : "the rebuilt file") + " cannot be proved";
  }
  if (report.not_resumable && report.missing_piece >= 0) {
    return "it already exists, and the bytes after the pieces joined in it cannot be checked "
           "against piece " + Shown(context.set->PieceName(report.missing_piece)) +
           ", which is missing; it is left as it is";
  }
  if (report.not_resumable) {
    return "it already exists and does not begin with the recorded pieces joined in order, as "
           "a merge that stopped part way leaves it; it is left as it is";
  }
  if (report.missing_piece >= 0) {
    return "piece " + Shown(context.set->PieceName(report.missing_piece)) +
           " is missing, so the pieces before it do not make up the source";
  }
  return "the pieces joined do not match the recorded fingerprint of the source";
}

std::string DeleteWords(const FailureReport& report, const FailureContext& context) {
  const std::string reason = ": " + Reason(report, context);
  switch (report.role) {
    case FileRole::kSource:
      return "every piece and the manifest are written, but it could not be deleted" + reason;
    case FileRole::kManifest:
      return "it is rebuilt and proved, but the manifest " + Shown(report.file) +
             " could not be deleted" + reason;
    default: break;
  }
  return Which(report, context) + " is joined but could not be deleted" + reason;
}

}  // namespace

// A file at the merge's path that it may not write into.
std::string NotOursWords(const FailureReport& report, const FailureContext& context) {
  std::string what = "it has other names, or another user owns it";
  if (report.system_error == kErrorCantResolveFilename) {
    what = "it is a symbolic link";
  } else {
    EntryAttributes entry;
    if (context.platform->GetFileAttributes(report.file.c_str(), &entry) &&
        entry.kind == EntryKind::kLink) {
      what = "it is a symbolic link";
    }
  }
  return "it is in the way: " + what + ", so a merge does not write into it; it is left alone";
}

std::string FileErrorWords(Platform& platform, const std::wstring& file, std::uint32_t error) {
  if (error == kErrorAccessDenied && !file.empty()) {
    EntryAttributes entry;
    if (platform.GetFileAttributes(file.c_str(), &entry)) {
      if (entry.kind == EntryKind::kFolder) return "it is a folder, not a file";
      if (entry.kind == EntryKind::kDevice) return "it is a device or a pipe, not a file";
    }
  }
  return SystemErrorWords(error);
}

const char kTooLongWords[] =
    "the path is too long: with the manifest's \".DAT\" or a piece's number added, a name "
    "must stay within 259 characters";

std::string DescribeFailure(ResultCode code, const FailureReport& report,
                            const FailureContext& context) {
  if (report.step == FailedStep::kDeviceName) {
    return "its name, or a name derived from it, is that of a Windows device (CON, PRN, AUX, "
           "NUL, COM0 to COM9, LPT0 to LPT9, with any extension), which is no file";
  }
  if (code == RC_INVALID_PATH) return kTooLongWords;
  const std::string which = Which(report, context);
  switch (report.step) {
    case FailedStep::kNone: break;
    case FailedStep::kNameTooLong:
    case FailedStep::kDeviceName: return kTooLongWords;
    case FailedStep::kNotFound:
      if (report.role == FileRole::kManifest) {
        return "no manifest " + Shown(report.file) + " beside it";
      }
      return "no such file";
    case FailedStep::kOpen: return "cannot open " + which + ": " + Reason(report, context);
    case FailedStep::kCreate:
      if (report.system_error == kErrorFileExists && report.role != FileRole::kRebuilt) {
        return which + " is in the way: it is not output of a split of this file, so nothing "
               "was changed (move it away, or merge the split it belongs to)";
      }
      return "cannot create " + which + ": " + Reason(report, context);
    case FailedStep::kAppeared:
      if (report.role == FileRole::kRebuilt) {
        return "a file appeared at it as the merge began to create it; it is left alone";
      }
      return which + " appeared while the split ran, put there by another program; it is left "
             "alone and the source is kept";
    case FailedStep::kNotOurs: return NotOursWords(report, context);
    case FailedStep::kMeasure:
      return "the size of " + which + " could not be measured, and it held more bytes than "
             "measured";
    case FailedStep::kRead: return "reading " + which + " failed: " + Reason(report, context);
    case FailedStep::kWrite: return "writing " + which + " failed: " + Reason(report, context);
    case FailedStep::kRecord:
      return "cannot record a fingerprint in " + which + ": " + Reason(report, context);
    case FailedStep::kCut:
      return "cutting " + which + " back to the pieces that it holds whole failed: " +
             Reason(report, context);
    case FailedStep::kFlush:
      return "putting " + which + " on stable storage failed: " + Reason(report, context);
    case FailedStep::kFlushFolder:
      return "putting the folder of " + which + " on stable storage failed: " +
             Reason(report, context);
    case FailedStep::kClose:
      return "closing " + which + " after writing it failed: " + Reason(report, context);
    case FailedStep::kDelete: return DeleteWords(report, context);
    case FailedStep::kClearStale:
      return "cannot clear " + which + ", left by an earlier split of this file: " +
             Reason(report, context);
    case FailedStep::kMismatch: return MismatchWords(code, report, context);
    case FailedStep::kNoMemory: return "not enough memory";
    case FailedStep::kChanged:
      if (report.step == FailedStep::kChanged && code == RC_FILE_DELETE) {
        return which + " was replaced or changed by another program after it was proved, so "
               "it is not deleted";
      }
      if (report.role == FileRole::kPiece) {
        return which + " was replaced or written to by another program after it was cut; the "
               "source is kept (run the split again)";
      }
      if (report.role == FileRole::kRebuilt) {
        return "it was moved, replaced or written to by another program while the merge ran; "
               "the pieces that it does not hold are kept";
      }
      if (report.role == FileRole::kManifest) {
        return which + " was moved, replaced or written to by another program while the split "
               "ran, so it may not rebuild the source; the source is kept (run the split "
               "again)";
      }
      return "it was changed by another program while the split ran; it is kept, and the "
             "pieces cut from it vouch for nothing (run the split again)";
  }
  return "it failed";
}

}  // namespace tarvelin::cli
