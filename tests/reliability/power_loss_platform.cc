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

PowerLossPlatform::PowerLossPlatform(Platform& base, const std::wstring& folder) : base_(base) {
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

template <typename T>
T PowerLossPlatform::Done(Op op, const std::wstring& path, bool failed, T result) {
  ++count_;
  if (hook_) hook_(count_, Call{op, path, failed, 0});
  return result;
}

PowerLossPlatform::OpenFile* PowerLossPlatform::Find(FileHandle file) {
  auto it = open_.find(file);
  return it == open_.end() ? nullptr : &it->second;
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
                                         Attribute attribute) {
  FileHandle handle = base_.CreateFile(path, access, share, disposition, attribute);
  const bool failed = handle == InvalidHandle();
  if (!failed) {
    SimulatedDisk::FileId file = SimulatedDisk::kNoFile;
    switch (disposition) {
      case Disposition::kCreateAlways:
      case Disposition::kCreateNew: file = disk_.CreateOrTruncate(path); break;
      case Disposition::kOpenAlways: file = disk_.CreateIfMissing(path); break;
      case Disposition::kOpenExisting: file = Known(path); break;
    }
    open_[handle] = OpenFile{path, file, 0};
  }
  return Done(Op::kCreateFile, path, failed, handle);
}

bool PowerLossPlatform::ReadFile(FileHandle file, void* buffer, std::uint32_t size,
                                 std::uint32_t* bytes_read) {
  const bool ok = base_.ReadFile(file, buffer, size, bytes_read);
  OpenFile* open = Find(file);
  if (ok && open != nullptr) open->position += *bytes_read;
  return Done(Op::kReadFile, open != nullptr ? open->path : std::wstring(), !ok, ok);
}

bool PowerLossPlatform::WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                                  std::uint32_t* bytes_written) {
  const bool ok = base_.WriteFile(file, buffer, size, bytes_written);
  OpenFile* open = Find(file);
  if (ok && open != nullptr && open->file != SimulatedDisk::kNoFile) {
    disk_.Write(open->file, open->position, buffer, *bytes_written);
    open->position += *bytes_written;
  }
  return Done(Op::kWriteFile, open != nullptr ? open->path : std::wstring(), !ok, ok);
}

bool PowerLossPlatform::FlushFileBuffers(FileHandle file) {
  const bool ok = base_.FlushFileBuffers(file);
  OpenFile* open = Find(file);
  if (ok && !forget_flushes_ && open != nullptr && open->file != SimulatedDisk::kNoFile) {
    disk_.FlushFile(open->file);
  }
  return Done(Op::kFlushFileBuffers, open != nullptr ? open->path : std::wstring(), !ok, ok);
}

bool PowerLossPlatform::FlushFolderOf(const wchar_t* path) {
  const bool ok = base_.FlushFolderOf(path);
  if (ok && !forget_flushes_) disk_.FlushFolderOf(path);
  return Done(Op::kFlushFolderOf, path, !ok, ok);
}

std::uint32_t PowerLossPlatform::GetFileSize(FileHandle file, std::uint32_t* high) {
  const std::uint32_t low = base_.GetFileSize(file, high);
  OpenFile* open = Find(file);
  return Done(Op::kGetFileSize, open != nullptr ? open->path : std::wstring(), false, low);
}

bool PowerLossPlatform::SetFilePointer(FileHandle file, std::uint64_t offset) {
  const bool ok = base_.SetFilePointer(file, offset);
  OpenFile* open = Find(file);
  if (ok && open != nullptr) open->position = offset;
  return Done(Op::kSetFilePointer, open != nullptr ? open->path : std::wstring(), !ok, ok);
}

// A cut stays unflushed, like a write, until the file is flushed: a power
// loss may undo it.
bool PowerLossPlatform::SetEndOfFile(FileHandle file) {
  const bool ok = base_.SetEndOfFile(file);
  OpenFile* open = Find(file);
  if (ok && open != nullptr && open->file != SimulatedDisk::kNoFile) {
    disk_.Truncate(open->file, open->position);
  }
  return Done(Op::kSetEndOfFile, open != nullptr ? open->path : std::wstring(), !ok, ok);
}

bool PowerLossPlatform::CloseHandle(FileHandle file) {
  OpenFile* open = Find(file);
  const std::wstring path = open != nullptr ? open->path : std::wstring();
  open_.erase(file);
  const bool ok = base_.CloseHandle(file);
  return Done(Op::kCloseHandle, path, !ok, ok);
}

bool PowerLossPlatform::SetFileAttributes(const wchar_t* path, Attribute attribute) {
  const bool ok = base_.SetFileAttributes(path, attribute);
  return Done(Op::kSetFileAttributes, path, !ok, ok);
}

bool PowerLossPlatform::DeleteFile(const wchar_t* path) {
  if (disk_.Lookup(path) == SimulatedDisk::kNoFile) Known(path);
  const bool ok = base_.DeleteFile(path);
  if (ok) disk_.Delete(path);
  return Done(Op::kDeleteFile, path, !ok, ok);
}

bool PowerLossPlatform::PathFileExists(const wchar_t* path) {
  const bool found = base_.PathFileExists(path);
  return Done(Op::kPathFileExists, path, false, found);
}

std::uint32_t PowerLossPlatform::GetPrivateProfileString(const wchar_t* section,
                                                         const wchar_t* key,
                                                         const wchar_t* default_value,
                                                         wchar_t* buffer, std::uint32_t size,
                                                         const wchar_t* path) {
  const std::uint32_t count =
      base_.GetPrivateProfileString(section, key, default_value, buffer, size, path);
  return Done(Op::kGetProfileString, path, false, count);
}

bool PowerLossPlatform::WritePrivateProfileString(const wchar_t* section, const wchar_t* key,
                                                  const wchar_t* value, const wchar_t* path) {
  SimulatedDisk::FileId file = Known(path);
  const bool ok = base_.WritePrivateProfileString(section, key, value, path);
  std::string after;
  const bool there = ReadIfThere(path, &after);
  // A failed write may still have changed the file; only what is there counts.
  if (there && (ok || file == SimulatedDisk::kNoFile || after != disk_.CurrentContent(file))) {
    file = disk_.CreateIfMissing(path);
    disk_.Truncate(file, 0);
    disk_.Write(file, 0, after.data(), after.size());
  }
  return Done(Op::kWriteProfileString, path, !ok, ok);
}

bool PowerLossPlatform::ReadProfileSection(const wchar_t* section, const wchar_t* path,
                                           const ProfileEntryVisitor& visit) {
  const bool ok = base_.ReadProfileSection(section, path, visit);
  return Done(Op::kReadProfileSection, path, false, ok);
}

int PowerLossPlatform::OpenReadStream(const char* utf8_path, std::FILE** stream) {
  const int error = base_.OpenReadStream(utf8_path, stream);
  return Done(Op::kOpenReadStream, Utf8ToWide(utf8_path), error != 0, error);
}

}  // namespace tarvelin::testing
