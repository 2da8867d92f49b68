// SPDX-License-Identifier: MIT
// What stopped an operation, told by the operation itself: the step, the file
// by its role and name, and the system's error. The tool words it for people;
// the exports fill none, and their result codes and last-error values are the
// same whether a report is asked for or not.
#ifndef TARVELIN_LIBRARY_FAILURE_REPORT_H_
#define TARVELIN_LIBRARY_FAILURE_REPORT_H_

#include <cstdint>
#include <string>

namespace tarvelin {

enum class FileRole {
  kNone,
  kSource,    // the file that a split cuts
  kPiece,     // piece `piece`
  kManifest,  // the manifest
  kRebuilt,   // the file that a merge rebuilds, or finds at its path
  kOutput,    // where a stream of the original goes (the host's callback)
};

enum class FailedStep {
  kNone,
  kBadPath,         // no path, an empty one, or one the system cannot take (not UTF-8)
  kNameTooLong,     // a derived name would not fit
  kDeviceName,      // a derived name names a device on this system (Windows: NUL, AUX, ...)
  kNotFound,        // the file is not there (the split's source, the manifest)
  kOpen,            // opening an existing file
  kCreate,          // creating a file
  kAppeared,        // a file appeared at a name between the look at it and its creation
  kNotOurs,         // a file at the merge's path that it may not write into: a link,
                    // a file with other names, or one that another user owns
  kMeasure,         // its size could not be read, and it held more bytes than measured
  kRead,            // reading, for a copy or a fingerprint
  kWrite,           // writing
  kRecord,          // recording a fingerprint in the manifest
  kCut,             // cutting the file back to the pieces that it holds whole
  kFlush,           // putting the file on stable storage
  kFlushFolder,     // putting the file's folder entries on stable storage
  kClose,           // closing a written file, which can report a late write error
  kDelete,          // deleting the file
  kClearStale,      // deleting output of an earlier split of the same source, proved
                    // stale by its bytes
  kMismatch,        // its fingerprint is not the recorded one
  kChanged,         // another program changed or replaced it while the operation ran
  kNoMemory,        // memory ran out
  kCancelled,       // the host asked the operation to stop
  kNoSpace,         // the file system has too little room for the operation
  kPartOfASplit,    // the path names the manifest or a piece of a split, not the file
  kBadOptions,      // an option out of range (the library's own functions)
  kTooLargeForMedium,  // pieces that the pieces' file system cannot hold (FAT: 4 GiB - 1)
  kNameNotAllowed,  // a name with a character that the pieces' file system refuses
  kReadBack,        // read back past the cache, the medium gave other bytes than written
};

struct FailureReport {
  FailedStep step = FailedStep::kNone;
  FileRole role = FileRole::kNone;
  std::int32_t piece = -1;  // for kPiece
  std::wstring file;        // the file's name, as derived from the path given
  std::uint32_t system_error = 0;  // the platform's last-error value, 0 for none
  // The system refused an open because another program holds the file
  // (a second split or merge, for instance).
  bool sharing_conflict = false;
  // For a mismatch of the whole: the manifest records no source fingerprint,
  // or the first recorded piece that was missing, so the join stopped short.
  bool source_unrecorded = false;
  std::int32_t missing_piece = -1;
  // For a mismatch of a piece: the manifest records the all-zero text for
  // it, which a splitter writes for a piece that it could not read.
  bool recorded_zero = false;
  // For a mismatch of a piece: its record is no fingerprint text at all.
  bool record_malformed = false;
  // For a mismatch of the file found at a merge's path: it does not begin
  // with the recorded pieces joined in order, so it was left as it was.
  bool not_resumable = false;

  bool failed() const { return step != FailedStep::kNone; }
};

// Records the failure that an operation is about to return into `report`,
// when one is asked for (it may be null), in place of anything recorded
// before: a failure that the operation tolerated is no longer the story.
void ReportFailure(FailureReport* report, FailedStep step, FileRole role, const wchar_t* file,
                   std::uint32_t system_error, std::int32_t piece = -1);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_FAILURE_REPORT_H_
