// SPDX-License-Identifier: MIT
#include "library/naming.h"

#include <cstdint>

#include "platform/path_rules.h"

namespace tarvelin {

const wchar_t kManifestExtension[] = L".DAT";

namespace {

void Clear(wchar_t* out) {
  for (std::size_t i = 0; i < kNameCapacity; ++i) out[i] = L'\0';
}

// A name that does not fit leaves an empty buffer, never a cut name.
bool KeepOrClear(bool fits, wchar_t* out) {
  if (!fits) Clear(out);
  return fits;
}

}  // namespace

bool PathFits(const wchar_t* path) {
  return path != nullptr && BoundedLength(path, kNameCapacity) < kNameCapacity;
}

bool MakeBasePath(const wchar_t* path, wchar_t* out) {
  Clear(out);
  if (!PathFits(path) || !AppendText(out, kNameCapacity, path)) return false;
  RemoveExtension(out);
  return true;
}

bool MakeManifestPath(const wchar_t* base_path, wchar_t* out) {
  Clear(out);
  return KeepOrClear(AppendText(out, kNameCapacity, base_path) &&
                         AppendText(out, kNameCapacity, kManifestExtension),
                     out);
}

bool MakePieceName(const wchar_t* base_path, std::int32_t piece, wchar_t* out) {
  Clear(out);
  return KeepOrClear(AppendText(out, kNameCapacity, base_path) &&
                         AppendText(out, kNameCapacity, L".") &&
                         AppendDecimal(out, kNameCapacity, piece),
                     out);
}

bool MakeRebuiltName(const wchar_t* path, const wchar_t* base_path, wchar_t* out) {
  Clear(out);
  return KeepOrClear(AppendText(out, kNameCapacity, base_path) &&
                         AppendText(out, kNameCapacity, FindExtension(path)),
                     out);
}

bool PieceNamesFit(const wchar_t* base_path, std::uint64_t highest_piece) {
  if (highest_piece > static_cast<std::uint64_t>(INT32_MAX)) return false;
  const std::size_t length = BoundedLength(base_path, kNameCapacity);
  return length + 1 + DecimalDigits(highest_piece) + 1 <= kNameCapacity;
}

}  // namespace tarvelin
