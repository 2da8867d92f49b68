// SPDX-License-Identifier: MIT
// The POSIX emulation of Windows' open sharing, and the per-thread last-error
// value. Every open that the POSIX backend makes (files and profile files)
// goes through OpenShared, so that the conflicts Windows refuses are refused
// between any two of them, in one process or in two. Processes that open
// files without this layer are not seen.
#ifndef TARVELIN_PLATFORM_POSIX_SHARED_OPEN_H_
#define TARVELIN_PLATFORM_POSIX_SHARED_OPEN_H_

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tarvelin::posix {

// Opens `utf8_path` with the access, sharing and disposition of CreateFileW.
// Returns a descriptor that holds the sharing for as long as it stays open
// (close it with close()), or -1 with *error set to a Win32 error code.
// Directories are refused; an existing file without write permission bits is
// refused for write access even to root; kCreateAlways truncates only after
// the sharing has been granted; kCreateNew fails with kErrorFileExists on any
// entry at the name and never follows a link, nor does kOpenExistingNoLink.
// Delete access refuses, and is refused by, every other open. A file created
// gets no group or other permission bit that `model_fd` (when not -1) lacks.
int OpenShared(const char* utf8_path, std::uint32_t access, std::uint32_t share,
               Disposition disposition, Attribute attribute, std::uint32_t* error,
               int model_fd = -1);

// A file that must stand at `path` as these say, in FileInformation's
// terms, while another is deleted.
struct KeptName {
  std::string path;  // UTF-8
  std::uint64_t size = 0;
  std::uint64_t modified = 0;  // FILETIME ticks
  std::uint64_t changed = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// The FILETIME ticks of a POSIX time: 100 ns since 1601-01-01 UTC.
std::uint64_t FileTimeOf(const struct timespec& time);

// Deletes the file that `fd` holds, which `utf8_path` named when it was
// opened and which was then as `opened` says: the name is renamed to a
// private one in the same folder, the file found there is compared with the
// held one, and only then unlinked; a file that had taken the name, a held
// file that another program wrote to since it was opened, or a kept file
// that is not at its name as it was, puts it back and returns
// kErrorFileExists. On a file system that cannot rename without replacing,
// the names are compared and the file unlinked at once. Returns 0 or a
// Win32 error code.
std::uint32_t DeleteHeld(int fd, const char* utf8_path, const struct stat& opened,
                         const std::vector<KeptName>& kept);

// True when some descriptor made by OpenShared holds the file at `utf8_path`
// open, in this process or another. DeleteFile refuses such a file, as
// Windows refuses to delete a file opened without delete sharing.
bool IsHeldOpen(const char* utf8_path);

// Deletes the regular file at `utf8_path` unless some descriptor made by
// OpenShared holds it, as DeleteFileW refuses a file opened without delete
// sharing. The check and the deletion are one step for OpenShared: an open
// that races the deletion either makes it fail or fails itself, as an open of
// a file being deleted fails on Windows. Returns 0 or a Win32 error code.
std::uint32_t DeleteUnlessHeld(const char* utf8_path);

// Serializes the profile functions' read-modify-write of one file across
// processes and stores: a shared lock for a reader, an exclusive one for a
// writer (`fd` must then be open for writing), held until `fd` is closed.
// Waits while another holds a conflicting lock. Returns 0 or an errno value.
int LockProfileUpdates(int fd, bool exclusive);

// The Win32 error code for an errno value.
std::uint32_t Win32ErrorFromErrno(int error_number);

// The same for a call that named `utf8_path`: a missing entry is
// kErrorFileNotFound when its folder exists and kErrorPathNotFound when not.
std::uint32_t Win32ErrorForPath(int error_number, const char* utf8_path);

// The calling thread's last-error value.
std::uint32_t ThreadLastError();
void SetThreadLastError(std::uint32_t error);

}  // namespace tarvelin::posix

#endif  // TARVELIN_PLATFORM_POSIX_SHARED_OPEN_H_
