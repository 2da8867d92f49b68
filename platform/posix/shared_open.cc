// SPDX-License-Identifier: MIT
// Windows' sharing rule, emulated with open-file-description (OFD) locks.
//
// Windows lets a new open of a file succeed only when, for every open E that
// already holds it, the new access is within E's sharing and E's access is
// within the new sharing. Here every open holds shared locks on marker bytes
// far beyond any real file data, one marker per fact that others must know:
// "has read access", "has write access", "refuses to share reading",
// "refuses to share writing". After taking its own markers a new open probes,
// with a would-be exclusive lock, the markers that conflict with it; any
// holder other than its own description is a conflict. Because each open
// publishes its markers before it probes, two racing opens that conflict at
// worst both fail; they never both succeed. As on Windows, an open that asks
// for no access to the data takes no part in sharing at all.
//
// OFD locks belong to the open file description, not to the process: two
// opens in one process conflict like opens in two processes, a forked child
// shares its parent's descriptions (and so its sharing) until both close, and
// closing one descriptor releases exactly that open's markers. Shared locks
// need a descriptor open for reading, so every descriptor here is.
//
// Unseen: opens by programs that do not use this layer, and the markers of a
// file that the prober may not read (see IsHeldOpen). Where a file system
// refuses OFD locks, opens fail rather than go ahead unprotected.
#include "platform/posix/shared_open.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/platform_errors.h"

namespace tarvelin::posix {
namespace {

// Markers sit near the top of the 63-bit offset range, where no file grows.
// A 32-bit off_t would cut that offset to nothing and put them on real data.
static_assert(sizeof(off_t) == 8, "the sharing markers need a 64-bit off_t");
constexpr off_t kMarkerBase = 0x7FFFFFFF00000000LL;

enum Marker : off_t {
  kMarkerHasRead,
  kMarkerHasWrite,
  kMarkerDeniesRead,
  kMarkerDeniesWrite,
  kMarkerCount,
};

// The byte that profile updates lock, apart from the sharing markers.
constexpr off_t kProfileUpdateByte = 16;

// An open refuses a create-or-open loop after this many races with others
// that create and remove the same name (or a dangling symbolic link).
constexpr int kCreateAttempts = 8;

thread_local std::uint32_t t_last_error = kErrorSuccess;

struct flock MarkerLock(short type, off_t first, off_t count) {
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);  // l_pid must be 0 for OFD locks.
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kMarkerBase + first;
  lock.l_len = count;
  return lock;
}

// Returns 0, or an errno value.
int HoldMarker(int fd, Marker marker) {
  struct flock lock = MarkerLock(F_RDLCK, marker, 1);
  return fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 0 : errno;
}

// Sets *held when another open file description holds a marker in
// [first, first + count). Returns 0, or an errno value.
int OthersHoldMarkers(int fd, off_t first, off_t count, bool* held) {
  struct flock lock = MarkerLock(F_WRLCK, first, count);
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return errno;
  *held = lock.l_type != F_UNLCK;
  return 0;
}

// Publishes this open's markers, then looks for a conflicting holder.
// Truncation counts as write access: no open that refuses to share writing
// may see its file cut. Returns a Win32 error code, 0 when the sharing is
// granted.
std::uint32_t ClaimSharing(int fd, std::uint32_t access, std::uint32_t share) {
  const bool reads = (access & kAccessRead) != 0;
  const bool writes = (access & kAccessWrite) != 0;
  // No open here shares deletion, so one that may delete may coexist with
  // no other: it takes part as an open that shares nothing.
  const bool deletes = (access & kAccessDelete) != 0;
  if (!reads && !writes && !deletes) return kErrorSuccess;
  const bool denies_read = deletes || (share & kShareRead) == 0;
  const bool denies_write = deletes || (share & kShareWrite) == 0;

  struct Claim {
    bool wanted;
    Marker own;
  } const claims[] = {
      {reads, kMarkerHasRead},
      {writes, kMarkerHasWrite},
      {denies_read, kMarkerDeniesRead},
      {denies_write, kMarkerDeniesWrite},
  };
  for (const Claim& claim : claims) {
    if (!claim.wanted) continue;
    if (const int error = HoldMarker(fd, claim.own)) return Win32ErrorFromErrno(error);
  }

  struct Check {
    bool applies;
    Marker conflicting;
  } const checks[] = {
      {reads, kMarkerDeniesRead},
      {writes, kMarkerDeniesWrite},
      {denies_read, kMarkerHasRead},
      {denies_write, kMarkerHasWrite},
  };
  for (const Check& check : checks) {
    if (!check.applies) continue;
    bool held = false;
    if (const int error = OthersHoldMarkers(fd, check.conflicting, 1, &held)) {
      return Win32ErrorFromErrno(error);
    }
    if (held) return kErrorSharingViolation;
  }
  return kErrorSuccess;
}

// Opens `path` as `disposition` says; *created tells whether this call made
// the file. Knowing that matters: a file created read-only is still writable
// through the handle that created it. O_EXCL makes a creation fail on any
// entry at all, a link (even a dangling one) included, without following it.
// Returns -1 with errno set.
int OpenOrCreate(const char* path, int flags, Disposition disposition, mode_t mode,
                 bool* created) {
  *created = false;
  if (disposition == Disposition::kOpenExisting) return open(path, flags);
  if (disposition == Disposition::kOpenExistingNoLink) return open(path, flags | O_NOFOLLOW);
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    int fd = open(path, flags | O_CREAT | O_EXCL, mode);
    if (fd >= 0) {
      *created = true;
      return fd;
    }
    if (errno != EEXIST || disposition == Disposition::kCreateNew) return -1;
    fd = open(path, flags);
    if (fd >= 0 || errno != ENOENT) return fd;
    // Removed between the two opens, or a dangling symbolic link: try again.
  }
  return -1;
}

// A deletion takes part in sharing as an open that shares nothing: it
// publishes that it refuses reading and writing, then looks for anyone who
// reads or writes. It unlinks while it still holds its markers, so an open
// that gets past them afterwards finds its file unlinked (see OpenShared).
std::uint32_t ClaimForDeletion(int fd) {
  for (const Marker marker : {kMarkerDeniesRead, kMarkerDeniesWrite}) {
    if (const int error = HoldMarker(fd, marker)) return Win32ErrorFromErrno(error);
  }
  bool held = false;
  if (const int error = OthersHoldMarkers(fd, kMarkerHasRead, 2, &held)) {
    return Win32ErrorFromErrno(error);
  }
  return held ? kErrorSharingViolation : kErrorSuccess;
}

// True when the open file has lost its last name: a deletion went first.
bool IsUnlinked(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 && info.st_nlink == 0;
}

// Refuses what CreateFileW refuses once the object is open: anything but a
// regular file, and write access to an existing file without write
// permission bits (which root could otherwise write).
std::uint32_t CheckOpenedFile(int fd, bool needs_write_permission) {
  struct stat info;
  if (fstat(fd, &info) != 0) return Win32ErrorFromErrno(errno);
  if (!S_ISREG(info.st_mode)) return kErrorAccessDenied;
  if (needs_write_permission && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    return kErrorAccessDenied;
  }
  return kErrorSuccess;
}

// Empties an existing file for kCreateAlways, which also gives it the
// requested attribute, as CreateFileW does when it overwrites.
std::uint32_t Overwrite(int fd, Attribute attribute) {
  if (ftruncate(fd, 0) != 0) return Win32ErrorFromErrno(errno);
  if (attribute == Attribute::kReadOnly) {
    struct stat info;
    if (fstat(fd, &info) != 0 ||
        fchmod(fd, info.st_mode & 07777 & ~(S_IWUSR | S_IWGRP | S_IWOTH)) != 0) {
      return Win32ErrorFromErrno(errno);
    }
  }
  return kErrorSuccess;
}

std::uint32_t ClearNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return Win32ErrorFromErrno(errno);
  return kErrorSuccess;
}

bool FolderOfExists(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr || slash == path) return true;  // "." or "/"
  char folder[PATH_MAX];
  const std::size_t length = static_cast<std::size_t>(slash - path);
  if (length >= sizeof folder) return true;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  struct stat info;
  return stat(folder, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

// Dirty pages cannot be dropped: they go to the device first, and then the
// clean ones are let go, so that the reads that follow come from the device.
static std::uint32_t DropCachedPages(int fd) {
  if (fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS) return Win32ErrorFromErrno(errno);
#if defined(POSIX_FADV_DONTNEED)
  const int advice = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  if (advice != 0) return Win32ErrorFromErrno(advice);
#endif
  return kErrorSuccess;
}

int OpenShared(const char* utf8_path, std::uint32_t access, std::uint32_t share,
               Disposition disposition, Attribute attribute, std::uint32_t* error,
               int model_fd) {
  std::uint32_t ignored = 0;
  if (error == nullptr) error = &ignored;
  if (utf8_path == nullptr || utf8_path[0] == '\0') {
    *error = kErrorPathNotFound;
    return -1;
  }
  if ((access & ~(kAccessRead | kAccessWrite | kAccessDelete | kAccessAppend |
                 kAccessUncached)) != 0 ||
      (share & ~(kShareRead | kShareWrite)) != 0) {
    *error = kErrorInvalidParameter;
    return -1;
  }

  // Truncation needs a writable descriptor even when the caller asked only to
  // read. O_NONBLOCK keeps the open of a FIFO from waiting for a peer; such
  // files are refused right after.
  const bool truncates = disposition == Disposition::kCreateAlways;
  const bool writable = (access & kAccessWrite) != 0 || truncates;
  const int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK |
                    ((access & kAccessAppend) != 0 ? O_APPEND : 0);
  mode_t mode = attribute == Attribute::kReadOnly ? 0444 : 0666;
  if (model_fd >= 0) {
    struct stat model;
    if (fstat(model_fd, &model) != 0) {
      *error = Win32ErrorFromErrno(errno);
      return -1;
    }
    mode &= ~((S_IRWXG | S_IRWXO) & ~model.st_mode);
  }

  bool created = false;
  const int fd = OpenOrCreate(utf8_path, flags, disposition, mode, &created);
  if (fd < 0) {
    *error = Win32ErrorForPath(errno, utf8_path);
    return -1;
  }

  std::uint32_t failure = CheckOpenedFile(fd, writable && !created);
  const std::uint32_t shared_access = access | (truncates ? kAccessWrite : 0u);
  if (failure == kErrorSuccess) failure = ClaimSharing(fd, shared_access, share);
  // Opened by name just before a deletion took it away: as on Windows, an
  // open of a file being deleted is refused.
  if (failure == kErrorSuccess && shared_access != 0 && IsUnlinked(fd)) {
    failure = kErrorAccessDenied;
  }
  if (failure == kErrorSuccess && truncates && !created) failure = Overwrite(fd, attribute);
  if (failure == kErrorSuccess) failure = ClearNonBlocking(fd);
  if (failure == kErrorSuccess && (access & kAccessUncached) != 0) failure = DropCachedPages(fd);
  if (failure != kErrorSuccess) {
    close(fd);
    *error = failure;
    return -1;
  }
  return fd;
}

bool IsHeldOpen(const char* utf8_path) {
  if (utf8_path == nullptr) return false;
  // Probing needs a descriptor. A file that this process may not read (held,
  // say, by another user's process) cannot be probed and counts as not held.
  const int fd = open(utf8_path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  bool held = false;
  OthersHoldMarkers(fd, 0, kMarkerCount, &held);
  close(fd);
  return held;
}

std::uint32_t DeleteUnlessHeld(const char* utf8_path) {
  const int fd = open(utf8_path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  // A file that this process may not read cannot be probed (see IsHeldOpen).
  std::uint32_t failure = fd < 0 ? kErrorSuccess : ClaimForDeletion(fd);
  if (failure == kErrorSuccess && unlink(utf8_path) != 0) {
    failure = Win32ErrorForPath(errno, utf8_path);
  }
  if (fd >= 0) close(fd);
  return failure;
}

namespace {

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether nobody wrote to the file between the two looks. The change time
// is not compared: the rename to the private name moves it.
bool SameContent(const struct stat& then, const struct stat& now) {
  return then.st_size == now.st_size && SameTime(then.st_mtim, now.st_mtim);
}

// A name in the folder of `path` that nobody else uses: hidden, naming the
// file it stands for (so that one left by a process killed in the instant
// between the rename and the deletion is recognised), this process and a
// count.
std::string PrivateNameBeside(const char* path, unsigned attempt) {
  static std::atomic<unsigned> count{0};
  const char* slash = std::strrchr(path, '/');
  const char* name = slash == nullptr ? path : slash + 1;
  std::string hidden = slash == nullptr ? std::string() : std::string(path, slash + 1);
  hidden += "." + std::string(name).substr(0, 160) + ".tarvelin-deleting-" +
            std::to_string(getpid()) + "-" + std::to_string(count.fetch_add(1) + attempt);
  return hidden;
}

}  // namespace

std::uint64_t FileTimeOf(const struct timespec& time) {
  constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600u;
  constexpr std::uint64_t kTicksPerSecond = 10000000u;
  return (static_cast<std::uint64_t>(time.tv_sec) + kSecondsFrom1601To1970) * kTicksPerSecond +
         static_cast<std::uint64_t>(time.tv_nsec) / 100u;
}

std::uint32_t DeleteHeld(int fd, const char* utf8_path, const struct stat& opened,
                         const std::vector<KeptName>& kept) {
  struct stat held;
  if (fstat(fd, &held) != 0) return Win32ErrorFromErrno(errno);
  if (!SameContent(opened, held) || !SameTime(opened.st_ctim, held.st_ctim)) {
    return kErrorFileExists;
  }
  // Nobody wrote to it since the last look: its size and modification time
  // are as they were, after the rename too.
  const auto unwritten = [&] {
    struct stat now;
    return fstat(fd, &now) == 0 && SameContent(held, now);
  };
  // Whether every file that holds these bytes or vouches for them stands at
  // its name as it was.
  const auto kept_in_place = [&] {
    for (const KeptName& name : kept) {
      struct stat at_name;
      if (lstat(name.path.c_str(), &at_name) != 0 ||
          static_cast<std::uint64_t>(at_name.st_dev) != name.device ||
          static_cast<std::uint64_t>(at_name.st_ino) != name.inode ||
          static_cast<std::uint64_t>(at_name.st_size) != name.size ||
          FileTimeOf(at_name.st_mtim) != name.modified ||
          FileTimeOf(at_name.st_ctim) != name.changed) {
        return false;
      }
    }
    return true;
  };
  struct stat found;
#if defined(__linux__)
  for (unsigned attempt = 0; attempt < 8; ++attempt) {
    const std::string hidden = PrivateNameBeside(utf8_path, attempt);
    if (renameat2(AT_FDCWD, utf8_path, AT_FDCWD, hidden.c_str(), RENAME_NOREPLACE) != 0) {
      if (errno == EEXIST) continue;
      if (errno == EINVAL || errno == ENOSYS) break;  // no such rename here
      return Win32ErrorForPath(errno, utf8_path);
    }
    // What was moved is what sat at the name: if it is not the held file,
    // or the files that vouch for it are not as they were, it goes back.
    if (lstat(hidden.c_str(), &found) != 0 || !SameInode(found, held) || !unwritten() ||
        !kept_in_place()) {
      renameat2(AT_FDCWD, hidden.c_str(), AT_FDCWD, utf8_path, RENAME_NOREPLACE);
      return kErrorFileExists;
    }
    if (unlink(hidden.c_str()) != 0) {
      const int unlink_error = errno;
      renameat2(AT_FDCWD, hidden.c_str(), AT_FDCWD, utf8_path, RENAME_NOREPLACE);
      return Win32ErrorFromErrno(unlink_error);
    }
    return kErrorSuccess;
  }
#endif
  if (lstat(utf8_path, &found) != 0) return Win32ErrorForPath(errno, utf8_path);
  if (!SameInode(found, held) || !unwritten() || !kept_in_place()) return kErrorFileExists;
  if (unlink(utf8_path) != 0) return Win32ErrorForPath(errno, utf8_path);
  return kErrorSuccess;
}

int LockProfileUpdates(int fd, bool exclusive) {
  struct flock lock = MarkerLock(exclusive ? F_WRLCK : F_RDLCK, kProfileUpdateByte, 1);
  while (fcntl(fd, F_OFD_SETLKW, &lock) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

std::uint32_t Win32ErrorFromErrno(int error_number) {
  switch (error_number) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case EROFS:
      return kErrorWriteProtect;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EAGAIN:
    case ETXTBSY:
      return kErrorSharingViolation;
    case EEXIST:
      return kErrorFileExists;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case EFBIG:
      return kErrorFileTooLarge;
    case ELOOP:
      return kErrorCantResolveFilename;
    default:
      // EIO and everything without a closer Win32 meaning.
      return kErrorIoDevice;
  }
}

std::uint32_t Win32ErrorForPath(int error_number, const char* utf8_path) {
  if (error_number == ENOENT && utf8_path != nullptr && !FolderOfExists(utf8_path)) {
    return kErrorPathNotFound;
  }
  return Win32ErrorFromErrno(error_number);
}

std::uint32_t ThreadLastError() { return t_last_error; }

void SetThreadLastError(std::uint32_t error) { t_last_error = error; }

}  // namespace tarvelin::posix
