// SPDX-License-Identifier: MIT
// GetPrivateProfileStringW and WritePrivateProfileStringW for the POSIX
// backend. Files are opened through OpenShared, so a profile write is refused
// while someone holds the file with read-only sharing.
//
// A split writes one new key per piece into one section; rewriting the whole
// file for each would cost O(N^2). The store keeps the last parsed document
// per file and trusts it only while the file's device, inode, size and
// modification and change times are those it recorded; then a new key that
// belongs to the file's last section is appended in place.
#ifndef TARVELIN_PLATFORM_POSIX_PROFILE_H_
#define TARVELIN_PLATFORM_POSIX_PROFILE_H_

#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace tarvelin::posix {

class ProfileStore {
 public:
  ProfileStore();
  ~ProfileStore();
  ProfileStore(const ProfileStore&) = delete;
  ProfileStore& operator=(const ProfileStore&) = delete;

  // The contracts of Platform::GetPrivateProfileString and
  // Platform::WritePrivateProfileString; the last-error value is set through
  // SetThreadLastError on failure. Safe to call from several threads.
  std::uint32_t Get(const wchar_t* section, const wchar_t* key, const wchar_t* default_value,
                    wchar_t* buffer, std::uint32_t size, const wchar_t* path);
  bool Put(const wchar_t* section, const wchar_t* key, const wchar_t* value,
           const wchar_t* path);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tarvelin::posix

#endif  // TARVELIN_PLATFORM_POSIX_PROFILE_H_
