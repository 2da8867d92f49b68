// SPDX-License-Identifier: MIT
// The default backend, counting the calls that succeeded in changing
// something on disk: creations and truncations, writes, deletions, profile
// writes. A process that made none was, in effect, refused. It can also
// end its own process with SIGKILL right before its Nth attempt to change
// something, so that a test can kill a host at a moment it names.
#ifndef TARVELIN_TESTS_RELIABILITY_PROCESS_CHANGE_COUNTING_PLATFORM_H_
#define TARVELIN_TESTS_RELIABILITY_PROCESS_CHANGE_COUNTING_PLATFORM_H_

#include <signal.h>

#include "platform/platform_wrapper.h"

namespace tarvelin::testing {

class ChangeCountingPlatform final : public PlatformWrapper {
 public:
  ChangeCountingPlatform() : PlatformWrapper(&DefaultPlatform()) {}
  int changes() const { return changes_; }
  // 0: never.
  void DieBeforeChange(int nth) { die_before_ = nth; }

  FileHandle CreateFile(const wchar_t* path, std::uint32_t access, std::uint32_t share,
                        Disposition disposition, Attribute attribute,
                        FileHandle access_model = nullptr) override {
    if (disposition != Disposition::kOpenExisting &&
        disposition != Disposition::kOpenExistingNoLink) {
      Attempt();
    }
    FileHandle file =
        target().CreateFile(path, access, share, disposition, attribute, access_model);
    Count(file != InvalidHandle() && disposition != Disposition::kOpenExisting &&
          disposition != Disposition::kOpenExistingNoLink);
    return file;
  }
  bool WriteFile(FileHandle file, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override {
    Attempt();
    return Count(target().WriteFile(file, buffer, size, bytes_written));
  }
  bool DeleteFile(const wchar_t* path) override {
    Attempt();
    return Count(target().DeleteFile(path));
  }
  bool DeleteAndClose(FileHandle file, const KeptFile* kept = nullptr,
                      std::size_t kept_count = 0) override {
    Attempt();
    return Count(target().DeleteAndClose(file, kept, kept_count));
  }
  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                 const wchar_t* path) override {
    Attempt();
    return Count(target().WritePrivateProfileString(section, key, value, path));
  }

 private:
  void Attempt() {
    if (++attempts_ == die_before_) raise(SIGKILL);
  }
  bool Count(bool changed) {
    if (changed) ++changes_;
    return changed;
  }

  int changes_ = 0;
  int attempts_ = 0;
  int die_before_ = 0;
};

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_PROCESS_CHANGE_COUNTING_PLATFORM_H_
