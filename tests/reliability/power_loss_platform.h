// SPDX-License-Identifier: MIT
// A platform that passes every call to another and keeps, in a SimulatedDisk,
// what each call that succeeded did to the files: what was written and
// flushed, and which entries were created, deleted and flushed. Wrapped in a
// FaultPlatform, whose hook runs after each call, it shows the power losses
// that could strike at each moment.
// The profile functions open the INI file on their own; what such a write
// leaves in the file counts as a rewrite of the whole file that stays
// unflushed until the file is flushed through a handle, since that is what
// the Win32 function does and the strongest damage a power loss can do to it.
#ifndef TARVELIN_TESTS_RELIABILITY_POWER_LOSS_PLATFORM_H_
#define TARVELIN_TESTS_RELIABILITY_POWER_LOSS_PLATFORM_H_

#include <cstdint>
#include <map>
#include <string>

#include "platform/platform_wrapper.h"
#include "tests/reliability/simulated_disk.h"

namespace tarvelin::testing {

class PowerLossPlatform : public PlatformWrapper {
 public:
  // `base` does the work. The files already in `folder` count as durable.
  PowerLossPlatform(Platform& base, const std::wstring& folder);

  const SimulatedDisk& disk() const { return disk_; }
  // With `forget`, flushes still reach `base` but leave the model as if they
  // had not been made: the model of a library that never flushes, to show
  // what the simulation catches.
  void ForgetFlushes(bool forget) { forget_flushes_ = forget; }

  // A handle stands for a file of the model and a position in it.
  FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                        Disposition disposition, Attribute attribute,
                        FileHandle access_model = nullptr) override;
  bool CloseHandle(FileHandle file) override;
  // Reads move the position; writes change the model's bytes too.
  bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override;
  bool WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override;
  // Seeks move the position; cutting the file changes the model's size.
  bool SetFilePointer(FileHandle file, std::uint64_t offset) override;
  bool SetEndOfFile(FileHandle file) override;
  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                 const wchar_t* value, const wchar_t* path) override;
  // Flushes make the model's bytes, or its folder entries, durable.
  bool FlushFileBuffers(FileHandle file) override;
  bool FlushFolderOf(const wchar_t* path) override;
  bool DeleteFile(const wchar_t* path) override;
  bool DeleteAndClose(FileHandle file, const KeptFile* kept = nullptr,
                      std::size_t kept_count = 0) override;

 private:
  struct OpenFile {
    SimulatedDisk::FileId file;
    std::uint64_t position;
    std::wstring path;
  };
  // The model's file behind `file`, or nullptr for a handle not opened here
  // or for a file that the model does not know.
  OpenFile* Find(FileHandle file);
  // The file at `path` as the model knows it, taking one it has not seen
  // (outside the watched folder) as durable.
  SimulatedDisk::FileId Known(const std::wstring& path);

  SimulatedDisk disk_;
  std::map<FileHandle, OpenFile> open_;
  bool forget_flushes_ = false;
};

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_POWER_LOSS_PLATFORM_H_
