// SPDX-License-Identifier: MIT
// The one interface through which Tarvelin touches the operating system.
//
// It is shaped after the Win32 calls that the split and the merge make, so that
// the Win32 backend is a thin pass-through and the POSIX backend an emulation of
// exactly what the core relies on. Every method states its contract; a backend
// that keeps it is interchangeable with the others, and tests wrap a real
// backend to inject faults and to record the order of calls.
//
// Error reporting follows Win32: a failing call returns its failure value
// (false, kInvalidHandle, 0xFFFFFFFF, 0) and sets the calling thread's
// last-error value to a Win32 error code (see platform_errors.h). A successful
// call may leave the last-error value unchanged.
#ifndef TARVELIN_PLATFORM_PLATFORM_H_
#define TARVELIN_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/background_thread.h"
#include "platform/disk_space.h"

namespace tarvelin {

// An open file. Backends own what it points to; callers only pass it back.
using FileHandle = void*;

// The value CreateFile returns on failure, as INVALID_HANDLE_VALUE.
inline FileHandle InvalidHandle() { return reinterpret_cast<FileHandle>(static_cast<std::intptr_t>(-1)); }

// Access bits, as GENERIC_READ, GENERIC_WRITE and DELETE. kAccessDelete lets
// DeleteAndClose delete the file through the handle; since no open shares
// deletion, it is granted only while no other open holds the file, and no
// other open is granted while it lasts. kAccessAppend, with kAccessWrite,
// makes every write go to the end of the file as it stands then (O_APPEND),
// so that a file cut short by another program meanwhile shows in its size;
// on Windows, where the writer's sharing keeps other writers out, it changes
// nothing.
// kAccessUncached, with kAccessRead alone, makes reads come from the medium
// rather than from the system's cache, so that they prove what the medium
// holds: on Windows FILE_FLAG_NO_BUFFERING (reads then go into buffers
// aligned to kUncachedAlignment, in multiples of it; only the last read of
// a file comes back short); on POSIX the file's pages are flushed and then
// dropped from the cache as it is opened (posix_fadvise DONTNEED), so that
// the reads that follow go to the device.
enum : std::uint32_t {
  kAccessRead = 1u,
  kAccessWrite = 2u,
  kAccessDelete = 4u,
  kAccessAppend = 8u,
  kAccessUncached = 16u,
};
constexpr std::size_t kUncachedAlignment = 4096;

// Sharing bits, as FILE_SHARE_READ and FILE_SHARE_WRITE. 0 is exclusive.
enum : std::uint32_t { kShareNone = 0u, kShareRead = 1u, kShareWrite = 2u };

enum class Disposition {
  kOpenExisting,  // OPEN_EXISTING: fail if the file is missing.
  kCreateAlways,  // CREATE_ALWAYS: create, or truncate an existing file to 0 bytes.
  kOpenAlways,    // OPEN_ALWAYS: open, or create a missing file; never truncates.
  kCreateNew,     // CREATE_NEW: create; fail with kErrorFileExists when any entry
                  // (file, folder, symbolic link, even a dangling one) has the name.
  kOpenExistingNoLink,  // OPEN_EXISTING, but a symbolic link (or junction) at the
                        // name is refused with kErrorCantResolveFilename instead
                        // of followed, so the file opened is the one at the name.
};

enum class Attribute {
  kNormal,    // FILE_ATTRIBUTE_NORMAL: writable.
  kReadOnly,  // FILE_ATTRIBUTE_READONLY: opens for writing are refused.
};

// What GetFileInformationByHandle tells of an open file. Times count 100 ns
// ticks since 1601-01-01 UTC, as a FILETIME does. Two handles name the same
// file exactly when `volume` and `file_index` are both equal.
struct FileInformation {
  std::uint64_t size = 0;
  std::uint32_t links = 0;            // names the file has (hard links)
  std::uint64_t last_write_time = 0;  // its data last changed
  std::uint64_t change_time = 0;      // its data or its metadata last changed
  std::uint64_t volume = 0;           // volume serial number; st_dev on POSIX
  std::uint64_t file_index = 0;       // file index on the volume; st_ino on POSIX
  // The user running this process owns it (POSIX: its uid is the effective
  // one). Always true on Windows, where a file's access comes from its
  // folder's rules rather than from its owner.
  bool owned_by_caller = true;
};

// Whether two informations are of one file.
inline bool SameFile(const FileInformation& a, const FileInformation& b) {
  return a.volume == b.volume && a.file_index == b.file_index;
}

// Whether `now` is the file `then` was, with the same size and times: nobody
// has written, truncated or replaced it in between. The change time moves on
// any write and cannot be set back without special rights.
inline bool SameFileUnchanged(const FileInformation& then, const FileInformation& now) {
  return SameFile(then, now) && then.size == now.size &&
         then.last_write_time == now.last_write_time && then.change_time == now.change_time;
}

// A file that must stand unchanged at its name while another is deleted
// (DeleteAndClose). `held`, when the caller holds it, is the handle.
struct KeptFile {
  const wchar_t* path = nullptr;
  FileInformation expected;
  FileHandle held = nullptr;
};

// What a name refers to, the name itself not followed if it is a link.
enum class EntryKind {
  kNothing,  // no entry has the name (or its folder is missing)
  kFile,     // a regular file
  kDevice,   // POSIX only: a device, a pipe or a socket, which no operation takes
  kFolder,
  kLink,     // a symbolic link or other reparse point, dangling or not
};

struct EntryAttributes {
  EntryKind kind = EntryKind::kNothing;
  bool read_only = false;  // FILE_ATTRIBUTE_READONLY; on POSIX no write bit at all
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Opens or creates `path` (CreateFileW). `access` is a mix of kAccess* bits,
  // `share` the kShare* bits that this open allows others while it lasts.
  // Returns InvalidHandle() on failure: the file is missing (kOpenExisting),
  // something has the name (kCreateNew), it is a directory, it is read-only
  // and write access was asked for, or another open conflicts with this one's
  // access or sharing. A conflict is decided before anything changes:
  // kCreateAlways never truncates a file that another open refuses to share.
  // kCreateNew never follows a link: only a file it made itself is opened;
  // nor does kOpenExistingNoLink. Only regular files open: a folder, a device
  // or a pipe is refused with kErrorAccessDenied.
  // `attribute` applies to a file that gets created. So does `access_model`
  // (the security attributes of CreateFileW): a file created is no more open
  // to others than the file that `access_model` holds, from its first byte
  // on. On POSIX the group and other permission bits that the model lacks are
  // left out of the new file's mode (the owner always reads and writes, and
  // the umask still applies); on Windows a new file takes its folder's access
  // rules and the model changes nothing.
  virtual FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                                Disposition disposition, Attribute attribute,
                                FileHandle access_model = nullptr) = 0;

  // Reads up to `size` bytes at the file position (ReadFile). On success
  // stores the count in *bytes_read; 0 means the end of the file and nothing
  // else. Returns false on failure.
  virtual bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                        std::uint32_t* bytes_read) = 0;

  // Writes `size` bytes at the file position (WriteFile). A successful write
  // has written every byte unless it says otherwise in *bytes_written; the
  // POSIX backend loops over short writes and interruptions. Returns false on
  // failure (for instance a full disk).
  virtual bool WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                         std::uint32_t* bytes_written) = 0;

  // Puts the file's data and size on stable storage (FlushFileBuffers). The
  // handle must have write access. Returns false on failure.
  virtual bool FlushFileBuffers(FileHandle file) = 0;

  // Puts the entries of the folder that holds `path` (creations, deletions)
  // on stable storage. On Windows the file system journals them itself and
  // this returns true; on POSIX it is an fsync of the folder.
  virtual bool FlushFolderOf(const wchar_t* path) = 0;

  // Returns the low 32 bits of the file's size and stores the high 32 bits in
  // *high (GetFileSize). On failure returns 0xFFFFFFFF and sets a non-zero
  // last-error value; a real low half of 0xFFFFFFFF sets it to 0.
  virtual std::uint32_t GetFileSize(FileHandle file, std::uint32_t* high) = 0;

  // Moves the file position to `offset` bytes from the start
  // (SetFilePointerEx with FILE_BEGIN). A position past the end is allowed:
  // a read there reads nothing, a write there extends the file. Returns false
  // on failure; an offset of 2^63 or more fails with kErrorNegativeSeek, as
  // Windows reads it as a negative one.
  virtual bool SetFilePointer(FileHandle file, std::uint64_t offset) = 0;

  // Makes the file position the end of the file (SetEndOfFile): bytes beyond
  // it are cut off, or the file is extended to it with zeros. The position
  // does not move. The handle must have write access (kErrorAccessDenied
  // otherwise). Returns false on failure (for instance a full disk).
  virtual bool SetEndOfFile(FileHandle file) = 0;

  // Fills *information for the open file (GetFileInformationByHandle, and
  // GetFileInformationByHandleEx's FileBasicInfo for the change time; fstat on
  // POSIX). Needs no access to the data. Returns false on failure.
  virtual bool GetFileInformationByHandle(FileHandle file, FileInformation* information) = 0;

  // Closes the handle (CloseHandle). Returns false for an invalid handle.
  virtual bool CloseHandle(FileHandle file) = 0;

  // Sets or clears the read-only attribute (SetFileAttributesW).
  virtual bool SetFileAttributes(const wchar_t* path, Attribute attribute) = 0;

  // Deletes the file (DeleteFileW). Succeeds on a read-only file; fails on a
  // missing file, a directory, and a file that some open holds.
  virtual bool DeleteFile(const wchar_t* path) = 0;

  // Deletes the file that `file` holds, read-only or not, and closes the
  // handle whether or not the deletion succeeds (SetFileInformationByHandle
  // with FileDispositionInfo, then CloseHandle). `file` must have been
  // opened with kAccessDelete. It is that file, and only that file, that
  // goes: on Windows the handle keeps its name bound to it; on POSIX, where
  // nothing deletes through a descriptor, the name is first renamed to a
  // private one in the same folder and the file found there is compared with
  // the held one, and with the file as it was opened. A file that has taken
  // the name, or a write to the held one since its open, puts it back and
  // fails the call with kErrorFileExists, deleting nothing.
  //
  // `kept` lists the files that hold the same bytes or vouch for them (a
  // split's pieces and manifest for its source, a merge's rebuilt file for a
  // piece): the file goes only while each stands at its name as `expected`
  // says (identity, size and times), compared in the same call, last thing
  // before the deletion; otherwise the call fails with kErrorFileExists.
  virtual bool DeleteAndClose(FileHandle file, const KeptFile* kept = nullptr,
                              std::size_t kept_count = 0) = 0;

  // Stores in *free_bytes the room left to this user on the file system that
  // holds the folder of `path` (GetDiskFreeSpaceExW; statvfs on POSIX).
  // Returns false when it cannot be asked.
  virtual bool GetDiskFreeSpace(const wchar_t* path, std::uint64_t* free_bytes) = 0;

  // Stores in *info the kind of file system that holds the folder of `path`
  // (GetVolumeInformationW; the mount table on Linux). Returns false when it
  // cannot be asked.
  virtual bool GetVolumeInformation(const wchar_t* path, FileSystemInformation* info) = 0;

  // True when a file or folder exists at `path` (PathFileExistsW).
  virtual bool PathFileExists(const wchar_t* path) = 0;

  // Tells what is at `path` itself, a link not followed (GetFileAttributesW;
  // lstat on POSIX). A missing name, or one whose folder is missing, is
  // EntryKind::kNothing and no failure. Returns false, with *attributes
  // unchanged, only when the name could not be looked at (a name too long,
  // a folder that may not be searched).
  virtual bool GetFileAttributes(const wchar_t* path, EntryAttributes* attributes) = 0;

  // The calling thread's last-error value (GetLastError, SetLastError).
  virtual std::uint32_t GetLastError() = 0;
  virtual void SetLastError(std::uint32_t error) = 0;

  // Reads `key` in `section` of the INI file at `path`
  // (GetPrivateProfileStringW). Section and key names compare without regard
  // to ASCII case. Copies the value, or `default_value` when the file, the
  // section or the key is missing, into `buffer` of `size` characters, cut to
  // size - 1 characters and always terminated. Returns the count copied. Any
  // bytes at all in the file are survived.
  virtual std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                                const wchar_t* default_value, wchar_t* buffer,
                                                std::uint32_t size, const wchar_t* path) = 0;

  // Sets `key` in `section` to `value` in the INI file at `path`
  // (WritePrivateProfileStringW), creating the file, the section or the key
  // as needed. The bytes written are those the Win32 function writes, so a
  // manifest moves between systems unchanged. Returns false on failure.
  virtual bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                         const wchar_t* value, const wchar_t* path) = 0;

  // Starts a thread that runs jobs beside the caller's (CreateThread). Returns
  // null when the system gives none; the caller then does the work itself,
  // so a null here costs speed, never a result. The last-error value is
  // left as it was either way.
  virtual std::unique_ptr<BackgroundThread> CreateBackgroundThread() = 0;
};

// The backend that CMake chose for this build, for callers that are given
// none. It lives for the life of the process and is safe to use from any
// thread.
Platform& DefaultPlatform();

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_PLATFORM_H_
