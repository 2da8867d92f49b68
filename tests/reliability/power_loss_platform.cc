// SPDX-License-Identifier: MIT
#include "tests/reliability/power_loss_platform.h"

#include <filesystem>

#include "platform/utf8.h"
#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

// The bytes of the file at `path`, or false when there is none.
bool ReadIfThere(const std::wstring& path, std::string* bytes) {
  DiskFiles disk;
  const std::string* found = disk.Find(path);
  if (found == nullptr) return false;
  *bytes = *found;
  return true;
}

std::wstring NameOf(const std::filesystem::path& path) {
#if defined(_WIN32)
  return path.filename().wstring();
#else
  return Utf8ToWide(path.filename().string());
#endif
}

}  // namespace

PowerLossPlatform::PowerLossPlatform(Platform& base, const std::wstring& folder)
    : PlatformWrapper(&base) {
#if defined(_WIN32)
  const std::wstring separator = L"\\";
#else
  const std::wstring separator = L"/";
#endif
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(folder))) {
    if (!entry.is_regular_file()) continue;
    const std::wstring path = folder + separator + NameOf(entry.path());
    std::string bytes;
    if (ReadIfThere(path, &bytes)) disk_.AddDurableFile(path, bytes);
  }
}

PowerLossPlatform::OpenFile* PowerLossPlatform::Find(FileHandle file) {
  auto it = open_.find(file);
  return it == open_.end() || it->second.file == SimulatedDisk::kNoFile ? nullptr : &it->second;
}

SimulatedDisk::FileId PowerLossPlatform::Known(const std::wstring& path) {
  SimulatedDisk::FileId file = disk_.Lookup(path);
  std::string bytes;
  if (file == SimulatedDisk::kNoFile && ReadIfThere(path, &bytes)) {
    disk_.AddDurableFile(path, bytes);
    file = disk_.Lookup(path);
  }
  return file;
}

FileHandle PowerLossPlatform::CreateFile(const wchar_t* path, std::uint32_t access,
                                         std::uint32_t share, Disposition disposition,
                                         Attribute attribute, FileHandle access_model) {
  FileHandle handle =
      target().CreateFile(path, access, share, disposition, attribute, access_model);
  if (handle == InvalidHandle()) return handle;
  SimulatedDisk::FileId file = SimulatedDisk::kNoFile;
  switch (disposition) {
    case Disposition::kCreateAlways:
    case Disposition::kCreateNew: file = disk_.CreateOrTruncate(path); break;
    case Disposition::kOpenAlways: file = disk_.CreateIfMissing(path); break;
    case Disposition::kOpenExisting:
    case Disposition::kOpenExistingNoLink: file = Known(path); break;
  }
  open_[handle] = OpenFile{file, 0, path};
  return handle;
}

bool PowerLossPlatform::ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                                 std::uint32_t* bytes_read) {
  const bool ok = target().ReadFile(file, buffer, size, bytes_read);
  OpenFile* open = Find(file);
  if (ok && open != nullptr) open->position += *bytes_read;
  return ok;
}

bool PowerLossPlatform::WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                                  std::uint32_t* bytes_written) {
  const bool ok = target().WriteFile(file, buffer, size, bytes_written);
  OpenFile* open = Find(file);
  if (ok && open != nullptr) {
    disk_.Write(open->file, open->position, buffer, *bytes_written);
    open->position += *bytes_written;
  }
  return ok;
}

bool PowerLossPlatform::SetFilePointer(FileHandle file, std::uint64_t offset) {
  const bool ok = target().SetFilePointer(file, offset);
  OpenFile* open = Find(file);
  if (ok && open != nullptr) open->position = offset;
  return ok;
}

bool PowerLossPlatform::SetEndOfFile(FileHandle file) {
  const bool ok = target().SetEndOfFile(file);
  OpenFile* open = Find(file);
  if (ok && open != nullptr) disk_.Truncate(open->file, open->position);
  return ok;
}

bool PowerLossPlatform::FlushFileBuffers(FileHandle file) {
  const bool ok = target().FlushFileBuffers(file);
  OpenFile* open = Find(file);
  if (ok && !forget_flushes_ && open != nullptr) disk_.FlushFile(open->file);
  return ok;
}

bool PowerLossPlatform::FlushFolderOf(const wchar_t* path) {
  const bool ok = target().FlushFolderOf(path);
  if (ok && !forget_flushes_) disk_.FlushFolderOf(path);
  return ok;
}


bool PowerLossPlatform::CloseHandle(FileHandle file) {
  open_.erase(file);
  return target().CloseHandle(file);
}

bool PowerLossPlatform::DeleteFile(const wchar_t* path) {
  if (disk_.Lookup(path) == SimulatedDisk::kNoFile) Known(path);
  const bool ok = target().DeleteFile(path);
  if (ok) disk_.Delete(path);
  return ok;
}

bool PowerLossPlatform::DeleteAndClose(FileHandle file, const KeptFile* kept,
                                       std::size_t kept_count) {
  const auto it = open_.find(file);
  const std::wstring path = it == open_.end() ? std::wstring() : it->second.path;
  if (it != open_.end()) open_.erase(it);
  const bool ok = target().DeleteAndClose(file, kept, kept_count);
  if (ok && !path.empty()) disk_.Delete(path);
  return ok;
}

bool PowerLossPlatform::WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                                  const wchar_t* value, const wchar_t* path) {
  SimulatedDisk::FileId file = Known(path);
  const bool ok = target().WritePrivateProfileString(section, key, value, path);
  std::string after;
  const bool there = ReadIfThere(path, &after);
  // A failed write may still have changed the file; only what is there counts.
  if (there && (ok || file == SimulatedDisk::kNoFile || after != disk_.CurrentContent(file))) {
    file = disk_.CreateIfMissing(path);
    disk_.Truncate(file, 0);
    disk_.Write(file, 0, after.data(), after.size());
  }
  return ok;
}

}  // namespace tarvelin::testing
