// SPDX-License-Identifier: MIT
// The default backend, counting the calls that succeeded in changing
// something on disk: creations and truncations, writes, deletions, profile
// writes. A process that made none was, in effect, refused.
#ifndef TARVELIN_TESTS_RELIABILITY_PROCESS_CHANGE_COUNTING_PLATFORM_H_
#define TARVELIN_TESTS_RELIABILITY_PROCESS_CHANGE_COUNTING_PLATFORM_H_

#include "platform/platform.h"

namespace tarvelin::testing {

class ChangeCountingPlatform final : public Platform {
 public:
  ChangeCountingPlatform() : base_(DefaultPlatform()) {}
  int changes() const { return changes_; }

  FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                        Disposition disposition, Attribute attribute) override {
    FileHandle file = base_.CreateFile(path, access, share, disposition, attribute);
    Count(file != InvalidHandle() && disposition != Disposition::kOpenExisting);
    return file;
  }
  bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override {
    return base_.ReadFile(file, buffer, size, bytes_read);
  }
  bool WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override {
    return Count(base_.WriteFile(file, buffer, size, bytes_written));
  }
  bool FlushFileBuffers(FileHandle file) override { return base_.FlushFileBuffers(file); }
  bool FlushFolderOf(const wchar_t* path) override { return base_.FlushFolderOf(path); }
  std::uint32_t GetFileSize(FileHandle file, std::uint32_t* high) override {
    return base_.GetFileSize(file, high);
  }
  bool CloseHandle(FileHandle file) override { return base_.CloseHandle(file); }
  bool SetFileAttributes(const wchar_t* path, Attribute attribute) override {
    return base_.SetFileAttributes(path, attribute);
  }
  bool DeleteFile(const wchar_t* path) override { return Count(base_.DeleteFile(path)); }
  bool PathFileExists(const wchar_t* path) override { return base_.PathFileExists(path); }
  std::uint32_t GetLastError() override { return base_.GetLastError(); }
  void SetLastError(std::uint32_t error) override { base_.SetLastError(error); }
  std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                        const wchar_t* default_value, wchar_t* buffer,
                                        std::uint32_t size, const wchar_t* path) override {
    return base_.GetPrivateProfileString(section, key, default_value, buffer, size, path);
  }
  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                 const wchar_t* path) override {
    return Count(base_.WritePrivateProfileString(section, key, value, path));
  }
  int OpenReadStream(const char* utf8_path, std::FILE** stream) override {
    return base_.OpenReadStream(utf8_path, stream);
  }

 private:
  bool Count(bool changed) {
    if (changed) ++changes_;
    return changed;
  }

  Platform& base_;
  int changes_ = 0;
};

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_PROCESS_CHANGE_COUNTING_PLATFORM_H_
