// SPDX-License-Identifier: MIT
#include "tests/reliability/invariant_r.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tarvelin::testing {
namespace {

// Without a manifest to say how many pieces there were, the first piece
// that is left is looked for among this many numbers.
constexpr int kPieceScanLimit = 1024;

// What a manifest records, read as the profile functions read it: names
// compare without regard to ASCII case, the first of two equal keys wins, and
// the piece fingerprints run from MD5_VALUE0 to the first empty one.
struct Manifest {
  bool present = false;
  std::wstring source;
  std::vector<std::wstring> pieces;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

Manifest ParseManifest(const std::string* bytes) {
  Manifest manifest;
  if (bytes == nullptr) return manifest;
  manifest.present = true;
  std::map<std::string, std::map<std::string, std::string>> sections;
  std::string section;
  std::size_t begin = 0;
  while (begin < bytes->size()) {
    std::size_t end = bytes->find('\n', begin);
    if (end == std::string::npos) end = bytes->size();
    const std::string line = Trim(bytes->substr(begin, end - begin));
    begin = end + 1;
    if (!line.empty() && line.front() == '[') {
      section = Lower(Trim(line.substr(1, line.find(']') - 1)));
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    sections[section].emplace(Lower(Trim(line.substr(0, equals))), Trim(line.substr(equals + 1)));
  }
  auto value = [&](const std::string& in, const std::string& key) {
    const std::string& text = sections[in][key];
    return std::wstring(text.begin(), text.end());
  };
  manifest.source = value("srcimagemd5", "md5_value");
  for (int n = 0;; ++n) {
    std::wstring piece = value("splitimagemd5", "md5_value" + std::to_string(n));
    if (piece.empty()) break;
    manifest.pieces.push_back(std::move(piece));
  }
  return manifest;
}

std::wstring PieceName(const std::wstring& base, int n) { return base + L"." + std::to_wstring(n); }

}  // namespace

const std::string* DiskFiles::Find(const std::wstring& path) const {
  auto it = read_.find(path);
  if (it == read_.end()) {
    std::optional<std::string> bytes;
    std::error_code error;
    if (std::filesystem::is_regular_file(FsPath(path), error)) {
      // One read of the whole file: these are megabytes, read many times.
      std::ifstream in(FsPath(path), std::ios::binary | std::ios::ate);
      const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
      if (size >= 0) {
        std::string content(static_cast<std::size_t>(size), '\0');
        in.seekg(0);
        if (size == 0 || in.read(&content[0], size)) bytes = std::move(content);
      }
    }
    it = read_.emplace(path, std::move(bytes)).first;
  }
  return it->second ? &*it->second : nullptr;
}

const std::string* MemoryFiles::Find(const std::wstring& path) const {
  auto it = files_.find(path);
  return it == files_.end() ? nullptr : &it->second;
}

InvariantR::InvariantR(std::wstring source_path, std::wstring base_path, std::string original)
    : source_path_(std::move(source_path)),
      base_path_(std::move(base_path)),
      original_(std::move(original)) {}

const std::wstring& InvariantR::SliceFingerprint(std::size_t offset, std::size_t size) const {
  auto it = slice_fingerprints_.find({offset, size});
  if (it == slice_fingerprints_.end()) {
    it = slice_fingerprints_
             .emplace(std::make_pair(offset, size), FingerprintOf(original_.substr(offset, size)))
             .first;
  }
  return it->second;
}

::testing::AssertionResult InvariantR::Holds(const FileView& files,
                                             const std::wstring& source_path,
                                             const std::wstring& base_path) const {
  const std::string* at_path = files.Find(source_path);
  if (at_path != nullptr && *at_path == original_) return ::testing::AssertionSuccess();

  const Manifest manifest = ParseManifest(files.Find(base_path + L".DAT"));
  const int limit = manifest.present ? static_cast<int>(manifest.pieces.size()) : kPieceScanLimit;
  int first = 0;
  while (first < limit && files.Find(PieceName(base_path, first)) == nullptr) ++first;
  std::vector<const std::string*> left;
  std::size_t left_size = 0;
  for (int n = first; n < limit; ++n) {
    const std::string* piece = files.Find(PieceName(base_path, n));
    if (piece == nullptr) break;
    left.push_back(piece);
    left_size += piece->size();
  }

  auto fail = [&](const char* why) {
    ::testing::AssertionResult result = ::testing::AssertionFailure();
    result << why << " (file at the path: ";
    if (at_path == nullptr) {
      result << "none";
    } else {
      result << at_path->size() << " of " << original_.size() << " bytes";
    }
    if (left.empty()) {
      result << "; no pieces";
    } else {
      result << "; pieces " << first << " to " << first + static_cast<int>(left.size()) - 1
             << ", " << left_size << " bytes";
    }
    result << "; manifest: ";
    if (manifest.present) {
      result << manifest.pieces.size() << " pieces recorded)";
    } else {
      result << "none)";
    }
    return result;
  };

  if (at_path == nullptr && first != 0) return fail("no file at the path and piece 0 is gone");
  if (at_path == nullptr && left_size != original_.size()) {
    return fail("no file at the path and the pieces do not hold every byte");
  }
  if (left.empty()) return fail("the file at the path is not the original and no piece is left");
  if (left_size > original_.size()) return fail("the pieces hold more bytes than the original");
  // The pieces left hold the original's tail; the file at the path must hold
  // the head that the deleted pieces held.
  const std::size_t head = original_.size() - left_size;
  if (head > 0 && (at_path == nullptr || at_path->size() < head ||
                   at_path->compare(0, head, original_, 0, head) != 0)) {
    return fail("the file at the path does not hold the bytes of the deleted pieces");
  }
  std::size_t offset = head;
  for (const std::string* piece : left) {
    if (original_.compare(offset, piece->size(), *piece) != 0) {
      return fail("the pieces left do not hold the original's tail");
    }
    offset += piece->size();
  }

  // Without a file at the path the pieces can be joined only by a merge,
  // which needs the manifest; one that is there must not contradict them.
  if (at_path == nullptr && !manifest.present) return fail("the pieces have no manifest");
  if (!manifest.present) return ::testing::AssertionSuccess();
  if (manifest.source != SliceFingerprint(0, original_.size())) {
    return fail("the manifest's source fingerprint is not the original's");
  }
  offset = head;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (manifest.pieces[first + i] != SliceFingerprint(offset, left[i]->size())) {
      return fail("the manifest's fingerprint of a piece left is not that piece's");
    }
    offset += left[i]->size();
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult HoldsR(const std::wstring& source_path, const std::wstring& base_path,
                                  const std::string& original) {
  return InvariantR(source_path, base_path, original).Holds(DiskFiles());
}

}  // namespace tarvelin::testing
