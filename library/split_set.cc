// SPDX-License-Identifier: MIT
#include "library/split_set.h"

#include <cstring>
#include <map>

#include "digest/fingerprint.h"
#include "library/file_helpers.h"
#include "library/manifest.h"
#include "library/naming.h"

namespace tarvelin {
namespace {

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;  // lower case too: the recorded text must be exactly ours
}

// Whether two key names are the same to the profile functions: ASCII case
// does not count.
bool SameKey(const wchar_t* a, const wchar_t* b) {
  for (;; ++a, ++b) {
    wchar_t x = *a;
    wchar_t y = *b;
    if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - L'a' + L'A');
    if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - L'a' + L'A');
    if (x != y) return false;
    if (x == L'\0') return true;
  }
}

// The number in a key "MD5_VALUE<n>" as a keyed read of that key would find
// it (the name compares without regard to ASCII case), or -1.
std::int32_t PieceNumberOfKey(const wchar_t* key) {
  const std::size_t prefix = std::wcslen(kValueKey);
  for (std::size_t i = 0; i < prefix; ++i) {
    wchar_t c = key[i];
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (c != kValueKey[i]) return -1;
  }
  const wchar_t* digits = key + prefix;
  if (*digits == L'\0' || (digits[0] == L'0' && digits[1] != L'\0')) return -1;
  std::int64_t number = 0;
  for (const wchar_t* c = digits; *c != L'\0'; ++c) {
    if (*c < L'0' || *c > L'9') return -1;
    number = number * 10 + (*c - L'0');
    if (number > INT32_MAX) return -1;
  }
  return static_cast<std::int32_t>(number);
}

RecordedFingerprint Recorded(const wchar_t* text) {
  RecordedFingerprint recorded;
  recorded.well_formed = ParseFingerprintText(text, recorded.digest);
  return recorded;
}

}  // namespace

bool ParseFingerprintText(const wchar_t* text, unsigned char digest[kMd5DigestSize]) {
  if (std::wcslen(text) != kFingerprintTextLength) return false;
  for (std::size_t byte = 0; byte < kMd5DigestSize; ++byte) {
    const wchar_t* pair = text + 3 * byte;
    const int high = HexValue(pair[0]);
    const int low = HexValue(pair[1]);
    if (high < 0 || low < 0) return false;
    if (byte + 1 < kMd5DigestSize && pair[2] != L' ') return false;
    digest[byte] = static_cast<unsigned char>(high * 16 + low);
  }
  return true;
}

bool RecordedFingerprint::Matches(const unsigned char* file_digest) const {
  return well_formed && std::memcmp(digest, file_digest, kMd5DigestSize) == 0;
}

bool RecordedFingerprint::Matches(const wchar_t* file_text) const {
  unsigned char file_digest[kMd5DigestSize];
  return ParseFingerprintText(file_text, file_digest) && Matches(file_digest);
}

bool SplitSet::Derive(const wchar_t* path) {
  if (!PathFits(path)) return false;
  std::wcscpy(path_, path);
  return MakeBasePath(path, base_) && MakeManifestPath(base_, manifest_) &&
         MakeRebuiltName(path, base_, rebuilt_);
}

bool SplitSet::PieceName(std::int32_t piece, wchar_t* out) const {
  return MakePieceName(base_, piece, out);
}

std::wstring SplitSet::PieceName(std::int32_t piece) const {
  wchar_t name[kNameCapacity] = {};
  return MakePieceName(base_, piece, name) ? std::wstring(name) : std::wstring();
}

// Read as its section, like the pieces: a keyed read would make a backend
// parse, and keep, the whole of a huge manifest for one value.
void SplitSet::ReadSourceRecord(Platform& platform) {
  std::wstring source;
  platform.ReadProfileSection(kSourceSection, manifest_, [&](const wchar_t* key, const wchar_t* value) {
    if (!SameKey(key, kValueKey)) return true;
    source = value;
    return false;  // the first entry of a name is the one a keyed read finds
  });
  source_recorded_ = !source.empty();
  source_ = Recorded(source.c_str());
}

void SplitSet::ReadPieceRecord(Platform& platform) {
  // Keys usually come in order, 0 first; one that comes early waits aside
  // until its turn. The first entry of a number wins, as for a keyed read,
  // and an empty value ends the record there.
  recorded_.clear();
  std::vector<bool> empty;
  std::map<std::int32_t, std::wstring> early;
  auto take = [&](const wchar_t* value) {
    empty.push_back(*value == L'\0');
    recorded_.push_back(Recorded(value));
  };
  const bool read = platform.ReadProfileSection(
      kPieceSection, manifest_, [&](const wchar_t* key, const wchar_t* value) {
        const std::int32_t number = PieceNumberOfKey(key);
        if (number < recorded_count() || early.count(number) != 0) return true;
        if (number > recorded_count()) {
          early.emplace(number, value);
          return true;
        }
        take(value);
        for (auto next = early.find(recorded_count()); next != early.end();
             next = early.find(recorded_count())) {
          take(next->second.c_str());
          early.erase(next);
        }
        return true;
      });
  std::size_t count = 0;
  while (read && count < recorded_.size() && !empty[count]) ++count;
  recorded_.resize(count);
}

bool SplitSet::RecordedNamesFit() const {
  return recorded_.empty() || PieceNamesFit(base_, recorded_.size() - 1);
}

std::vector<std::uint64_t> SplitSet::PieceSizes(Platform& platform, bool through_gaps,
                                                std::int32_t first) const {
  std::vector<std::uint64_t> sizes;
  for (std::int32_t piece = first; piece < recorded_count(); ++piece) {
    wchar_t name[kNameCapacity] = {};
    if (!PieceName(piece, name)) break;
    if (!platform.PathFileExists(name)) {
      if (!through_gaps) break;
      sizes.push_back(0);
      continue;
    }
    std::uint64_t size = 0;
    QueryFileSize(platform, name, &size);
    sizes.push_back(size);
  }
  return sizes;
}

std::vector<std::wstring> SplitSet::PieceFilesFrom(Platform& platform, std::int32_t first) const {
  std::vector<std::wstring> found;
  for (std::int32_t piece = first; piece >= 0 && piece < INT32_MAX; ++piece) {
    wchar_t name[kNameCapacity] = {};
    if (!PieceName(piece, name) || !platform.PathFileExists(name)) break;
    found.push_back(name);
  }
  return found;
}

bool SplitSet::RecordSource(Platform& platform, const wchar_t* text) const {
  return platform.WritePrivateProfileString(kSourceSection, kValueKey, text, manifest_);
}

bool SplitSet::RecordPiece(Platform& platform, std::int32_t piece, const wchar_t* text) const {
  wchar_t key[kNameCapacity] = {};
  MakePieceKey(piece, key);
  return platform.WritePrivateProfileString(kPieceSection, key, text, manifest_);
}

}  // namespace tarvelin
