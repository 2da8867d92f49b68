// SPDX-License-Identifier: MIT
#include "cli/file_names.h"

#include "library/manifest.h"
#include "library/naming.h"

namespace tarvelin::cli {

std::wstring FileNames::Piece(std::int32_t n) const {
  wchar_t name[kNameCapacity] = {};
  if (!valid || !MakePieceName(base.c_str(), n, name)) return std::wstring();
  return name;
}

FileNames NamesOf(const std::wstring& path) {
  FileNames names;
  names.path = path;
  wchar_t base[kNameCapacity] = {};
  wchar_t manifest[kNameCapacity] = {};
  names.valid = MakeBasePath(path.c_str(), base) && MakeManifestPath(base, manifest);
  names.base = base;
  names.manifest = manifest;
  return names;
}

std::int32_t RecordedPieceCount(Platform& platform, const FileNames& names) {
  if (!names.valid) return 0;
  std::int32_t count = 0;
  for (; count < INT32_MAX; ++count) {
    wchar_t key[kNameCapacity] = {};
    MakePieceKey(count, key);
    if (ReadManifestValue(platform, kPieceSection, key, names.manifest.c_str()).empty()) break;
  }
  return count;
}

bool SourceFingerprintRecorded(Platform& platform, const FileNames& names) {
  return names.valid &&
         !ReadManifestValue(platform, kSourceSection, kValueKey, names.manifest.c_str()).empty();
}

}  // namespace tarvelin::cli
