// SPDX-License-Identifier: MIT
// The names that the library derives from the path a user gives, for the
// tool's messages and checks.
#ifndef TARVELIN_CLI_FILE_NAMES_H_
#define TARVELIN_CLI_FILE_NAMES_H_

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace tarvelin::cli {

struct FileNames {
  bool valid = false;  // false when the names would not fit (RC_INVALID_PATH)
  std::wstring path;
  std::wstring manifest;
  std::wstring base;
  // The name of piece `n`, or an empty string when it would not fit.
  std::wstring Piece(std::int32_t n) const;
};

FileNames NamesOf(const std::wstring& path);

// How many piece fingerprints the manifest records (0 when it is missing).
std::int32_t RecordedPieceCount(Platform& platform, const FileNames& names);

// Whether the manifest records a fingerprint of the source.
bool SourceFingerprintRecorded(Platform& platform, const FileNames& names);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_FILE_NAMES_H_
