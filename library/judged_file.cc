// SPDX-License-Identifier: MIT
#include "library/judged_file.h"

#include <cstring>

#include "platform/platform_errors.h"

namespace tarvelin {

bool MayBeOurs(const FileInformation& information) {
  return information.links == 1 && information.owned_by_caller;
}

bool HoldsBytesOf(Platform& platform, FileHandle file, std::uint64_t size, FileHandle whole,
                  std::uint64_t whole_size, std::uint64_t place, unsigned char* buffer,
                  std::uint32_t buffer_size, Md5Context* digest) {
  if (place > whole_size || size > whole_size - place) return false;
  if (!platform.SetFilePointer(whole, place)) return false;
  const std::uint32_t half = buffer_size / 2;
  unsigned char* const theirs = buffer;
  unsigned char* const ours = buffer + half;
  for (std::uint64_t left = size; left > 0;) {
    const std::uint32_t want = left < half ? static_cast<std::uint32_t>(left) : half;
    std::uint32_t got = 0;
    if (!platform.ReadFile(file, ours, want, &got) || got == 0) return false;
    for (std::uint32_t filled = 0; filled < got;) {
      std::uint32_t more = 0;
      if (!platform.ReadFile(whole, theirs + filled, got - filled, &more) || more == 0) {
        return false;
      }
      filled += more;
    }
    if (std::memcmp(ours, theirs, got) != 0) return false;
    if (digest != nullptr) Md5Update(digest, ours, static_cast<std::int32_t>(got));
    left -= got;
  }
  return true;
}

bool LookAt(Platform& platform, const wchar_t* path, FileInformation* information) {
  const FileHandle named = platform.CreateFile(path, 0, kShareRead | kShareWrite,
                                               Disposition::kOpenExistingNoLink,
                                               Attribute::kReadOnly);
  if (named == InvalidHandle()) return false;
  const bool known = platform.GetFileInformationByHandle(named, information);
  const std::uint32_t error = platform.GetLastError();
  platform.CloseHandle(named);
  platform.SetLastError(error);
  return known;
}

NameCheck CheckName(Platform& platform, const wchar_t* path, FileHandle held) {
  FileInformation mine;
  if (!platform.GetFileInformationByHandle(held, &mine)) return NameCheck::kFailed;
  FileInformation at_name;
  if (!LookAt(platform, path, &at_name)) {
    const std::uint32_t error = platform.GetLastError();
    if (error != kErrorCantResolveFilename && error != kErrorFileNotFound) {
      return NameCheck::kFailed;
    }
    platform.SetLastError(kErrorFileExists);
    return NameCheck::kOther;
  }
  if (!SameFile(mine, at_name)) {
    platform.SetLastError(kErrorFileExists);
    return NameCheck::kOther;
  }
  return NameCheck::kHeld;
}

Deletion DeleteIfUnchanged(Platform& platform, const wchar_t* path,
                           const FileInformation& judged, const std::vector<KeptFile>& kept) {
  const FileHandle file = platform.CreateFile(path, kAccessRead | kAccessDelete, kShareNone,
                                              Disposition::kOpenExistingNoLink,
                                              Attribute::kNormal);
  if (file == InvalidHandle()) {
    const std::uint32_t error = platform.GetLastError();
    if (error == kErrorFileNotFound) return Deletion::kGone;
    // A link now stands at the name: not the file that was judged.
    if (error == kErrorCantResolveFilename) {
      platform.SetLastError(kErrorFileExists);
      return Deletion::kChanged;
    }
    return Deletion::kFailed;
  }
  FileInformation now;
  if (!platform.GetFileInformationByHandle(file, &now)) {
    const std::uint32_t error = platform.GetLastError();
    platform.CloseHandle(file);
    platform.SetLastError(error);
    return Deletion::kFailed;
  }
  if (!SameFileUnchanged(judged, now)) {
    platform.CloseHandle(file);
    platform.SetLastError(kErrorFileExists);
    return Deletion::kChanged;
  }
  if (platform.DeleteAndClose(file, kept.data(), kept.size())) return Deletion::kDeleted;
  return platform.GetLastError() == kErrorFileExists ? Deletion::kChanged : Deletion::kFailed;
}

}  // namespace tarvelin
