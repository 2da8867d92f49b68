// SPDX-License-Identifier: MIT
#include "cli/call_trace.h"

#include "platform/platform_errors.h"
#include "platform/utf8.h"

namespace tarvelin::cli {

const TracedFailure& CallTrace::Last(TracedOp op) const {
  static const TracedFailure kNone;
  const auto found = failures_.find(op);
  return found == failures_.end() ? kNone : found->second;
}

const TracedFailure& CallTrace::Latest(std::initializer_list<TracedOp> ops) const {
  const TracedFailure* latest = &Last(*ops.begin());
  for (TracedOp op : ops) {
    const TracedFailure& failure = Last(op);
    if (failure.happened && (!latest->happened || failure.sequence > latest->sequence)) {
      latest = &failure;
    }
  }
  return *latest;
}

void CallTrace::Record(TracedOp op, const std::wstring& path, std::uint32_t error) {
  TracedFailure& failure = failures_[op];
  failure.happened = true;
  failure.path = path;
  failure.error = error;
  failure.sequence = ++sequence_;
  failure.op = op;
}

void CallTrace::RecordOnHandle(TracedOp op, FileHandle file) {
  Record(op, PathOf(file), base_.GetLastError());
}

std::wstring CallTrace::PathOf(FileHandle file) const {
  const auto found = open_.find(file);
  return found == open_.end() ? std::wstring() : found->second;
}

FileHandle CallTrace::CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                                 Disposition disposition, Attribute attribute) {
  FileHandle file = base_.CreateFile(path, access, share, disposition, attribute);
  const std::wstring name = path != nullptr ? path : L"";
  if (file == InvalidHandle()) {
    Record(disposition == Disposition::kOpenExisting ? TracedOp::kOpen : TracedOp::kCreate, name,
           base_.GetLastError());
  } else {
    open_[file] = name;
  }
  return file;
}

bool CallTrace::ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                         std::uint32_t* bytes_read) {
  const bool ok = base_.ReadFile(file, buffer, size, bytes_read);
  if (!ok) RecordOnHandle(TracedOp::kRead, file);
  return ok;
}

bool CallTrace::WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                          std::uint32_t* bytes_written) {
  const bool ok = base_.WriteFile(file, buffer, size, bytes_written);
  if (!ok) {
    RecordOnHandle(TracedOp::kWrite, file);
  } else if (bytes_written != nullptr && *bytes_written != size) {
    Record(TracedOp::kWrite, PathOf(file), kErrorWriteFault);
  }
  return ok;
}

bool CallTrace::FlushFileBuffers(FileHandle file) {
  const bool ok = base_.FlushFileBuffers(file);
  if (!ok) RecordOnHandle(TracedOp::kFlush, file);
  return ok;
}

bool CallTrace::FlushFolderOf(const wchar_t* path) {
  const bool ok = base_.FlushFolderOf(path);
  if (!ok) Record(TracedOp::kFlushFolder, path != nullptr ? path : L"", base_.GetLastError());
  return ok;
}

bool CallTrace::CloseHandle(FileHandle file) {
  const std::wstring path = PathOf(file);
  open_.erase(file);
  const bool ok = base_.CloseHandle(file);
  if (!ok) Record(TracedOp::kClose, path, base_.GetLastError());
  return ok;
}

bool CallTrace::DeleteFile(const wchar_t* path) {
  const bool ok = base_.DeleteFile(path);
  if (!ok) Record(TracedOp::kDelete, path != nullptr ? path : L"", base_.GetLastError());
  return ok;
}

bool CallTrace::WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                          const wchar_t* value, const wchar_t* path) {
  const bool ok = base_.WritePrivateProfileString(section, key, value, path);
  if (!ok) Record(TracedOp::kProfileWrite, path != nullptr ? path : L"", base_.GetLastError());
  return ok;
}

int CallTrace::OpenReadStream(const char* utf8_path, std::FILE** stream) {
  const int error = base_.OpenReadStream(utf8_path, stream);
  if (error != 0) {
    Record(TracedOp::kStreamOpen, utf8_path != nullptr ? Utf8ToWide(utf8_path) : L"",
           static_cast<std::uint32_t>(error));
  }
  return error;
}

}  // namespace tarvelin::cli
