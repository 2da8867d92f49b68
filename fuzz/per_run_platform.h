// SPDX-License-Identifier: MIT
// The default backend with a profile store of its own. The backend's store
// keeps the documents of the last few files for the life of the process;
// a harness that makes a platform per run instead frees everything it
// allocated by the end of the run, so that libFuzzer's leak check (which
// looks whenever a run allocated more than it freed) stays quiet and fast.
#ifndef TARVELIN_FUZZ_PER_RUN_PLATFORM_H_
#define TARVELIN_FUZZ_PER_RUN_PLATFORM_H_

#include "platform/platform_wrapper.h"
#include "platform/posix/profile.h"

namespace tarvelin::fuzz {

class PerRunPlatform final : public PlatformWrapper {
 public:
  PerRunPlatform() : PlatformWrapper(&DefaultPlatform()) {}

  std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                        const wchar_t* default_value, wchar_t* buffer,
                                        std::uint32_t size, const wchar_t* path) override {
    return profiles_.Get(section, key, default_value, buffer, size, path);
  }
  bool WritePrivateProfileString(const wchar_t* section, const wchar_t* key, const wchar_t* value,
                                 const wchar_t* path) override {
    return profiles_.Put(section, key, value, path);
  }

 private:
  posix::ProfileStore profiles_;
};

}  // namespace tarvelin::fuzz

#endif  // TARVELIN_FUZZ_PER_RUN_PLATFORM_H_
