// SPDX-License-Identifier: MIT
// The default backend with a profile store of its own. The backend's store
// keeps the documents of the last few files for the life of the process;
// a harness that makes a platform per run instead frees everything it
// allocated by the end of the run, so that libFuzzer's leak check (which
// looks whenever a run allocated more than it freed) stays quiet and fast.
#ifndef TARVELIN_FUZZ_PER_RUN_PLATFORM_H_
#define TARVELIN_FUZZ_PER_RUN_PLATFORM_H_

#include "platform/platform.h"
#include "platform/posix/profile.h"

namespace tarvelin::fuzz {

class PerRunPlatform final : public Platform {
 public:
  PerRunPlatform() : base_(DefaultPlatform()) {}

  FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                        Disposition disposition, Attribute attribute) override {
    return base_.CreateFile(path, access, share, disposition, attribute);
  }
  bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override {
    return base_.ReadFile(file, buffer, size, bytes_read);
  }
  bool WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override {
    return base_.WriteFile(file, buffer, size, bytes_written);
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
  bool DeleteFile(const wchar_t* path) override { return base_.DeleteFile(path); }
  bool PathFileExists(const wchar_t* path) override { return base_.PathFileExists(path); }
  std::uint32_t GetLastError() override { return base_.GetLastError(); }
  void SetLastError(std::uint32_t error) override { base_.SetLastError(error); }
  std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                        const wchar_t* default_value, wchar_t* buffer,
                                        std::uint32_t size, const wchar_t* path) override {
    return profiles_.Get(section, key, default_value, buffer, size, path);
  }
  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                 const wchar_t* path) override {
    return profiles_.Put(section, key, value, path);
  }
  int OpenReadStream(const char* utf8_path, std::FILE** stream) override {
    return base_.OpenReadStream(utf8_path, stream);
  }

 private:
  Platform& base_;
  posix::ProfileStore profiles_;
};

}  // namespace tarvelin::fuzz

#endif  // TARVELIN_FUZZ_PER_RUN_PLATFORM_H_
