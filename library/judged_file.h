// SPDX-License-Identifier: MIT
// Acting on the file that was judged, not on whatever has its name since.
//
// An operation judges a file through a handle it holds: its identity, size
// and times come from that handle, and its bytes are read through it. What
// the operation then does to the file (writes into it, deletes it) it does
// only to that same file, unchanged: a file that another program has put at
// the name meanwhile, or has written since, is left alone.
#ifndef TARVELIN_LIBRARY_JUDGED_FILE_H_
#define TARVELIN_LIBRARY_JUDGED_FILE_H_

#include <vector>

#include "digest/md5.h"
#include "platform/platform.h"

namespace tarvelin {

// Whether a file found at one of an operation's names may be taken as its
// own to write into or delete: it has this one name (a second name would
// keep the bytes where the operation cannot see them, or show them to
// someone else) and belongs to the user running the operation.
bool MayBeOurs(const FileInformation& information);

// Whether the `size` bytes of `file` (open for reading, at its start) are
// those of `whole` (open for reading; its position is moved) from `place`
// on; the bytes compared are fed to `digest` when it is given. `buffer`
// holds `buffer_size` bytes, an even number. False also when a read fails or
// either file ends early.
bool HoldsBytesOf(Platform& platform, FileHandle file, std::uint64_t size, FileHandle whole,
                  std::uint64_t whole_size, std::uint64_t place, unsigned char* buffer,
                  std::uint32_t buffer_size, Md5Context* digest = nullptr);

// Fills *information for the file at `path`, a link not followed, through an
// open for no access to the data, which no sharing refuses. False, with the
// open's last error, when nothing (or a link) is there or it cannot be
// opened.
bool LookAt(Platform& platform, const wchar_t* path, FileInformation* information);

enum class NameCheck {
  kHeld,    // the name names the held file
  kOther,   // another file, a link, or nothing has the name (kErrorFileExists)
  kFailed,  // a call failed; its last-error value stands
};

// Whether `path` names, without a link, the file that `held` holds. The
// name is opened for no access to the data, which no sharing refuses, so it
// works beside a holder that shares nothing. On Windows such a holder keeps
// its name bound to its file; on POSIX a file renamed over it, or a link put
// in its place, is seen here.
NameCheck CheckName(Platform& platform, const wchar_t* path, FileHandle held);

enum class Deletion {
  kDeleted,  // the judged file is gone
  kGone,     // nothing had the name any more; nothing was deleted
  kChanged,  // another file had the name, or the judged one had changed:
             // nothing was deleted, last error kErrorFileExists
  kFailed,   // the open or the deletion failed, and its last error stands (a
             // program that still has the file open gives a sharing violation)
};

// Deletes the file at `path` when it is the file `judged` describes, with
// the same size and times. The file is opened with delete access, which no
// other open may share, and a link at the name is not followed, so nothing
// can come between the comparison and the deletion. Only while each of
// `kept` stands at its name as it was (Platform::DeleteAndClose): the files
// that hold the same bytes, or vouch for them.
Deletion DeleteIfUnchanged(Platform& platform, const wchar_t* path,
                           const FileInformation& judged,
                           const std::vector<KeptFile>& kept = {});

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_JUDGED_FILE_H_
