// SPDX-License-Identifier: MIT
// The base of platforms that wrap another one (its target) to watch, change
// or fail some of its calls, as tests and tools do.
//
// What a subclass may rely on:
//   - Every call that it does not override reaches the target at once, with
//     the same arguments, and returns the target's result; the wrapper adds no
//     call, state or last-error value of its own. So a subclass overrides only
//     the calls it changes, and reaches the target through target().
//   - Handles, paths and streams are the target's, passed through untouched:
//     a handle that the target opened may be given to the wrapper and the
//     other way round.
//   - The last-error value is the target's: what the target sets is what the
//     caller of the wrapper reads, and an override that fails a call itself
//     sets it with target().SetLastError.
// The target must outlive the wrapper. A call added to Platform gets one
// forwarding line here, so that every wrapper passes it on.
#ifndef TARVELIN_PLATFORM_PLATFORM_WRAPPER_H_
#define TARVELIN_PLATFORM_PLATFORM_WRAPPER_H_

#include "platform/platform.h"

namespace tarvelin {

class PlatformWrapper : public Platform {
 public:
  // `target` is a pointer so that a wrapper of a wrapper cannot be taken for
  // a copy of it; wrappers are not copied.
  explicit PlatformWrapper(Platform* target) : target_(*target) {}
  PlatformWrapper(const PlatformWrapper&) = delete;
  PlatformWrapper& operator=(const PlatformWrapper&) = delete;

  // The platform that every call not overridden goes to.
  Platform& target() const { return target_; }

  FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                        Disposition disposition, Attribute attribute,
                        FileHandle access_model = nullptr) override {
    return target_.CreateFile(path, access, share, disposition, attribute, access_model);
  }
  bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override {
    return target_.ReadFile(file, buffer, size, bytes_read);
  }
  bool WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override {
    return target_.WriteFile(file, buffer, size, bytes_written);
  }
  bool FlushFileBuffers(FileHandle file) override { return target_.FlushFileBuffers(file); }
  bool FlushFolderOf(const wchar_t* path) override { return target_.FlushFolderOf(path); }
  std::uint32_t GetFileSize(FileHandle file, std::uint32_t* high) override {
    return target_.GetFileSize(file, high);
  }
  bool SetFilePointer(FileHandle file, std::uint64_t offset) override {
    return target_.SetFilePointer(file, offset);
  }
  bool SetEndOfFile(FileHandle file) override { return target_.SetEndOfFile(file); }
  bool GetFileInformationByHandle(FileHandle file, FileInformation* information) override {
    return target_.GetFileInformationByHandle(file, information);
  }
  bool CloseHandle(FileHandle file) override { return target_.CloseHandle(file); }
  bool SetFileAttributes(const wchar_t* path, Attribute attribute) override {
    return target_.SetFileAttributes(path, attribute);
  }
  bool DeleteFile(const wchar_t* path) override { return target_.DeleteFile(path); }
  bool DeleteAndClose(FileHandle file, const KeptFile* kept = nullptr,
                      std::size_t kept_count = 0) override {
    return target_.DeleteAndClose(file, kept, kept_count);
  }
  bool GetDiskFreeSpace(const wchar_t* path, std::uint64_t* free_bytes) override {
    return target_.GetDiskFreeSpace(path, free_bytes);
  }
  bool GetVolumeInformation(const wchar_t* path, FileSystemInformation* info) override {
    return target_.GetVolumeInformation(path, info);
  }
  bool PathFileExists(const wchar_t* path) override { return target_.PathFileExists(path); }
  bool GetFileAttributes(const wchar_t* path, EntryAttributes* attributes) override {
    return target_.GetFileAttributes(path, attributes);
  }
  std::uint32_t GetLastError() override { return target_.GetLastError(); }
  void SetLastError(std::uint32_t error) override { target_.SetLastError(error); }
  std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                        const wchar_t* default_value, wchar_t* buffer,
                                        std::uint32_t size, const wchar_t* path) override {
    return target_.GetPrivateProfileString(section, key, default_value, buffer, size, path);
  }
  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                 const wchar_t* value, const wchar_t* path) override {
    return target_.WritePrivateProfileString(section, key, value, path);
  }
  std::unique_ptr<BackgroundThread> CreateBackgroundThread() override {
    return target_.CreateBackgroundThread();
  }

 private:
  Platform& target_;
};

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_PLATFORM_WRAPPER_H_
