// SPDX-License-Identifier: MIT
#include "library/manifest.h"

#include <cstring>
#include <memory>
#include <new>

#include "library/judged_file.h"
#include "platform/aligned_bytes.h"
#include "platform/platform_errors.h"

namespace tarvelin {
namespace {

// The text of a fingerprint as the manifest holds it: sixteen upper-case
// hexadecimal pairs separated by single spaces.
std::string FingerprintText(const unsigned char digest[kMd5DigestSize]) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (int byte = 0; byte < kMd5DigestSize; ++byte) {
    if (byte != 0) text.push_back(' ');
    text.push_back(kHex[digest[byte] >> 4]);
    text.push_back(kHex[digest[byte] & 0x0F]);
  }
  return text;
}

}  // namespace

const wchar_t kSourceSection[] = L"SrcImageMD5";
const wchar_t kPieceSection[] = L"SplitImageMD5";
const wchar_t kValueKey[] = L"MD5_VALUE";

std::wstring PieceKey(std::int32_t piece) { return kValueKey + std::to_wstring(piece); }

std::wstring ReadManifestValue(Platform& platform, const wchar_t* section, const wchar_t* key,
                               const wchar_t* manifest_path) {
  // On the heap: 8 KiB of wide characters is much for a host thread's stack.
  std::unique_ptr<wchar_t[]> buffer(new wchar_t[kManifestValueCapacity]());
  platform.GetPrivateProfileString(section, key, L"", buffer.get(), kManifestValueCapacity,
                                   manifest_path);
  buffer[kManifestValueCapacity - 1] = L'\0';
  return std::wstring(buffer.get());
}

std::string SourceRecordText(const unsigned char source[kMd5DigestSize]) {
  return "[SrcImageMD5]\r\nMD5_VALUE=" + FingerprintText(source) + "\r\n";
}

std::string PieceRecordText(std::int32_t piece, const unsigned char digest[kMd5DigestSize]) {
  const std::string entry =
      "MD5_VALUE" + std::to_string(piece) + "=" + FingerprintText(digest) + "\r\n";
  return piece == 0 ? "[SplitImageMD5]\r\n" + entry : entry;
}

bool ManifestWriter::Append(Platform& platform, FileHandle manifest, const std::string& text) {
  const auto size = static_cast<std::uint32_t>(text.size());
  std::uint32_t written = 0;
  if (!platform.WriteFile(manifest, text.data(), size, &written)) return false;
  if (written != size) {
    platform.SetLastError(kErrorWriteFault);
    return false;
  }
  Md5Update(&written_, text.data(), static_cast<std::int32_t>(size));
  size_ += size;
  return true;
}

ManifestWriter::Check ManifestWriter::CheckAt(Platform& platform, FileHandle manifest,
                                              const wchar_t* path, bool from_medium) {
  const auto changed = [&platform](std::uint32_t error) {
    platform.SetLastError(error);
    return Check::kChanged;
  };
  FileInformation held;
  if (!platform.GetFileInformationByHandle(manifest, &held)) return Check::kUnchecked;
  if (held.size != size_) return changed(kErrorWriteFault);
  // Read through a second handle at the name, proved to be the held file:
  // what the name gives a reader is what a merge will read (a FUSE driver
  // may serve a writer's handle otherwise).
  const std::uint32_t access = kAccessRead | (from_medium ? kAccessUncached : 0u);
  FileHandle named = platform.CreateFile(path, access, kShareRead | kShareWrite,
                                         Disposition::kOpenExistingNoLink, Attribute::kReadOnly);
  if (named == InvalidHandle()) {
    const std::uint32_t error = platform.GetLastError();
    if (error == kErrorCantResolveFilename || error == kErrorFileNotFound) {
      return changed(kErrorFileExists);
    }
    return Check::kUnchecked;
  }
  const auto close_with = [&platform, named](Check check) {
    const std::uint32_t error = platform.GetLastError();
    platform.CloseHandle(named);
    platform.SetLastError(error);
    return check;
  };
  FileInformation at_name;
  if (!platform.GetFileInformationByHandle(named, &at_name)) return close_with(Check::kUnchecked);
  if (!SameFile(held, at_name)) return close_with(changed(kErrorFileExists));
  Md5Context read;
  Md5Init(&read);
  constexpr std::uint32_t kBlockSize = 65536;
  const AlignedBytes block = NewAlignedBytes(kBlockSize);
  if (block == nullptr) {
    platform.SetLastError(kErrorNotEnoughMemory);
    return close_with(Check::kUnchecked);
  }
  for (;;) {
    std::uint32_t got = 0;
    if (!platform.ReadFile(named, block.get(), kBlockSize, &got)) {
      return close_with(Check::kUnchecked);
    }
    if (got == 0) break;
    Md5Update(&read, block.get(), static_cast<std::int32_t>(got));
    if (got < kBlockSize) break;  // the end: a file read past the cache ends short
  }
  unsigned char expected[kMd5DigestSize];
  unsigned char found[kMd5DigestSize];
  Md5Context copy = written_;
  Md5Final(&copy, expected);
  Md5Final(&read, found);
  if (std::memcmp(expected, found, kMd5DigestSize) != 0) {
    return close_with(changed(kErrorWriteFault));
  }
  return close_with(Check::kIntact);
}

bool HoldsOnlyRecordOf(Platform& platform, FileHandle file,
                       const unsigned char source[kMd5DigestSize],
                       const std::vector<Md5Digest>& pieces) {
  if (!platform.SetFilePointer(file, 0)) return false;
  // The expected text is made one record at a time as the comparison needs
  // it, so that a manifest of a million pieces is never held whole.
  std::string expected = SourceRecordText(source);
  std::size_t next_piece = 0;
  std::size_t at = 0;  // how much of `expected` is matched
  char block[4096];
  for (;;) {
    std::uint32_t got = 0;
    if (!platform.ReadFile(file, block, sizeof block, &got)) return false;
    if (got == 0) return true;
    for (std::uint32_t i = 0; i < got; ++i) {
      if (at == expected.size()) {
        if (next_piece == pieces.size()) return false;  // bytes beyond the record
        expected = PieceRecordText(static_cast<std::int32_t>(next_piece),
                                   pieces[next_piece].data());
        ++next_piece;
        at = 0;
      }
      if (block[i] != expected[at]) return false;
      ++at;
    }
  }
}

}  // namespace tarvelin
