// A platform that passes every call to another and keeps, in a SimulatedDisk,
// what each call that succeeded did to the files: what was written and
// flushed, and which entries were created, deleted and flushed. After each
// call a hook may look at the power losses that could strike at that moment.
// The profile functions open the INI file on their own; what such a write
// leaves in the file counts as a rewrite of the whole file that stays
// unflushed until the file is flushed through a handle, since that is what
// the Win32 function does and the strongest damage a power loss can do to it.
#ifndef TARVELIN_TESTS_RELIABILITY_POWER_LOSS_PLATFORM_H_
#define TARVELIN_TESTS_RELIABILITY_POWER_LOSS_PLATFORM_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/platform.h"
#include "tests/reliability/simulated_disk.h"
#include "tests/support/fault_platform.h"

namespace tarvelin::testing {

class PowerLossPlatform : public Platform {
 public:
  // `base` does the work. The files already in `folder` count as durable.
  PowerLossPlatform(Platform& base, const std::wstring& folder);

  const SimulatedDisk& disk() const { return disk_; }
  // Calls `hook` after every counted call (all but GetLastError and
  // SetLastError), with the call as the fault wrapper records it and its
  // 1-based number.
  void AfterEachCall(std::function<void(std::uint64_t number, const Call& call)> hook) {
    hook_ = std::move(hook);
  }
  std::uint64_t call_count() const { return count_; }
  // With `forget`, flushes still reach `base` but leave the model as if they
  // had not been made: the model of a library that never flushes, to show
  // what the simulation catches.
  void ForgetFlushes(bool forget) { forget_flushes_ = forget; }

  FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                        Disposition disposition, Attribute attribute) override;
  bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override;
  bool WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override;
  bool FlushFileBuffers(FileHandle file) override;
  bool FlushFolderOf(const wchar_t* path) override;
  std::uint32_t GetFileSize(FileHandle file, std::uint32_t* high) override;
  bool SetFilePointer(FileHandle file, std::uint64_t offset) override;
  bool SetEndOfFile(FileHandle file) override;
  bool GetFileInformationByHandle(FileHandle file, FileInformation* information) override {
    return base_.GetFileInformationByHandle(file, information);
  }
  bool LimitAccessTo(FileHandle file, FileHandle model) override {
    return base_.LimitAccessTo(file, model);
  }
  bool CloseHandle(FileHandle file) override;
  bool SetFileAttributes(const wchar_t* path, Attribute attribute) override;
  bool DeleteFile(const wchar_t* path) override;
  bool PathFileExists(const wchar_t* path) override;
  bool GetFileAttributes(const wchar_t* path, EntryAttributes* attributes) override {
    return base_.GetFileAttributes(path, attributes);
  }
  std::uint32_t GetLastError() override { return base_.GetLastError(); }
  void SetLastError(std::uint32_t error) override { base_.SetLastError(error); }
  std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                        const wchar_t* default_value, wchar_t* buffer,
                                        std::uint32_t size, const wchar_t* path) override;
  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                 const wchar_t* value, const wchar_t* path) override;
  bool ReadProfileSection(const wchar_t* section, const wchar_t* path,
                          const ProfileEntryVisitor& visit) override;
  int OpenReadStream(const char* utf8_path, std::FILE** stream) override;

 private:
  struct OpenFile {
    std::wstring path;
    SimulatedDisk::FileId file;
    std::uint64_t position;
  };
  // Counts the call and runs the hook; returns `result` for brevity.
  template <typename T>
  T Done(Op op, const std::wstring& path, bool failed, T result);
  OpenFile* Find(FileHandle file);
  // The file at `path` as the model knows it, taking one it has not seen
  // (outside the watched folder) as durable.
  SimulatedDisk::FileId Known(const std::wstring& path);

  Platform& base_;
  SimulatedDisk disk_;
  std::map<FileHandle, OpenFile> open_;
  std::uint64_t count_ = 0;
  bool forget_flushes_ = false;
  std::function<void(std::uint64_t, const Call&)> hook_;
};

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_POWER_LOSS_PLATFORM_H_
