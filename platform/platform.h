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

#include <cstdint>
#include <cstdio>

namespace tarvelin {

// An open file. Backends own what it points to; callers only pass it back.
using FileHandle = void*;

// The value CreateFile returns on failure, as INVALID_HANDLE_VALUE.
inline FileHandle InvalidHandle() { return reinterpret_cast<FileHandle>(static_cast<std::intptr_t>(-1)); }

// Access bits, as GENERIC_READ and GENERIC_WRITE.
enum : std::uint32_t { kAccessRead = 1u, kAccessWrite = 2u };

// Sharing bits, as FILE_SHARE_READ and FILE_SHARE_WRITE. 0 is exclusive.
enum : std::uint32_t { kShareNone = 0u, kShareRead = 1u, kShareWrite = 2u };

enum class Disposition {
  kOpenExisting,  // OPEN_EXISTING: fail if the file is missing.
  kCreateAlways,  // CREATE_ALWAYS: create, or truncate an existing file to 0 bytes.
  kOpenAlways,    // OPEN_ALWAYS: open, or create a missing file; never truncates.
};

enum class Attribute {
  kNormal,    // FILE_ATTRIBUTE_NORMAL: writable.
  kReadOnly,  // FILE_ATTRIBUTE_READONLY: opens for writing are refused.
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Opens or creates `path` (CreateFileW). `access` is a mix of kAccess* bits,
  // `share` the kShare* bits that this open allows others while it lasts.
  // Returns InvalidHandle() on failure: the file is missing (kOpenExisting),
  // is a directory, is read-only and write access was asked for, or another
  // open conflicts with this one's access or sharing. A conflict is decided
  // before anything changes: kCreateAlways never truncates a file that another
  // open refuses to share. `attribute` applies to a file that gets created.
  virtual FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                                Disposition disposition, Attribute attribute) = 0;

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

  // Closes the handle (CloseHandle). Returns false for an invalid handle.
  virtual bool CloseHandle(FileHandle file) = 0;

  // Sets or clears the read-only attribute (SetFileAttributesW).
  virtual bool SetFileAttributes(const wchar_t* path, Attribute attribute) = 0;

  // Deletes the file (DeleteFileW). Succeeds on a read-only file; fails on a
  // missing file, a directory, and a file that some open holds.
  virtual bool DeleteFile(const wchar_t* path) = 0;

  // True when a file or folder exists at `path` (PathFileExistsW).
  virtual bool PathFileExists(const wchar_t* path) = 0;

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

  // Opens the file named by the UTF-8 bytes `utf8_path` as a binary read
  // stream ("rb") that shares reading only, so that it fails while someone
  // holds the file open for writing. Returns 0 and sets *stream, or an errno
  // value. The caller closes the stream with std::fclose.
  virtual int OpenReadStream(const char* utf8_path, std::FILE** stream) = 0;
};

// The backend that CMake chose for this build, for callers that are given
// none. It lives for the life of the process and is safe to use from any
// thread.
Platform& DefaultPlatform();

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_PLATFORM_H_
