// SPDX-License-Identifier: MIT
#include "library/manifest.h"

#include <memory>

#include "library/bounded_text.h"

namespace tarvelin {

const wchar_t kSourceSection[] = L"SrcImageMD5";
const wchar_t kPieceSection[] = L"SplitImageMD5";
const wchar_t kValueKey[] = L"MD5_VALUE";

bool MakePieceKey(std::int32_t piece, wchar_t* out) {
  for (std::size_t i = 0; i < kNameCapacity; ++i) out[i] = L'\0';
  return AppendText(out, kNameCapacity, kValueKey) && AppendDecimal(out, kNameCapacity, piece);
}

std::wstring ReadManifestValue(Platform& platform, const wchar_t* section, const wchar_t* key,
                               const wchar_t* manifest_path) {
  // On the heap: 8 KiB of wide characters is much for a host thread's stack.
  std::unique_ptr<wchar_t[]> buffer(new wchar_t[kManifestValueCapacity]());
  platform.GetPrivateProfileString(section, key, L"", buffer.get(), kManifestValueCapacity,
                                   manifest_path);
  buffer[kManifestValueCapacity - 1] = L'\0';
  return std::wstring(buffer.get());
}


}  // namespace tarvelin
