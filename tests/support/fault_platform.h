// SPDX-License-Identifier: MIT
// A platform that wraps a real backend for tests: it counts and records every
// call, fails the Nth one (once or from then on) with a chosen error, can make
// a write report fewer bytes than it was given, can alter what reads past the
// system's cache give back for one file, and tracks the handles that
// are open, so that a test can sweep "fail call N" over a whole operation and
// check what was left behind. A hook may look at each call once it returned.
#ifndef TARVELIN_TESTS_SUPPORT_FAULT_PLATFORM_H_
#define TARVELIN_TESTS_SUPPORT_FAULT_PLATFORM_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform_call.h"
#include "platform/platform_wrapper.h"

namespace tarvelin::testing {

// The short name that the fault tables use.
using Op = PlatformCall;

struct Call {
  Op op;
  std::wstring path;   // the path given, or the one the handle was opened with
  bool failed;         // failed by the wrapper or by the backend
  std::uint32_t size;  // bytes asked for by reads and writes
  bool creates = false;  // a CreateFile that may create the file
};

// Every call but GetLastError, SetLastError and CreateBackgroundThread is
// counted, and those are passed on untouched.
class FaultPlatform : public PlatformWrapper {
 public:
  explicit FaultPlatform(Platform& base) : PlatformWrapper(&base) {}

  // Fails the `n`th counted call (1-based) with `error`, and with
  // `persistent` every call after it too.
  void FailCall(std::uint64_t n, bool persistent, std::uint32_t error);
  // Fails the `nth` call (1-based) of `op` alone, once or from then on.
  void FailOp(Op op, int nth, bool persistent, std::uint32_t error);
  // Makes the `nth` write (1-based) succeed but report `reported` bytes,
  // having written that many.
  void ShortWrite(int nth, std::uint32_t reported);
  // Makes every read through a handle opened on `path` with kAccessUncached
  // (a read past the system's cache) give back altered bytes, as a medium
  // that stores other bytes than it was given; reads through other handles
  // on `path` are left alone.
  void AlterUncachedReadsOf(const std::wstring& path) { altered_path_ = path; }
  // Reads that AlterUncachedReadsOf altered.
  int altered_reads() const { return altered_reads_; }
  // Makes CreateBackgroundThread give no thread, as a system out of threads
  // does; it is not a counted call.
  void RefuseBackgroundThreads() { refuse_threads_ = true; }
  // Forgets every planned fault; counts and records go on.
  void ClearFaults();
  // Calls `hook` as each counted call returns, with its 1-based number and
  // its record, once the backend has done its part.
  void AfterEachCall(std::function<void(std::uint64_t number, const Call& call)> hook) {
    hook_ = std::move(hook);
  }

  const std::vector<Call>& calls() const { return calls_; }
  std::uint64_t call_count() const { return count_; }
  // Handles opened through this wrapper and not yet closed.
  int open_handles() const { return static_cast<int>(open_.size()); }
  // The calls of one kind on one path, in order.
  std::vector<std::size_t> IndexesOf(Op op, const std::wstring& path) const;

  FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                        Disposition disposition, Attribute attribute,
                        FileHandle access_model = nullptr) override;
  bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override;
  bool WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override;
  bool FlushFileBuffers(FileHandle file) override;
  bool FlushFolderOf(const wchar_t* path) override;
  std::uint32_t GetFileSize(FileHandle file, std::uint32_t* high) override;
  bool SetFilePointer(FileHandle file, std::uint64_t offset) override;
  bool SetEndOfFile(FileHandle file) override;
  bool GetFileInformationByHandle(FileHandle file, FileInformation* information) override;
  bool CloseHandle(FileHandle file) override;
  bool SetFileAttributes(const wchar_t* path, Attribute attribute) override;
  bool DeleteFile(const wchar_t* path) override;
  bool DeleteAndClose(FileHandle file, const KeptFile* kept = nullptr,
                      std::size_t kept_count = 0) override;
  bool GetDiskFreeSpace(const wchar_t* path, std::uint64_t* free_bytes) override;
  bool GetVolumeInformation(const wchar_t* path, FileSystemInformation* info) override;
  bool PathFileExists(const wchar_t* path) override;
  bool GetFileAttributes(const wchar_t* path, EntryAttributes* attributes) override;
  std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                        const wchar_t* default_value, wchar_t* buffer,
                                        std::uint32_t size, const wchar_t* path) override;
  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                 const wchar_t* value, const wchar_t* path) override;
  std::unique_ptr<BackgroundThread> CreateBackgroundThread() override {
    ++threads_asked_;
    return refuse_threads_ ? nullptr : target().CreateBackgroundThread();
  }
  // How many times CreateBackgroundThread was called.
  int threads_asked() const { return threads_asked_; }

 private:
  class CountedCall;
  struct Rule {
    bool any_op;
    Op op;
    std::uint64_t nth;
    bool persistent;
    std::uint32_t error;
  };
  // Whether a planned fault fails call `number`, the `op_number`th of `op`;
  // if so, sets its error.
  bool Planned(Op op, std::uint64_t number, std::uint64_t op_number);
  std::wstring PathOf(FileHandle file) const;

  std::uint64_t count_ = 0;
  bool refuse_threads_ = false;
  int threads_asked_ = 0;
  std::map<Op, std::uint64_t> op_counts_;
  std::vector<Rule> rules_;
  int short_write_nth_ = 0;
  std::uint32_t short_write_bytes_ = 0;
  std::vector<Call> calls_;
  std::map<FileHandle, std::wstring> open_;
  std::map<FileHandle, bool> uncached_;  // opened with kAccessUncached
  std::wstring altered_path_;
  int altered_reads_ = 0;
  std::function<void(std::uint64_t, const Call&)> hook_;
};

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_SUPPORT_FAULT_PLATFORM_H_
