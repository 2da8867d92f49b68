// SPDX-License-Identifier: MIT
// The merge over hostile manifests and pieces: whatever the bytes, the merge
// must not crash, must answer with one of its result codes, and must never
// lose a byte. The input is a manifest and up to eight pieces (see
// merge_input.h); they are written to a scratch folder and merged there.
//
// Properties checked for each input:
// - without a manifest the result is RC_MANIFEST_NOT_FOUND and nothing
//   changes;
// - the pieces that are gone afterwards are a prefix 0..m-1 of the pieces
//   that existed from 0 on, each of them matched its recorded fingerprint,
//   and the rebuilt file holds exactly their bytes in order; every other
//   piece keeps its bytes;
// - the manifest is gone only on RC_OK, and RC_OK means that the rebuilt
//   file matches the recorded fingerprint of the source;
// - no other file appears.
#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "digest/fingerprint.h"
#include "digest/md5.h"
#include "fuzz/merge_input.h"
#include "fuzz/per_run_platform.h"
#include "fuzz/scratch_folder.h"
#include "library/manifest.h"
#include "library/operations.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace tarvelin::fuzz {
namespace {

std::string PiecePath(std::size_t n) { return ScratchFolder() + "/f." + std::to_string(n); }
std::string ManifestPath() { return ScratchFolder() + "/f.DAT"; }
std::string RebuiltPath() { return ScratchFolder() + "/f.wim"; }

std::wstring FingerprintOf(const std::string& bytes) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, bytes.data(), static_cast<std::int32_t>(bytes.size()));
  unsigned char digest[kMd5DigestSize];
  Md5Final(&context, digest);
  wchar_t text[kFingerprintTextCapacity] = {};
  FormatFingerprintText(digest, text);
  return text;
}

std::set<std::string> NamesInFolder() {
  std::set<std::string> names;
  DIR* folder = opendir(ScratchFolder().c_str());
  if (folder == nullptr) return names;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  closedir(folder);
  return names;
}

bool IsMergeResult(ResultCode code) {
  switch (code) {
    case RC_OK:
    case RC_MANIFEST_NOT_FOUND:
    case RC_FILE_OPEN:
    case RC_DIGEST_MISMATCH:
    case RC_FILE_READ:
    case RC_FILE_WRITE:
    case RC_FILE_DELETE:
    case RC_INVALID_PATH:
      return true;
    default:
      return false;
  }
}

// The recorded fingerprints as the merge will read them.
struct Recorded {
  std::wstring source;
  std::vector<std::wstring> pieces;
};

Recorded ReadRecorded(Platform& platform, std::size_t piece_count) {
  const std::wstring manifest = Utf8ToWide(ManifestPath());
  Recorded recorded;
  recorded.source = ReadManifestValue(platform, kSourceSection, kValueKey, manifest.c_str());
  for (std::size_t n = 0; n < piece_count; ++n) {
    const std::wstring key = L"MD5_VALUE" + std::to_wstring(n);
    recorded.pieces.push_back(
        ReadManifestValue(platform, kPieceSection, key.c_str(), manifest.c_str()));
  }
  return recorded;
}

void CheckMerge(const MergeInput& input) {
  EmptyScratchFolder();
  if (input.manifest) WriteNewFile(ManifestPath(), *input.manifest);
  for (std::size_t n = 0; n < input.pieces.size(); ++n) {
    if (input.pieces[n]) WriteNewFile(PiecePath(n), *input.pieces[n]);
  }
  const std::set<std::string> names_before = NamesInFolder();
  std::size_t run = 0;  // pieces present from 0 on, up to the first gap
  while (run < input.pieces.size() && input.pieces[run]) ++run;
  PerRunPlatform platform;
  const Recorded recorded = input.manifest ? ReadRecorded(platform, run) : Recorded();

  const std::wstring path = Utf8ToWide(RebuiltPath());
  OperationOptions options;
  options.platform = &platform;
  const ResultCode result = Merge(path.c_str(), options);
  if (!IsMergeResult(result)) Violation("the merge answered with a code that is not its own");

  if (!input.manifest) {
    if (result != RC_MANIFEST_NOT_FOUND) Violation("a merge without manifest did not say so");
    if (NamesInFolder() != names_before) Violation("a merge without manifest changed the folder");
    return;
  }

  std::size_t merged = 0;  // pieces gone, from 0 on
  std::string bytes;
  while (merged < run && !ReadWholeFile(PiecePath(merged), &bytes)) ++merged;
  std::string joined;
  for (std::size_t n = 0; n < input.pieces.size(); ++n) {
    const bool present = ReadWholeFile(PiecePath(n), &bytes);
    if (n < merged) {
      if (FingerprintOf(*input.pieces[n]) != recorded.pieces[n]) {
        Violation("a piece that did not match its fingerprint was merged");
      }
      joined += *input.pieces[n];
    } else if (present != input.pieces[n].has_value() || (present && bytes != *input.pieces[n])) {
      Violation("a piece that was not merged changed or went");
    }
  }

  std::string rebuilt;
  const bool rebuilt_exists = ReadWholeFile(RebuiltPath(), &rebuilt);
  if (merged > 0 && !rebuilt_exists) Violation("pieces went but no rebuilt file holds them");
  if (rebuilt_exists && rebuilt != joined) Violation("the rebuilt file is not the merged pieces");

  std::string manifest;
  const bool manifest_exists = ReadWholeFile(ManifestPath(), &manifest);
  if (manifest_exists != (result != RC_OK))
    Violation("the manifest went without success or stayed after it");
  if (manifest_exists && manifest != *input.manifest) Violation("the manifest changed");
  if (result == RC_OK && FingerprintOf(rebuilt) != recorded.source) {
    Violation("a merge succeeded with a rebuilt file that does not match the source fingerprint");
  }

  std::set<std::string> allowed = names_before;
  allowed.insert("f.wim");
  for (const std::string& name : NamesInFolder()) {
    if (allowed.count(name) == 0) Violation("the merge left a file of another name");
  }
}

}  // namespace
}  // namespace tarvelin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvelin::fuzz;
  CheckMerge(ParseMergeInput(std::string_view(reinterpret_cast<const char*>(data), size)));
  return 0;
}
