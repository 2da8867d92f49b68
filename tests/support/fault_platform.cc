// SPDX-License-Identifier: MIT
#include "tests/support/fault_platform.h"

#include <algorithm>
#include <cerrno>

#include "platform/utf8.h"

namespace tarvelin::testing {

// One counted call while it runs: numbered and recorded as it starts, failed
// there when a planned fault says so, and shown to the hook as it ends (the
// hook sees the call's record complete, whichever way it returned).
class FaultPlatform::CountedCall {
 public:
  CountedCall(FaultPlatform& platform, Op op, std::wstring path, std::uint32_t size = 0)
      : platform_(platform), number_(++platform.count_), index_(platform.calls_.size()) {
    platform.calls_.push_back(Call{op, std::move(path), false, size});
    refused_ = platform.Planned(op, number_, ++platform.op_counts_[op]);
    if (refused_) platform.calls_[index_].failed = true;
  }
  ~CountedCall() {
    if (platform_.hook_) platform_.hook_(number_, platform_.calls_[index_]);
  }
  CountedCall(const CountedCall&) = delete;
  CountedCall& operator=(const CountedCall&) = delete;

  // True when a planned fault fails the call; its error is set.
  bool refused() const { return refused_; }
  // Records a failure of the backend when `ok` is false; returns `ok`.
  bool Succeeded(bool ok) {
    if (!ok) platform_.calls_[index_].failed = true;
    return ok;
  }

 private:
  FaultPlatform& platform_;
  const std::uint64_t number_;
  const std::size_t index_;
  bool refused_ = false;
};

void FaultPlatform::FailCall(std::uint64_t n, bool persistent, std::uint32_t error) {
  rules_.push_back(Rule{true, Op::kCreateFile, n, persistent, error});
}

void FaultPlatform::FailOp(Op op, int nth, bool persistent, std::uint32_t error) {
  rules_.push_back(Rule{false, op, static_cast<std::uint64_t>(nth), persistent, error});
}

void FaultPlatform::ShortWrite(int nth, std::uint32_t reported) {
  short_write_nth_ = nth;
  short_write_bytes_ = reported;
}

void FaultPlatform::ClearFaults() {
  rules_.clear();
  short_write_nth_ = 0;
  altered_path_.clear();
}

std::vector<std::size_t> FaultPlatform::IndexesOf(Op op, const std::wstring& path) const {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < calls_.size(); ++i) {
    if (calls_[i].op == op && calls_[i].path == path) found.push_back(i);
  }
  return found;
}

bool FaultPlatform::Planned(Op op, std::uint64_t number, std::uint64_t op_number) {
  for (const Rule& rule : rules_) {
    const std::uint64_t at = rule.any_op ? number : (rule.op == op ? op_number : 0);
    if (at == 0) continue;
    if (at == rule.nth || (rule.persistent && at > rule.nth)) {
      target().SetLastError(rule.error);
      return true;
    }
  }
  return false;
}

std::wstring FaultPlatform::PathOf(FileHandle file) const {
  auto it = open_.find(file);
  return it == open_.end() ? std::wstring() : it->second;
}

FileHandle FaultPlatform::CreateFile(const wchar_t* path, std::uint32_t access,
                                     std::uint32_t share, Disposition disposition,
                                     Attribute attribute, FileHandle access_model) {
  CountedCall call(*this, Op::kCreateFile, path);
  calls_.back().creates = disposition == Disposition::kCreateNew ||
                          disposition == Disposition::kCreateAlways ||
                          disposition == Disposition::kOpenAlways;
  if (call.refused()) return InvalidHandle();
  FileHandle file =
      target().CreateFile(path, access, share, disposition, attribute, access_model);
  if (call.Succeeded(file != InvalidHandle())) {
    open_[file] = path;
    uncached_[file] = (access & kAccessUncached) != 0;
  }
  return file;
}

bool FaultPlatform::ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                             std::uint32_t* bytes_read) {
  CountedCall call(*this, Op::kReadFile, PathOf(file), size);
  if (call.refused() || !call.Succeeded(target().ReadFile(file, buffer, size, bytes_read))) {
    return false;
  }
  if (*bytes_read > 0 && !altered_path_.empty() && uncached_[file] &&
      PathOf(file) == altered_path_) {
    static_cast<unsigned char*>(buffer)[*bytes_read / 2] ^= 0x5A;
    ++altered_reads_;
  }
  return true;
}

bool FaultPlatform::WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                              std::uint32_t* bytes_written) {
  CountedCall call(*this, Op::kWriteFile, PathOf(file), size);
  if (call.refused()) return false;
  if (short_write_nth_ == 0 ||
      op_counts_[Op::kWriteFile] != static_cast<std::uint64_t>(short_write_nth_)) {
    return call.Succeeded(target().WriteFile(file, buffer, size, bytes_written));
  }
  const std::uint32_t part = std::min(short_write_bytes_, size);
  std::uint32_t ignored = 0;
  if (part > 0 && !call.Succeeded(target().WriteFile(file, buffer, part, &ignored))) return false;
  *bytes_written = part;
  return true;
}

bool FaultPlatform::FlushFileBuffers(FileHandle file) {
  CountedCall call(*this, Op::kFlushFileBuffers, PathOf(file));
  return !call.refused() && call.Succeeded(target().FlushFileBuffers(file));
}

bool FaultPlatform::FlushFolderOf(const wchar_t* path) {
  CountedCall call(*this, Op::kFlushFolderOf, path);
  return !call.refused() && call.Succeeded(target().FlushFolderOf(path));
}

std::uint32_t FaultPlatform::GetFileSize(FileHandle file, std::uint32_t* high) {
  CountedCall call(*this, Op::kGetFileSize, PathOf(file));
  return call.refused() ? 0xFFFFFFFFu : target().GetFileSize(file, high);
}

bool FaultPlatform::SetFilePointer(FileHandle file, std::uint64_t offset) {
  CountedCall call(*this, Op::kSetFilePointer, PathOf(file));
  return !call.refused() && call.Succeeded(target().SetFilePointer(file, offset));
}

bool FaultPlatform::SetEndOfFile(FileHandle file) {
  CountedCall call(*this, Op::kSetEndOfFile, PathOf(file));
  return !call.refused() && call.Succeeded(target().SetEndOfFile(file));
}

bool FaultPlatform::GetFileInformationByHandle(FileHandle file, FileInformation* information) {
  CountedCall call(*this, Op::kGetFileInformation, PathOf(file));
  return !call.refused() && call.Succeeded(target().GetFileInformationByHandle(file, information));
}


bool FaultPlatform::CloseHandle(FileHandle file) {
  CountedCall call(*this, Op::kCloseHandle, PathOf(file));
  // The handle is released either way, so that an injected failure leaks nothing.
  const bool ok = target().CloseHandle(file);
  open_.erase(file);
  uncached_.erase(file);
  return !call.refused() && call.Succeeded(ok);
}

bool FaultPlatform::SetFileAttributes(const wchar_t* path, Attribute attribute) {
  CountedCall call(*this, Op::kSetFileAttributes, path);
  return !call.refused() && call.Succeeded(target().SetFileAttributes(path, attribute));
}

bool FaultPlatform::DeleteFile(const wchar_t* path) {
  CountedCall call(*this, Op::kDeleteFile, path);
  return !call.refused() && call.Succeeded(target().DeleteFile(path));
}

bool FaultPlatform::DeleteAndClose(FileHandle file, const KeptFile* kept,
                                   std::size_t kept_count) {
  CountedCall call(*this, Op::kDeleteAndClose, PathOf(file));
  open_.erase(file);
  uncached_.erase(file);
  // A refused deletion still closes the handle, as the call promises.
  if (call.refused()) {
    const std::uint32_t error = target().GetLastError();
    target().CloseHandle(file);
    target().SetLastError(error);
    return false;
  }
  return call.Succeeded(target().DeleteAndClose(file, kept, kept_count));
}

bool FaultPlatform::GetDiskFreeSpace(const wchar_t* path, std::uint64_t* free_bytes) {
  CountedCall call(*this, Op::kGetDiskFreeSpace, path);
  return !call.refused() && call.Succeeded(target().GetDiskFreeSpace(path, free_bytes));
}

bool FaultPlatform::GetVolumeInformation(const wchar_t* path, FileSystemInformation* info) {
  CountedCall call(*this, Op::kGetVolumeInformation, path);
  return !call.refused() && call.Succeeded(target().GetVolumeInformation(path, info));
}

bool FaultPlatform::PathFileExists(const wchar_t* path) {
  CountedCall call(*this, Op::kPathFileExists, path);
  return !call.refused() && target().PathFileExists(path);
}

bool FaultPlatform::GetFileAttributes(const wchar_t* path, EntryAttributes* attributes) {
  CountedCall call(*this, Op::kGetFileAttributes, path);
  return !call.refused() && call.Succeeded(target().GetFileAttributes(path, attributes));
}

std::uint32_t FaultPlatform::GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                                     const wchar_t* default_value,
                                                     wchar_t* buffer, std::uint32_t size,
                                                     const wchar_t* path) {
  CountedCall call(*this, Op::kGetProfileString, path);
  if (!call.refused()) {
    return target().GetPrivateProfileString(section, key, default_value, buffer, size, path);
  }
  // A profile read that fails reads as the default.
  std::uint32_t n = 0;
  while (size > 0 && n + 1 < size && default_value[n] != L'\0') {
    buffer[n] = default_value[n];
    ++n;
  }
  if (size > 0) buffer[n] = L'\0';
  return n;
}

bool FaultPlatform::WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                              const wchar_t* value, const wchar_t* path) {
  CountedCall call(*this, Op::kWriteProfileString, path);
  return !call.refused() &&
         call.Succeeded(target().WritePrivateProfileString(section, key, value, path));
}


}  // namespace tarvelin::testing
