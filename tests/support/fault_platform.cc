// SPDX-License-Identifier: MIT
#include "tests/support/fault_platform.h"

#include <cerrno>

#include "platform/utf8.h"

namespace tarvelin::testing {

const char* OpName(Op op) {
  switch (op) {
    case Op::kCreateFile: return "CreateFile";
    case Op::kReadFile: return "ReadFile";
    case Op::kWriteFile: return "WriteFile";
    case Op::kFlushFileBuffers: return "FlushFileBuffers";
    case Op::kFlushFolderOf: return "FlushFolderOf";
    case Op::kGetFileSize: return "GetFileSize";
    case Op::kCloseHandle: return "CloseHandle";
    case Op::kSetFileAttributes: return "SetFileAttributes";
    case Op::kDeleteFile: return "DeleteFile";
    case Op::kPathFileExists: return "PathFileExists";
    case Op::kGetProfileString: return "GetPrivateProfileString";
    case Op::kWriteProfileString: return "WritePrivateProfileString";
    case Op::kOpenReadStream: return "OpenReadStream";
  }
  return "?";
}

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
}

std::vector<std::size_t> FaultPlatform::IndexesOf(Op op, const std::wstring& path) const {
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < calls_.size(); ++i) {
    if (calls_[i].op == op && calls_[i].path == path) found.push_back(i);
  }
  return found;
}

bool FaultPlatform::Enter(Op op, const std::wstring& path, std::uint32_t size) {
  const std::uint64_t number = ++count_;
  const std::uint64_t op_number = ++op_counts_[op];
  calls_.push_back(Call{op, path, false, size});
  for (const Rule& rule : rules_) {
    const std::uint64_t at = rule.any_op ? number : (rule.op == op ? op_number : 0);
    if (at == 0) continue;
    if (at == rule.nth || (rule.persistent && at > rule.nth)) {
      calls_.back().failed = true;
      base_.SetLastError(rule.error);
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
                                     Attribute attribute) {
  if (Enter(Op::kCreateFile, path)) return InvalidHandle();
  FileHandle file = base_.CreateFile(path, access, share, disposition, attribute);
  if (file == InvalidHandle()) {
    MarkFailed();
  } else {
    open_[file] = path;
  }
  return file;
}

bool FaultPlatform::ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                             std::uint32_t* bytes_read) {
  if (Enter(Op::kReadFile, PathOf(file), size)) return false;
  const bool ok = base_.ReadFile(file, buffer, size, bytes_read);
  if (!ok) MarkFailed();
  return ok;
}

bool FaultPlatform::WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                              std::uint32_t* bytes_written) {
  if (Enter(Op::kWriteFile, PathOf(file), size)) return false;
  if (short_write_nth_ != 0 && op_counts_[Op::kWriteFile] ==
                                   static_cast<std::uint64_t>(short_write_nth_)) {
    const std::uint32_t part = short_write_bytes_ < size ? short_write_bytes_ : size;
    std::uint32_t ignored = 0;
    if (part > 0 && !base_.WriteFile(file, buffer, part, &ignored)) {
      MarkFailed();
      return false;
    }
    *bytes_written = part;
    return true;
  }
  const bool ok = base_.WriteFile(file, buffer, size, bytes_written);
  if (!ok) MarkFailed();
  return ok;
}

bool FaultPlatform::FlushFileBuffers(FileHandle file) {
  if (Enter(Op::kFlushFileBuffers, PathOf(file))) return false;
  const bool ok = base_.FlushFileBuffers(file);
  if (!ok) MarkFailed();
  return ok;
}

bool FaultPlatform::FlushFolderOf(const wchar_t* path) {
  if (Enter(Op::kFlushFolderOf, path)) return false;
  const bool ok = base_.FlushFolderOf(path);
  if (!ok) MarkFailed();
  return ok;
}

std::uint32_t FaultPlatform::GetFileSize(FileHandle file, std::uint32_t* high) {
  if (Enter(Op::kGetFileSize, PathOf(file))) return 0xFFFFFFFFu;
  return base_.GetFileSize(file, high);
}

bool FaultPlatform::CloseHandle(FileHandle file) {
  const bool fail = Enter(Op::kCloseHandle, PathOf(file));
  // The handle is released either way, so that an injected failure leaks nothing.
  const bool ok = base_.CloseHandle(file);
  open_.erase(file);
  if (fail) return false;
  if (!ok) MarkFailed();
  return ok;
}

bool FaultPlatform::SetFileAttributes(const wchar_t* path, Attribute attribute) {
  if (Enter(Op::kSetFileAttributes, path)) return false;
  const bool ok = base_.SetFileAttributes(path, attribute);
  if (!ok) MarkFailed();
  return ok;
}

bool FaultPlatform::DeleteFile(const wchar_t* path) {
  if (Enter(Op::kDeleteFile, path)) return false;
  const bool ok = base_.DeleteFile(path);
  if (!ok) MarkFailed();
  return ok;
}

bool FaultPlatform::PathFileExists(const wchar_t* path) {
  if (Enter(Op::kPathFileExists, path)) return false;
  return base_.PathFileExists(path);
}

std::uint32_t FaultPlatform::GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                                     const wchar_t* default_value,
                                                     wchar_t* buffer, std::uint32_t size,
                                                     const wchar_t* path) {
  if (Enter(Op::kGetProfileString, path)) {
    // A profile read that fails reads as the default.
    std::uint32_t n = 0;
    while (size > 0 && n + 1 < size && default_value[n] != L'\0') {
      buffer[n] = default_value[n];
      ++n;
    }
    if (size > 0) buffer[n] = L'\0';
    return n;
  }
  return base_.GetPrivateProfileString(section, key, default_value, buffer, size, path);
}

bool FaultPlatform::WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                              const wchar_t* value, const wchar_t* path) {
  if (Enter(Op::kWriteProfileString, path)) return false;
  const bool ok = base_.WritePrivateProfileString(section, key, value, path);
  if (!ok) MarkFailed();
  return ok;
}

int FaultPlatform::OpenReadStream(const char* utf8_path, std::FILE** stream) {
  if (Enter(Op::kOpenReadStream, Utf8ToWide(utf8_path))) return EACCES;
  const int error = base_.OpenReadStream(utf8_path, stream);
  if (error != 0) MarkFailed();
  return error;
}

}  // namespace tarvelin::testing
