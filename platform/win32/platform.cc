// SPDX-License-Identifier: MIT
// The Win32 backend: each method is the Windows call that it is named after,
// with the interface's small enums turned into the API's flags. Windows itself
// decides sharing conflicts, read-only refusals and error codes; this file adds
// policy of its own only where a method says so below. Every path reaches
// the system as a SystemPath, so that names of any length work.
#include <string>

#include "platform/disk_space.h"
#include "platform/platform.h"
#include "platform/win32/api.h"
#include "platform/win32/long_path.h"
#include "platform/backend_thread.h"

namespace tarvelin {
namespace {

DWORD AccessFlags(std::uint32_t access) {
  DWORD flags = 0;
  if (access & kAccessRead) flags |= GENERIC_READ;
  if (access & kAccessWrite) flags |= GENERIC_WRITE;
  // A read-only file is deleted only once its attribute is cleared.
  if (access & kAccessDelete) flags |= DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
  return flags;
}

DWORD ShareFlags(std::uint32_t share) {
  DWORD flags = 0;
  if (share & kShareRead) flags |= FILE_SHARE_READ;
  if (share & kShareWrite) flags |= FILE_SHARE_WRITE;
  return flags;
}

DWORD CreationFlags(Disposition disposition) {
  switch (disposition) {
    case Disposition::kCreateAlways:
      return CREATE_ALWAYS;
    case Disposition::kOpenAlways:
      return OPEN_ALWAYS;
    case Disposition::kCreateNew:
      return CREATE_NEW;
    case Disposition::kOpenExisting:
    case Disposition::kOpenExistingNoLink:
      break;
  }
  return OPEN_EXISTING;
}

DWORD AttributeFlags(Attribute attribute) {
  return attribute == Attribute::kReadOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

std::uint64_t Join(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

EntryKind KindOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::kLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::kFolder;
  return EntryKind::kFile;
}

// The profile functions take a file named without a folder to be in the
// Windows folder, not the current one: a manifest named "disk.DAT" would be
// written there, far from its pieces. Every other call takes such a name in
// the current folder, and so must these.
class ProfilePath {
 public:
  explicit ProfilePath(const wchar_t* path) : given_(path) {
    if (path == nullptr) return;
    for (const wchar_t* c = path; *c != L'\0'; ++c) {
      if (*c == L'\\' || *c == L'/' || *c == L':') return;
    }
    anchored_ = std::wstring(L".\\") + path;
  }
  const wchar_t* c_str() const { return anchored_.empty() ? given_ : anchored_.c_str(); }

 private:
  const wchar_t* given_;
  std::wstring anchored_;
};

// A reparse point that stands for another name (a symbolic link, a junction),
// as IsReparseTagNameSurrogate tells; other reparse points (cloud or
// deduplicated files) are files in their own right.
constexpr DWORD kNameSurrogateBit = 0x20000000;

// Closes `file` and fails with `error`, for an open that is refused after
// the system granted it.
HANDLE Refuse(HANDLE file, DWORD error) {
  ::CloseHandle(file);
  ::SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

class Win32Platform final : public Platform {
 public:
  FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                        Disposition disposition, Attribute attribute,
                        FileHandle = nullptr) override {
    const bool no_link = disposition == Disposition::kOpenExistingNoLink;
    DWORD flags = AttributeFlags(attribute);
    if ((access & kAccessUncached) != 0) flags |= FILE_FLAG_NO_BUFFERING;
    const DWORD plain_flags = flags;
    if (no_link) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    const SystemPath name(path);
    HANDLE file = ::CreateFileW(name.c_str(), AccessFlags(access), ShareFlags(share), nullptr,
                                CreationFlags(disposition), flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    if (no_link) {
      FILE_ATTRIBUTE_TAG_INFO tag;
      if (!::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)) {
        return Refuse(file, ::GetLastError());
      }
      if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if ((tag.ReparseTag & kNameSurrogateBit) != 0) {
          return Refuse(file, ERROR_CANT_RESOLVE_FILENAME);
        }
        ::CloseHandle(file);
        file = ::CreateFileW(name.c_str(), AccessFlags(access), ShareFlags(share), nullptr,
                             OPEN_EXISTING, plain_flags, nullptr);
        if (file == INVALID_HANDLE_VALUE) return file;
      }
    }
    // A device (NUL, CON, COM1) or a pipe opens like a file here, but holds
    // no bytes to keep: only files on a disk are taken.
    if (::GetFileType(file) != FILE_TYPE_DISK) return Refuse(file, ERROR_ACCESS_DENIED);
    return file;
  }

  bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override {
    DWORD count = 0;
    const bool ok = ::ReadFile(file, buffer, size, &count, nullptr) != FALSE;
    if (bytes_read != nullptr) *bytes_read = count;
    return ok;
  }

  bool WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override {
    DWORD count = 0;
    const bool ok = ::WriteFile(file, buffer, size, &count, nullptr) != FALSE;
    if (bytes_written != nullptr) *bytes_written = count;
    return ok;
  }

  bool FlushFileBuffers(FileHandle file) override { return ::FlushFileBuffers(file) != FALSE; }

  // Windows has no call that flushes a folder's entries through an ordinary
  // handle: opening a folder takes FILE_FLAG_BACKUP_SEMANTICS, and flushing
  // it is refused or ignored depending on the file system. NTFS journals its
  // metadata itself; FAT does not, and nothing portable can make it. So there
  // is nothing to do here, and reporting failure would only stop a split or a
  // merge that Windows will carry out as well as it can anyway.
  bool FlushFolderOf(const wchar_t*) override { return true; }

  std::uint32_t GetFileSize(FileHandle file, std::uint32_t* high) override {
    DWORD high_half = 0;
    const DWORD low_half = ::GetFileSize(file, &high_half);
    if (high != nullptr) *high = high_half;
    return low_half;
  }

  bool SetFilePointer(FileHandle file, std::uint64_t offset) override {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
  }

  bool SetEndOfFile(FileHandle file) override { return ::SetEndOfFile(file) != FALSE; }

  bool GetFileInformationByHandle(FileHandle file, FileInformation* information) override {
    if (information == nullptr) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    BY_HANDLE_FILE_INFORMATION by_handle;
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandle(file, &by_handle) ||
        !::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
      return false;
    }
    information->size = Join(by_handle.nFileSizeHigh, by_handle.nFileSizeLow);
    information->links = by_handle.nNumberOfLinks;
    information->last_write_time = Join(by_handle.ftLastWriteTime.dwHighDateTime,
                                        by_handle.ftLastWriteTime.dwLowDateTime);
    information->change_time = static_cast<std::uint64_t>(basic.ChangeTime.QuadPart);
    information->volume = by_handle.dwVolumeSerialNumber;
    information->file_index = Join(by_handle.nFileIndexHigh, by_handle.nFileIndexLow);
    return true;
  }

  // INVALID_HANDLE_VALUE is also the pseudo-handle of the current process, so
  // CloseHandle "closes" it with success. Callers hand it in only after a
  // failed CreateFile, and the interface promises false for it, as for any
  // other handle that names no open file.
  bool CloseHandle(FileHandle file) override {
    if (file == InvalidHandle()) {
      ::SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return ::CloseHandle(file) != FALSE;
  }

  bool SetFileAttributes(const wchar_t* path, Attribute attribute) override {
    return ::SetFileAttributesW(SystemPath(path).c_str(), AttributeFlags(attribute)) != FALSE;
  }

  bool DeleteFile(const wchar_t* path) override {
    return ::DeleteFileW(SystemPath(path).c_str()) != FALSE;
  }

  // The handle shares nothing, so nobody can rename the file or put another
  // at its name while it is open: the name stays bound to it. A kept file
  // that the caller holds without delete or write sharing is bound as well;
  // one it does not hold is looked at last thing before the deletion.
  bool DeleteAndClose(FileHandle file, const KeptFile* kept = nullptr,
                      std::size_t kept_count = 0) override {
    for (std::size_t i = 0; i < kept_count; ++i) {
      if (kept[i].held == nullptr && !StandsAsExpected(kept[i])) {
        ::CloseHandle(file);
        ::SetLastError(ERROR_FILE_EXISTS);
        return false;
      }
    }
    FILE_BASIC_INFO basic;
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
      if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      // Times of 0 are left as they are.
      basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
      basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
      ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    }
    // Its one member is named DeleteFile, which windows.h renames.
    FILE_DISPOSITION_INFO disposition = {TRUE};
    const bool marked =
        ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                     sizeof disposition) != FALSE;
    const DWORD error = marked ? ERROR_SUCCESS : ::GetLastError();
    const bool closed = ::CloseHandle(file) != FALSE;
    if (!marked) {
      ::SetLastError(error);
      return false;
    }
    return closed;
  }

  bool GetDiskFreeSpace(const wchar_t* path, std::uint64_t* free_bytes) override {
    return FreeSpaceOf(path, free_bytes);
  }

  bool GetVolumeInformation(const wchar_t* path, FileSystemInformation* info) override {
    return FileSystemOf(path, info);
  }

  // PathFileExistsW takes no more than MAX_PATH characters. A longer name is
  // looked at as it looks at any: by its attributes, with the system's
  // "insert a disk" dialog held off meanwhile.
  bool PathFileExists(const wchar_t* path) override {
    const SystemPath name(path);
    if (!name.extended()) return ::PathFileExistsW(path) != FALSE;
    const UINT mode = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    const DWORD found = ::GetFileAttributesW(name.c_str());
    ::SetErrorMode(mode);
    return found != INVALID_FILE_ATTRIBUTES;
  }

  bool GetFileAttributes(const wchar_t* path, EntryAttributes* attributes) override {
    if (attributes == nullptr) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    const DWORD found = ::GetFileAttributesW(SystemPath(path).c_str());
    if (found == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
      *attributes = EntryAttributes{};
      return true;
    }
    attributes->kind = KindOf(found);
    attributes->read_only = (found & FILE_ATTRIBUTE_READONLY) != 0;
    return true;
  }

  std::uint32_t GetLastError() override { return ::GetLastError(); }

  void SetLastError(std::uint32_t error) override { ::SetLastError(error); }

  std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                        const wchar_t* default_value, wchar_t* buffer,
                                        std::uint32_t size, const wchar_t* path) override {
    const ProfilePath anchored(path);
    return ::GetPrivateProfileStringW(section, key, default_value, buffer, size,
                                      SystemPath(anchored.c_str()).c_str());
  }

  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                 const wchar_t* value, const wchar_t* path) override {
    const ProfilePath anchored(path);
    return ::WritePrivateProfileStringW(section, key, value,
                                        SystemPath(anchored.c_str()).c_str()) != FALSE;
  }

  std::unique_ptr<BackgroundThread> CreateBackgroundThread() override {
    return StartBackendThread();
  }

 private:
  // Whether the file at `kept.path` is the one expected, with the same size
  // and times.
  bool StandsAsExpected(const KeptFile& kept) {
    HANDLE named = ::CreateFileW(SystemPath(kept.path).c_str(), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    FileInformation now;
    const bool known = GetFileInformationByHandle(named, &now);
    ::CloseHandle(named);
    return known && SameFileUnchanged(kept.expected, now);
  }
};

}  // namespace

Platform& DefaultPlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace tarvelin
