// SPDX-License-Identifier: MIT
// A platform that passes every call to a real backend and remembers, for the
// error messages, the last call of each kind that failed and on which file.
//
// The split and the merge stop at the first failure that they do not
// tolerate, so the last failed call of the kind that a result code speaks of
// is the one that stopped them. Only reads of a fingerprint's stream happen
// outside the platform; a read failure that left no trace here was one of
// those.
#ifndef TARVELIN_CLI_CALL_TRACE_H_
#define TARVELIN_CLI_CALL_TRACE_H_

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>

#include "platform/platform.h"

namespace tarvelin::cli {

enum class TracedOp {
  kOpen,          // CreateFile of an existing file
  kCreate,        // CreateFile that creates or truncates
  kRead,          // ReadFile
  kWrite,         // WriteFile failed or took fewer bytes than it was given
  kFlush,         // FlushFileBuffers
  kFlushFolder,   // FlushFolderOf
  kClose,         // CloseHandle, which can report a write that failed late
  kDelete,        // DeleteFile
  kProfileWrite,  // WritePrivateProfileString
  kStreamOpen,    // OpenReadStream; the error is an errno value
};

struct TracedFailure {
  bool happened = false;
  std::wstring path;
  std::uint32_t error = 0;  // the last-error value (errno for kStreamOpen)
  std::uint64_t sequence = 0;  // later failures have higher numbers
  TracedOp op = TracedOp::kOpen;
};

class CallTrace : public Platform {
 public:
  explicit CallTrace(Platform& base) : base_(base) {}

  // The last failure of `op`; `happened` is false when there was none.
  const TracedFailure& Last(TracedOp op) const;
  // The latest failure among those of `ops`, or one that did not happen.
  const TracedFailure& Latest(std::initializer_list<TracedOp> ops) const;
  // Forgets every failure recorded so far.
  void Clear() { failures_.clear(); }

  FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                        Disposition disposition, Attribute attribute) override;
  bool ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override;
  bool WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override;
  bool FlushFileBuffers(FileHandle file) override;
  bool FlushFolderOf(const wchar_t* path) override;
  std::uint32_t GetFileSize(FileHandle file, std::uint32_t* high) override {
    return base_.GetFileSize(file, high);
  }
  bool CloseHandle(FileHandle file) override;
  bool SetFileAttributes(const wchar_t* path, Attribute attribute) override {
    return base_.SetFileAttributes(path, attribute);
  }
  bool DeleteFile(const wchar_t* path) override;
  bool PathFileExists(const wchar_t* path) override { return base_.PathFileExists(path); }
  std::uint32_t GetLastError() override { return base_.GetLastError(); }
  void SetLastError(std::uint32_t error) override { base_.SetLastError(error); }
  std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                        const wchar_t* default_value, wchar_t* buffer,
                                        std::uint32_t size, const wchar_t* path) override {
    return base_.GetPrivateProfileString(section, key, default_value, buffer, size, path);
  }
  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                 const wchar_t* value, const wchar_t* path) override;
  int OpenReadStream(const char* utf8_path, std::FILE** stream) override;

 private:
  void Record(TracedOp op, const std::wstring& path, std::uint32_t error);
  void RecordOnHandle(TracedOp op, FileHandle file);
  std::wstring PathOf(FileHandle file) const;

  Platform& base_;
  std::map<TracedOp, TracedFailure> failures_;
  std::uint64_t sequence_ = 0;
  std::map<FileHandle, std::wstring> open_;
};

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_CALL_TRACE_H_
