// SPDX-License-Identifier: MIT
// The POSIX backend: the Win32 file calls that the core makes, emulated on
// file descriptors. Paths go to the system as UTF-8. Symbolic links are
// followed as Windows follows a path, except that DeleteFile removes a link
// itself, not its target. Errors are Win32 codes in a per-thread value.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/disk_space.h"
#include "platform/platform.h"
#include "platform/platform_errors.h"
#include "platform/backend_thread.h"
#include "platform/posix/fd_io.h"
#include "platform/posix/profile.h"
#include "platform/posix/shared_open.h"
#include "platform/utf8.h"

namespace tarvelin {
namespace {

using posix::SetThreadLastError;
using posix::Win32ErrorForPath;
using posix::Win32ErrorFromErrno;

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// What a FileHandle points to. The access is kept because the descriptor is
// always readable and may be writable for truncation alone, while ReadFile,
// WriteFile and FlushFileBuffers must refuse what the open did not ask for.
struct PosixFile {
  int fd;
  std::uint32_t access;
  std::uint64_t unstarted = 0;  // bytes written since writeback was last started
  // With delete access: the name it was opened by, which DeleteAndClose needs,
  // and the file's state then, which it must still have when it goes.
  std::unique_ptr<char[]> path;
  struct stat opened = {};
};

// Written bytes are pushed towards the disk in batches of this size, large
// enough for the file system to lay them out in long runs.
constexpr std::uint64_t kWritebackBatch = 8u << 20;

// Asks the kernel to start writing the file's dirty pages to storage now, not
// when the cache fills or the flush comes. The disk then works while the
// caller fingerprints and copies, and a later flush waits for the tail alone;
// a split or merge that flushes before it deletes gains the whole overlap. A
// hint only: where it is refused (a pipe, an older kernel) nothing changes.
void StartWriteback(PosixFile* file) {
  file->unstarted = 0;
#if defined(__linux__)
  const int saved = errno;
  sync_file_range(file->fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  errno = saved;
#endif
}

bool Fail(std::uint32_t error) {
  SetThreadLastError(error);
  return false;
}

PosixFile* FileOf(FileHandle handle) {
  if (handle == nullptr || handle == InvalidHandle()) {
    SetThreadLastError(kErrorInvalidHandle);
    return nullptr;
  }
  return static_cast<PosixFile*>(handle);
}

using posix::FileTimeOf;

EntryKind KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return EntryKind::kLink;
  if (S_ISDIR(mode)) return EntryKind::kFolder;
  if (!S_ISREG(mode)) return EntryKind::kDevice;
  return EntryKind::kFile;
}

// A wide path as the UTF-8 bytes that the system takes, held on the stack so
// that no call allocates for its path. An empty path names nothing.
class NativePath {
 public:
  explicit NativePath(const wchar_t* path) {
    bytes_[0] = '\0';
    if (path == nullptr || path[0] == L'\0') {
      error_ = kErrorPathNotFound;
    } else if (WideToUtf8(path, bytes_, sizeof bytes_) == 0) {
      error_ = kErrorFilenameExcedRange;
    }
  }
  NativePath(const NativePath&) = delete;
  NativePath& operator=(const NativePath&) = delete;

  // False when the path cannot be used; the reason is then the thread's
  // last-error value.
  bool Usable() const {
    if (error_ != kErrorSuccess) SetThreadLastError(error_);
    return error_ == kErrorSuccess;
  }
  const char* get() const { return bytes_; }
  char* mutable_bytes() { return bytes_; }

 private:
  char bytes_[PATH_MAX];
  std::uint32_t error_ = kErrorSuccess;
};

class PosixPlatform final : public Platform {
 public:
  FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                        Disposition disposition, Attribute attribute,
                        FileHandle access_model = nullptr) override {
    NativePath native(path);
    if (!native.Usable()) return InvalidHandle();
    int model_fd = -1;
    if (access_model != nullptr) {
      const PosixFile* model = FileOf(access_model);
      if (model == nullptr) return InvalidHandle();
      model_fd = model->fd;
    }
    // Allocated first, so that running out of memory changes nothing on disk.
    auto* file = new (std::nothrow) PosixFile{-1, access, 0, nullptr};
    if (file == nullptr) {
      SetThreadLastError(kErrorNotEnoughMemory);
      return InvalidHandle();
    }
    if ((access & kAccessDelete) != 0) {
      const std::size_t length = std::strlen(native.get()) + 1;
      file->path.reset(new (std::nothrow) char[length]);
      if (file->path == nullptr) {
        delete file;
        SetThreadLastError(kErrorNotEnoughMemory);
        return InvalidHandle();
      }
      std::memcpy(file->path.get(), native.get(), length);
    }
    std::uint32_t error = kErrorSuccess;
    file->fd = posix::OpenShared(native.get(), access, share, disposition, attribute, &error,
                                 model_fd);
    if (file->fd >= 0 && file->path != nullptr && fstat(file->fd, &file->opened) != 0) {
      error = Win32ErrorFromErrno(errno);
      close(file->fd);
      file->fd = -1;
    }
    if (file->fd < 0) {
      delete file;
      SetThreadLastError(error);
      return InvalidHandle();
    }
    return file;
  }

  bool ReadFile(FileHandle handle, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override {
    if (bytes_read != nullptr) *bytes_read = 0;
    PosixFile* file = FileOf(handle);
    if (file == nullptr) return false;
    if ((file->access & kAccessRead) == 0) return Fail(kErrorAccessDenied);
    if (buffer == nullptr && size != 0) return Fail(kErrorInvalidParameter);
    std::size_t count = 0;
    if (const int error = posix::ReadSome(file->fd, buffer, size, &count)) {
      return Fail(Win32ErrorFromErrno(error));
    }
    if (bytes_read != nullptr) *bytes_read = static_cast<std::uint32_t>(count);
    return true;
  }

  bool WriteFile(FileHandle handle, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override {
    if (bytes_written != nullptr) *bytes_written = 0;
    PosixFile* file = FileOf(handle);
    if (file == nullptr) return false;
    if ((file->access & kAccessWrite) == 0) return Fail(kErrorAccessDenied);
    if (buffer == nullptr && size != 0) return Fail(kErrorInvalidParameter);
    std::size_t written = 0;
    const int error = posix::WriteFully(file->fd, buffer, size, &written);
    if (bytes_written != nullptr) *bytes_written = static_cast<std::uint32_t>(written);
    if (error != 0) return Fail(Win32ErrorFromErrno(error));
    file->unstarted += written;
    if (file->unstarted >= kWritebackBatch) StartWriteback(file);
    return true;
  }

  bool FlushFileBuffers(FileHandle handle) override {
    PosixFile* file = FileOf(handle);
    if (file == nullptr) return false;
    if ((file->access & kAccessWrite) == 0) return Fail(kErrorAccessDenied);
    if (fsync(file->fd) != 0) return Fail(Win32ErrorFromErrno(errno));
    return true;
  }

  bool FlushFolderOf(const wchar_t* path) override {
    NativePath native(path);
    if (!native.Usable()) return false;
    char* bytes = native.mutable_bytes();
    char* slash = std::strrchr(bytes, '/');
    const char* folder = bytes;
    if (slash == nullptr) {
      folder = ".";
    } else if (slash == bytes) {
      folder = "/";
    } else {
      *slash = '\0';
    }
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      return Fail(errno == ENOENT ? kErrorPathNotFound : Win32ErrorFromErrno(errno));
    }
    // Some file systems have nothing to sync for a folder and say EINVAL.
    const bool synced = fsync(fd) == 0 || errno == EINVAL;
    const int error = errno;
    close(fd);
    return synced || Fail(Win32ErrorFromErrno(error));
  }

  std::uint32_t GetFileSize(FileHandle handle, std::uint32_t* high) override {
    constexpr std::uint32_t kFailed = 0xFFFFFFFFu;
    PosixFile* file = FileOf(handle);
    if (file == nullptr) return kFailed;
    struct stat info;
    if (fstat(file->fd, &info) != 0) {
      SetThreadLastError(Win32ErrorFromErrno(errno));
      return kFailed;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const auto low = static_cast<std::uint32_t>(size);
    if (high != nullptr) *high = static_cast<std::uint32_t>(size >> 32);
    // As on Windows: a real low half that reads as the failure value comes
    // with no error, so that a stale one cannot make it look like a failure.
    if (low == kFailed) SetThreadLastError(kErrorSuccess);
    return low;
  }

  bool SetFilePointer(FileHandle handle, std::uint64_t offset) override {
    PosixFile* file = FileOf(handle);
    if (file == nullptr) return false;
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
      return Fail(kErrorNegativeSeek);
    }
    if (lseek(file->fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
      return Fail(Win32ErrorFromErrno(errno));
    }
    return true;
  }

  bool SetEndOfFile(FileHandle handle) override {
    PosixFile* file = FileOf(handle);
    if (file == nullptr) return false;
    if ((file->access & kAccessWrite) == 0) return Fail(kErrorAccessDenied);
    const off_t position = lseek(file->fd, 0, SEEK_CUR);
    if (position < 0) return Fail(Win32ErrorFromErrno(errno));
    while (ftruncate(file->fd, position) != 0) {
      if (errno != EINTR) return Fail(Win32ErrorFromErrno(errno));
    }
    return true;
  }

  bool GetFileInformationByHandle(FileHandle handle, FileInformation* information) override {
    PosixFile* file = FileOf(handle);
    if (file == nullptr) return false;
    if (information == nullptr) return Fail(kErrorInvalidParameter);
    struct stat info;
    if (fstat(file->fd, &info) != 0) return Fail(Win32ErrorFromErrno(errno));
    information->size = static_cast<std::uint64_t>(info.st_size);
    information->links = static_cast<std::uint32_t>(info.st_nlink);
    information->last_write_time = FileTimeOf(info.st_mtim);
    information->change_time = FileTimeOf(info.st_ctim);
    information->volume = static_cast<std::uint64_t>(info.st_dev);
    information->file_index = static_cast<std::uint64_t>(info.st_ino);
    information->owned_by_caller = info.st_uid == geteuid();
    return true;
  }

  bool CloseHandle(FileHandle handle) override {
    PosixFile* file = FileOf(handle);
    if (file == nullptr) return false;
    if (file->unstarted != 0) StartWriteback(file);
    // The descriptor is gone after close() whatever it reports; EINTR is no
    // failure on Linux.
    const bool closed = close(file->fd) == 0 || errno == EINTR;
    const int error = errno;
    delete file;
    return closed || Fail(Win32ErrorFromErrno(error));
  }

  bool SetFileAttributes(const wchar_t* path, Attribute attribute) override {
    NativePath native(path);
    if (!native.Usable()) return false;
    struct stat info;
    if (stat(native.get(), &info) != 0) return Fail(Win32ErrorForPath(errno, native.get()));
    // Read-only means no write permission for anyone; normal gives the owner
    // write permission back and leaves the other bits alone.
    const mode_t mode = info.st_mode & 07777;
    const mode_t wanted = attribute == Attribute::kReadOnly ? (mode & ~kWriteBits) : (mode | S_IWUSR);
    if (wanted != mode && chmod(native.get(), wanted) != 0) {
      return Fail(Win32ErrorFromErrno(errno));
    }
    return true;
  }

  bool DeleteFile(const wchar_t* path) override {
    NativePath native(path);
    if (!native.Usable()) return false;
    struct stat info;
    if (lstat(native.get(), &info) != 0) return Fail(Win32ErrorForPath(errno, native.get()));
    if (S_ISDIR(info.st_mode)) return Fail(kErrorAccessDenied);
    // No open through this layer grants delete sharing.
    if (S_ISREG(info.st_mode)) {
      const std::uint32_t error = posix::DeleteUnlessHeld(native.get());
      return error == kErrorSuccess || Fail(error);
    }
    if (unlink(native.get()) != 0) return Fail(Win32ErrorForPath(errno, native.get()));
    return true;
  }

  bool DeleteAndClose(FileHandle handle, const KeptFile* kept = nullptr,
                      std::size_t kept_count = 0) override {
    PosixFile* file = FileOf(handle);
    if (file == nullptr) return false;
    std::uint32_t error = file->path == nullptr ? kErrorAccessDenied : kErrorSuccess;
    std::vector<posix::KeptName> names;
    try {
      for (std::size_t i = 0; error == kErrorSuccess && i < kept_count; ++i) {
        posix::KeptName name;
        NativePath native(kept[i].path);
        if (!native.Usable()) {
          error = posix::ThreadLastError();
          break;
        }
        name.path = native.get();
        name.size = kept[i].expected.size;
        name.modified = kept[i].expected.last_write_time;
        name.changed = kept[i].expected.change_time;
        name.device = kept[i].expected.volume;
        name.inode = kept[i].expected.file_index;
        names.push_back(std::move(name));
      }
    } catch (const std::bad_alloc&) {
      error = kErrorNotEnoughMemory;
    }
    if (error == kErrorSuccess) {
      error = posix::DeleteHeld(file->fd, file->path.get(), file->opened, names);
    }
    close(file->fd);
    delete file;
    return error == kErrorSuccess || Fail(error);
  }

  bool GetDiskFreeSpace(const wchar_t* path, std::uint64_t* free_bytes) override {
    return FreeSpaceOf(path, free_bytes);
  }

  bool GetVolumeInformation(const wchar_t* path, FileSystemInformation* info) override {
    return FileSystemOf(path, info);
  }

  bool PathFileExists(const wchar_t* path) override {
    NativePath native(path);
    if (!native.Usable()) return false;
    struct stat info;
    if (stat(native.get(), &info) != 0) return Fail(Win32ErrorForPath(errno, native.get()));
    return true;
  }

  bool GetFileAttributes(const wchar_t* path, EntryAttributes* attributes) override {
    if (attributes == nullptr) return Fail(kErrorInvalidParameter);
    NativePath native(path);
    std::uint32_t error = kErrorSuccess;
    struct stat info;
    if (!native.Usable()) {
      error = posix::ThreadLastError();
    } else if (lstat(native.get(), &info) != 0) {
      error = Win32ErrorForPath(errno, native.get());
    } else {
      attributes->kind = KindOf(info.st_mode);
      attributes->read_only = (info.st_mode & kWriteBits) == 0;
      return true;
    }
    // GetFileAttributesW fails on a name that is not there; here that is an
    // answer, not a failure.
    if (error == kErrorFileNotFound || error == kErrorPathNotFound) {
      *attributes = EntryAttributes{};
      return true;
    }
    return Fail(error);
  }

  std::uint32_t GetLastError() override { return posix::ThreadLastError(); }

  void SetLastError(std::uint32_t error) override { SetThreadLastError(error); }

  std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                        const wchar_t* default_value, wchar_t* buffer,
                                        std::uint32_t size, const wchar_t* path) override {
    return profiles_.Get(section, key, default_value, buffer, size, path);
  }

  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                 const wchar_t* value, const wchar_t* path) override {
    return profiles_.Put(section, key, value, path);
  }

  std::unique_ptr<BackgroundThread> CreateBackgroundThread() override {
    return StartBackendThread();
  }

 private:
  posix::ProfileStore profiles_;
};

}  // namespace

Platform& DefaultPlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace tarvelin
