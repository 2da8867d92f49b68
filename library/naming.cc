// SPDX-License-Identifier: MIT
#include "library/naming.h"

#include <cwchar>

#include "platform/path_rules.h"

namespace tarvelin {

const wchar_t kManifestExtension[] = L".DAT";

namespace {

std::size_t DecimalDigits(std::uint64_t value) {
  std::size_t digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

}  // namespace

bool PathFits(const wchar_t* path, std::size_t capacity) {
  if (path == nullptr) return false;
  std::size_t length = 0;
  while (length < capacity && path[length] != L'\0') ++length;
  return length < capacity;
}

std::wstring BasePath(const wchar_t* path) {
  return std::wstring(path, static_cast<std::size_t>(FindExtension(path) - path));
}

std::wstring InFolder(const std::wstring& folder, const std::wstring& path) {
  const std::wstring name(LastComponent(path.c_str()));
  // "C:" on Windows is the current folder of drive C, which a separator
  // would turn into its root: LastComponent ends such a prefix too.
  if (IsSeparator(folder.back()) || *LastComponent(folder.c_str()) == L'\0') {
    return folder + name;
  }
  return folder + kSeparator + name;
}

std::wstring ManifestPath(const std::wstring& base_path) { return base_path + kManifestExtension; }

std::wstring PieceName(const std::wstring& base_path, std::int32_t piece) {
  return base_path + L"." + std::to_wstring(piece);
}

std::wstring RebuiltName(const wchar_t* path, const std::wstring& base_path) {
  return base_path + FindExtension(path);
}

bool PieceNamesFit(const std::wstring& base_path, std::uint64_t highest_piece,
                   std::size_t capacity) {
  if (highest_piece > static_cast<std::uint64_t>(INT32_MAX)) return false;
  return base_path.size() + 1 + DecimalDigits(highest_piece) + 1 <= capacity;
}

}  // namespace tarvelin
