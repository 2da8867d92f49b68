// SPDX-License-Identifier: MIT
// The profile functions over IniDocument. One mutex serializes every call of
// a store, as Windows serializes profile calls within a process; between
// processes (and stores), a lock on the file lets one writer or many readers
// at a time read, change and write it.
//
// The cache holds the documents of the last few files, keyed by device and
// inode so that two spellings of one path share an entry. An entry is trusted
// only while fstat on the freshly opened descriptor gives the size and the
// modification and change times (to the nanosecond) recorded after our last
// read or write. Any edit by someone else changes the change time, and so
// makes the next call read the file again, unless it keeps the size and lands
// within the same tick of the file system's clock as our last write. Linux
// from 6.13 on gives a change that follows an fstat a finer time than the
// one that fstat saw, which closes that gap on the common file systems.
#include "platform/posix/profile.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <cwchar>
#include <exception>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/ini_document.h"
#include "platform/posix/fd_io.h"
#include "platform/platform_errors.h"
#include "platform/posix/shared_open.h"
#include "platform/utf8.h"

namespace tarvelin::posix {
namespace {

// Documents kept at once; a split or a merge works on one manifest.
constexpr std::size_t kCachedFiles = 4;

struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;  // -1: never equal to a real stamp.
  timespec modified{};
  timespec changed{};

  bool SameFile(const FileStamp& other) const {
    return device == other.device && inode == other.inode;
  }
  bool operator==(const FileStamp& other) const {
    return SameFile(other) && size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec && changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
  bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

// Returns 0, or an errno value.
int StampOf(int fd, FileStamp* stamp) {
  struct stat info;
  if (fstat(fd, &info) != 0) return errno;
  stamp->device = info.st_dev;
  stamp->inode = info.st_ino;
  stamp->size = info.st_size;
  stamp->modified = info.st_mtim;
  stamp->changed = info.st_ctim;
  return 0;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads the whole file, however its size changes meanwhile. Returns 0, or an
// errno value.
int ReadWhole(int fd, std::size_t expected_size, std::string* text) {
  text->assign(expected_size, '\0');
  std::size_t filled = 0;
  for (;;) {
    if (filled == text->size()) text->resize(text->size() + 4096);
    const ssize_t got = pread(fd, &(*text)[filled], text->size() - filled, static_cast<off_t>(filled));
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  text->resize(filled);
  return 0;
}

// Writes all of `bytes` at `offset`. Returns 0, or an errno value; *done
// counts the bytes written either way.
int WriteWholeAt(int fd, std::string_view bytes, std::size_t offset, std::size_t* done) {
  *done = 0;
  while (*done < bytes.size()) {
    const ssize_t count =
        pwrite(fd, bytes.data() + *done, bytes.size() - *done, static_cast<off_t>(offset + *done));
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (count == 0) return EIO;
    *done += static_cast<std::size_t>(count);
  }
  return 0;
}

std::string Utf8Of(const wchar_t* text) { return WideToUtf8(std::wstring(text)); }

// Copies `text` cut to size - 1 characters and terminated; returns the count.
std::uint32_t CopyTerminated(std::wstring_view text, wchar_t* buffer, std::uint32_t size) {
  const std::size_t count = text.size() < size - 1u ? text.size() : size - 1u;
  std::wmemcpy(buffer, text.data(), count);
  buffer[count] = L'\0';
  return static_cast<std::uint32_t>(count);
}

// The default with its trailing spaces cut off, which Windows also does.
std::uint32_t CopyDefault(const wchar_t* default_value, wchar_t* buffer, std::uint32_t size) {
  std::wstring_view text = default_value == nullptr ? L"" : default_value;
  while (!text.empty() && text.back() == L' ') text.remove_suffix(1);
  return CopyTerminated(text, buffer, size);
}

// The value as a C string reads it: up to its first NUL byte.
std::uint32_t CopyValue(std::string_view value, wchar_t* buffer, std::uint32_t size) {
  value = StripValueQuotes(value);
  value = value.substr(0, value.find('\0'));
  return CopyTerminated(Utf8ToWide(std::string(value)), buffer, size);
}

// Names as Windows lists them: each terminated, the list ended by one more
// NUL; a list that does not fit is cut and ends in two NULs, and the count
// is then size - 2. Empty names would end the list early and are left out.
std::uint32_t CopyNameList(const std::vector<std::string_view>& names, wchar_t* buffer,
                           std::uint32_t size) {
  std::wstring list;
  for (std::string_view name : names) {
    name = name.substr(0, name.find('\0'));
    if (name.empty()) continue;
    list.append(Utf8ToWide(std::string(name)));
    list.push_back(L'\0');
  }
  if (size < 2) {
    buffer[0] = L'\0';
    return 0;
  }
  if (list.size() + 1 <= size) {
    std::wmemcpy(buffer, list.data(), list.size());
    buffer[list.size()] = L'\0';
    if (list.empty()) buffer[1] = L'\0';
    return static_cast<std::uint32_t>(list.size());
  }
  std::wmemcpy(buffer, list.data(), size - 2u);
  buffer[size - 2] = L'\0';
  buffer[size - 1] = L'\0';
  return size - 2;
}

}  // namespace

struct ProfileStore::State {
  struct CachedFile {
    FileStamp stamp;  // Its size is -1 when the document is not to be trusted.
    IniDocument document;
  };

  std::mutex mutex;
  std::list<CachedFile> files;  // Most recently used first.

  // The document of the open file `fd`, from the cache when its stamp still
  // holds, else read afresh. Returns 0, or an errno value.
  int Load(int fd, CachedFile** file);
  void Forget(const CachedFile* file);
};

int ProfileStore::State::Load(int fd, CachedFile** file) {
  FileStamp before;
  if (const int error = StampOf(fd, &before)) return error;
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (!it->stamp.SameFile(before)) continue;
    files.splice(files.begin(), files, it);
    if (files.front().stamp == before) {
      *file = &files.front();
      return 0;
    }
    files.pop_front();
    break;
  }

  std::string text;
  if (const int error = ReadWhole(fd, static_cast<std::size_t>(before.size), &text)) return error;
  FileStamp after;
  if (const int error = StampOf(fd, &after)) return error;
  CachedFile loaded{after, ParseIni(std::move(text))};
  // A file that changed while it was read may not match what we hold.
  if (after != before || static_cast<std::size_t>(after.size) != loaded.document.text().size()) {
    loaded.stamp.size = -1;
  }
  files.push_front(std::move(loaded));
  if (files.size() > kCachedFiles) files.pop_back();
  *file = &files.front();
  return 0;
}

void ProfileStore::State::Forget(const CachedFile* file) {
  for (auto it = files.begin(); it != files.end(); ++it) {
    if (&*it == file) {
      files.erase(it);
      return;
    }
  }
}

ProfileStore::ProfileStore() : state_(std::make_unique<State>()) {}
ProfileStore::~ProfileStore() = default;

std::uint32_t ProfileStore::Get(const wchar_t* section, const wchar_t* key,
                                const wchar_t* default_value, wchar_t* buffer, std::uint32_t size,
                                const wchar_t* path) {
  if (buffer == nullptr || size == 0) return 0;
  try {
    std::uint32_t error = kErrorSuccess;
    const int fd = path == nullptr ? -1
                                   : OpenShared(Utf8Of(path).c_str(), kAccessRead,
                                                kShareRead | kShareWrite,
                                                Disposition::kOpenExisting, Attribute::kNormal,
                                                &error);
    if (fd < 0) {
      SetThreadLastError(path == nullptr ? kErrorInvalidParameter : error);
      if (section == nullptr || key == nullptr) return CopyNameList({}, buffer, size);
      return CopyDefault(default_value, buffer, size);
    }
    Descriptor file(fd);
    // Never a half-written update of another process or store.
    if (const int lock_error = LockProfileUpdates(file.get(), false)) {
      SetThreadLastError(Win32ErrorFromErrno(lock_error));
      return CopyDefault(default_value, buffer, size);
    }

    std::lock_guard<std::mutex> lock(state_->mutex);
    State::CachedFile* cached = nullptr;
    if (const int read_error = state_->Load(file.get(), &cached)) {
      SetThreadLastError(Win32ErrorFromErrno(read_error));
      return CopyDefault(default_value, buffer, size);
    }
    const IniDocument& document = cached->document;
    if (section == nullptr) return CopyNameList(document.SectionNames(), buffer, size);
    const std::string section_name = Utf8Of(section);
    if (key == nullptr) return CopyNameList(document.KeyNames(section_name), buffer, size);
    const auto value = document.Find(section_name, Utf8Of(key));
    if (!value) {
      SetThreadLastError(kErrorFileNotFound);
      return CopyDefault(default_value, buffer, size);
    }
    return CopyValue(*value, buffer, size);
  } catch (const std::exception&) {
    SetThreadLastError(kErrorNotEnoughMemory);
    return CopyDefault(default_value, buffer, size);
  }
}

bool ProfileStore::Put(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                       const wchar_t* path) {
  // Windows takes all-NULL names as "flush the cache", which has no work here.
  if (section == nullptr || path == nullptr) {
    if (section == nullptr && key == nullptr && value == nullptr) return true;
    SetThreadLastError(kErrorInvalidParameter);
    return false;
  }
  try {
    const std::string section_name = Utf8Of(section);
    const std::string key_name = key == nullptr ? std::string() : Utf8Of(key);
    const std::string value_text = value == nullptr ? std::string() : Utf8Of(value);
    const bool removes = key == nullptr || value == nullptr;
    if (!removes && !IsWritableIniEntry(section_name, key_name, value_text)) {
      SetThreadLastError(kErrorInvalidParameter);
      return false;
    }

    std::uint32_t error = kErrorSuccess;
    const int fd = OpenShared(Utf8Of(path).c_str(), kAccessRead | kAccessWrite,
                              kShareRead | kShareWrite,
                              removes ? Disposition::kOpenExisting : Disposition::kOpenAlways,
                              Attribute::kNormal, &error);
    if (fd < 0) {
      // Nothing to remove from a file that does not exist.
      if (removes && error == kErrorFileNotFound) return true;
      SetThreadLastError(error);
      return false;
    }
    Descriptor file(fd);
    // Two writers that both read the file before either wrote would each
    // write their edit over the same bytes, and one entry would be lost.
    if (const int lock_error = LockProfileUpdates(file.get(), true)) {
      SetThreadLastError(Win32ErrorFromErrno(lock_error));
      return false;
    }

    std::lock_guard<std::mutex> lock(state_->mutex);
    State::CachedFile* cached = nullptr;
    if (const int read_error = state_->Load(file.get(), &cached)) {
      SetThreadLastError(Win32ErrorFromErrno(read_error));
      return false;
    }
    IniDocument& document = cached->document;
    const std::optional<IniEdit> edit =
        key == nullptr     ? document.PlanRemoveSection(section_name)
        : value == nullptr ? document.PlanRemoveKey(section_name, key_name)
                           : document.PlanSet(section_name, key_name, value_text);
    if (!edit) return true;

    // A document read while someone else was writing the file may not be what
    // the disk holds; it serves this edit but is not kept.
    const bool trusted = cached->stamp.size >= 0;
    // Only the bytes from the edit on change; on a failure they are put back
    // as far as the disk allows, and the document is read again next time.
    const std::size_t old_size = document.text().size();
    const std::string old_tail = document.IsAppend(*edit) ? std::string()
                                                          : document.text().substr(edit->offset);
    document.Apply(*edit);
    const std::string& text = document.text();
    std::size_t written = 0;
    int write_error =
        WriteWholeAt(fd, std::string_view(text).substr(edit->offset), edit->offset, &written);
    if (write_error == 0 && text.size() < old_size &&
        ftruncate(fd, static_cast<off_t>(text.size())) != 0) {
      write_error = errno;
    }
    if (write_error != 0) {
      if (written != 0) {
        std::size_t restored = 0;
        WriteWholeAt(fd, old_tail, edit->offset, &restored);
        if (ftruncate(fd, static_cast<off_t>(old_size)) != 0) {
          // The file keeps what the failed write left; it is read afresh.
        }
      }
      state_->Forget(cached);
      SetThreadLastError(Win32ErrorFromErrno(write_error));
      return false;
    }
    if (!trusted || StampOf(fd, &cached->stamp) != 0) state_->Forget(cached);
    return true;
  } catch (const std::exception&) {
    // An edit cut short may have left a document that the disk does not hold.
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->files.clear();
    SetThreadLastError(kErrorNotEnoughMemory);
    return false;
  }
}

}  // namespace tarvelin::posix
