// SPDX-License-Identifier: MIT
#include "library/split_set.h"

#include <cstring>
#include <map>

#include "digest/fingerprint.h"
#include "library/file_helpers.h"
#include "library/ini_reader.h"
#include "library/manifest.h"
#include "library/naming.h"
#include "platform/path_rules.h"

namespace tarvelin {
namespace {

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;  // lower case too: the recorded text must be exactly ours
}

constexpr std::string_view kValueKeyText = "MD5_VALUE";

// Whether `key` starts with "MD5_VALUE" as the profile functions compare
// names: without regard to ASCII case.
bool StartsWithValueKey(std::string_view key) {
  if (key.size() < kValueKeyText.size()) return false;
  for (std::size_t i = 0; i < kValueKeyText.size(); ++i) {
    char c = key[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kValueKeyText[i]) return false;
  }
  return true;
}

bool IsValueKey(std::string_view key) {
  return key.size() == kValueKeyText.size() && StartsWithValueKey(key);
}

// The number in a key "MD5_VALUE<n>" as a keyed read of that key would find
// it, or -1.
std::int32_t PieceNumberOfKey(std::string_view key) {
  if (key.size() <= kValueKeyText.size() || !StartsWithValueKey(key)) return -1;
  const std::string_view digits = key.substr(kValueKeyText.size());
  if (digits[0] == '0' && digits.size() != 1) return -1;
  std::int64_t number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    number = number * 10 + (c - '0');
    if (number > INT32_MAX) return -1;
  }
  return static_cast<std::int32_t>(number);
}

RecordedFingerprint Recorded(std::string_view text) {
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

bool ParseFingerprintText(std::string_view text, unsigned char digest[kMd5DigestSize]) {
  if (text.size() != kFingerprintTextLength) return false;
  std::wstring wide(text.begin(), text.end());
  return ParseFingerprintText(wide.c_str(), digest);
}

bool RecordedFingerprint::IsZero() const {
  if (!well_formed) return false;
  for (unsigned char byte : digest) {
    if (byte != 0) return false;
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

bool SplitSet::Derive(const wchar_t* path, std::size_t capacity,
                      const std::wstring& piece_folder) {
  capacity_ = capacity;
  if (!PathFits(path, capacity)) return false;
  path_ = path;
  base_ = BasePath(path);
  rebuilt_ = RebuiltName(path, base_);
  if (!piece_folder.empty()) base_ = InFolder(piece_folder, base_);
  manifest_ = ManifestPath(base_);
  return manifest_.size() < capacity && rebuilt_.size() < capacity;
}

bool SplitSet::NamesADevice() const {
  return IsDeviceName(path()) || IsDeviceName(manifest()) || IsDeviceName(rebuilt()) ||
         IsDeviceName(PieceName(0).c_str());
}

std::int32_t SplitSet::PartOfASplit(bool manifest_there) const {
  if (path_ == manifest_) return kIsTheManifest;
  if (!manifest_there || path_.size() <= base_.size() + 1) return kNotAPart;
  const std::wstring number = path_.substr(base_.size() + 1);
  if (number.size() > 9 || number.find_first_not_of(L"0123456789") != std::wstring::npos) {
    return kNotAPart;
  }
  const auto piece = static_cast<std::int32_t>(std::stol(number));
  return PieceName(piece) == path_ ? piece : kNotAPart;
}

std::wstring SplitSet::PieceName(std::int32_t piece) const {
  std::wstring name = tarvelin::PieceName(base_, piece);
  if (name.size() >= capacity_) name.clear();
  return name;
}

bool SplitSet::PieceNamesFit(std::uint64_t highest_piece) const {
  return tarvelin::PieceNamesFit(base_, highest_piece, capacity_);
}

bool SplitSet::ReadRecord(Platform& platform, FileHandle manifest) {
  source_recorded_ = false;
  source_ = RecordedFingerprint();
  recorded_.clear();
  std::string source;
  IniSectionReader source_reader("SrcImageMD5", [&](std::string_view key, std::string_view value) {
    if (!IsValueKey(key)) return true;
    source = value;
    return false;  // the first entry of a name is the one a keyed read finds
  });
  // Keys usually come in order, 0 first; one that comes early waits aside
  // until its turn. The first entry of a number wins, as for a keyed read,
  // and an empty value ends the record there.
  std::vector<RecordedFingerprint> pieces;
  std::vector<bool> empty;
  std::map<std::int32_t, std::string> early;
  auto take = [&](std::string_view value) {
    empty.push_back(value.empty());
    pieces.push_back(Recorded(value));
  };
  auto count = [&] { return static_cast<std::int32_t>(pieces.size()); };
  IniSectionReader piece_reader("SplitImageMD5", [&](std::string_view key, std::string_view value) {
    const std::int32_t number = PieceNumberOfKey(key);
    if (number < count() || early.count(number) != 0) return true;
    if (number > count()) {
      early.emplace(number, value);
      return true;
    }
    take(value);
    for (auto next = early.find(count()); next != early.end(); next = early.find(count())) {
      take(next->second);
      early.erase(next);
    }
    return true;
  });
  if (!ReadIniFile(platform, manifest, {&source_reader, &piece_reader})) return false;
  std::size_t kept = 0;
  while (kept < pieces.size() && !empty[kept]) ++kept;
  pieces.resize(kept);
  recorded_.swap(pieces);
  source_recorded_ = !source.empty();
  source_ = Recorded(source);
  return true;
}

bool SplitSet::RecordedNamesFit() const {
  return recorded_.empty() || PieceNamesFit(recorded_.size() - 1);
}

std::vector<std::uint64_t> SplitSet::PieceSizes(Platform& platform, bool through_gaps,
                                                std::int32_t first) const {
  std::vector<std::uint64_t> sizes;
  for (std::int32_t piece = first; piece < recorded_count(); ++piece) {
    const std::wstring name = PieceName(piece);
    if (name.empty()) break;
    if (!platform.PathFileExists(name.c_str())) {
      if (!through_gaps) break;
      sizes.push_back(0);
      continue;
    }
    std::uint64_t size = 0;
    QueryFileSize(platform, name.c_str(), &size);
    sizes.push_back(size);
  }
  return sizes;
}

std::vector<std::wstring> SplitSet::PieceFilesFrom(Platform& platform, std::int32_t first) const {
  std::vector<std::wstring> found;
  for (std::int32_t piece = first; piece >= 0 && piece < INT32_MAX; ++piece) {
    std::wstring name = PieceName(piece);
    if (name.empty() || !platform.PathFileExists(name.c_str())) break;
    found.push_back(std::move(name));
  }
  return found;
}

}  // namespace tarvelin
