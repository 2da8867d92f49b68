// SPDX-License-Identifier: MIT
// Writes the seed corpora of the two harnesses: manifests and pieces made by
// real splits of small files, hand-cut splits of several pieces with their
// manifests written through the profile functions, and variations of them
// that a merge must refuse. Run once; its output is kept in fuzz/corpus/.
//
//   make_seeds CORPUS_FOLDER   (writes CORPUS_FOLDER/merge and .../profile_reader)
#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "digest/fingerprint.h"
#include "digest/md5.h"
#include "fuzz/merge_input.h"
#include "fuzz/scratch_folder.h"
#include "library/operations.h"
#include "library/manifest.h"
#include "library/split_set.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace tarvelin::fuzz {
namespace {

std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string Fingerprint(const std::string& bytes) {
  Md5Context context;
  Md5Init(&context);
  Md5Update(&context, bytes.data(), static_cast<std::int32_t>(bytes.size()));
  unsigned char digest[kMd5DigestSize];
  Md5Final(&context, digest);
  wchar_t text[kFingerprintTextCapacity] = {};
  FormatFingerprintText(digest, text);
  return WideToUtf8(std::wstring(text));
}

// What a split of `source` into pieces of `mib` MiB leaves: the manifest and
// the pieces, read back from the scratch folder.
MergeInput RealSplit(const std::string& source, int mib) {
  EmptyScratchFolder();
  const std::string path = ScratchFolder() + "/f.wim";
  WriteNewFile(path, source);
  if (Split(Utf8ToWide(path).c_str(), mib) != RC_OK) Violation("a seed split failed");
  MergeInput input;
  input.manifest.emplace();
  ReadWholeFile(ScratchFolder() + "/f.DAT", &*input.manifest);
  std::string piece;
  for (int n = 0; ReadWholeFile(ScratchFolder() + "/f." + std::to_string(n), &piece); ++n) {
    input.pieces.push_back(piece);
  }
  return input;
}

// `source` cut into pieces of `piece_size` bytes, with its manifest written
// through the profile functions as a split writes it.
MergeInput HandCut(const std::string& source, std::size_t piece_size) {
  EmptyScratchFolder();
  Platform& platform = DefaultPlatform();
  SplitSet set;
  set.Derive(Utf8ToWide(ScratchFolder() + "/f.img").c_str());
  MergeInput input;
  platform.WritePrivateProfileString(kSourceSection, kValueKey,
                                     Utf8ToWide(Fingerprint(source)).c_str(), set.manifest());
  for (std::size_t at = 0, n = 0; at < source.size(); at += piece_size, ++n) {
    input.pieces.push_back(source.substr(at, piece_size));
    const std::wstring key = L"MD5_VALUE" + std::to_wstring(n);
    platform.WritePrivateProfileString(kPieceSection, key.c_str(),
                                       Utf8ToWide(Fingerprint(*input.pieces.back())).c_str(),
                                       set.manifest());
  }
  input.manifest.emplace();
  ReadWholeFile(ScratchFolder() + "/f.DAT", &*input.manifest);
  return input;
}

void Save(const std::string& folder, const std::string& name, const std::string& bytes) {
  mkdir(folder.c_str(), 0755);
  WriteNewFile(folder + "/" + name, bytes);
}

}  // namespace
}  // namespace tarvelin::fuzz

int main(int argc, char** argv) {
  using namespace tarvelin::fuzz;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  const std::string merge = std::string(argv[1]) + "/merge";
  const std::string profile = std::string(argv[1]) + "/profile_reader";

  std::vector<std::pair<std::string, MergeInput>> seeds = {
      {"split_empty", RealSplit("", -1)},
      {"split_100_bytes_one_piece", RealSplit(Pattern(100, 1), -1)},
      {"split_300_bytes_mib_0", RealSplit(Pattern(300, 2), 0)},
      {"cut_3_pieces", HandCut(Pattern(300, 3), 100)},
      {"cut_5_pieces_uneven", HandCut(Pattern(450, 4), 100)},
      {"cut_8_pieces_text", HandCut("The quick brown fox jumps over the lazy dog, twice over.", 7)},
  };
  MergeInput changed_piece = seeds[3].second;
  (*changed_piece.pieces[1])[17] ^= 1;
  seeds.push_back({"cut_3_pieces_second_changed", changed_piece});
  MergeInput gap = seeds[4].second;
  gap.pieces[2].reset();
  seeds.push_back({"cut_5_pieces_gap_at_2", gap});
  MergeInput no_manifest = seeds[3].second;
  no_manifest.manifest.reset();
  seeds.push_back({"cut_3_pieces_no_manifest", no_manifest});
  MergeInput extra_piece = seeds[3].second;
  extra_piece.pieces.push_back(std::string("left by a longer split"));
  seeds.push_back({"cut_3_pieces_unrecorded_fourth", extra_piece});

  std::set<std::string> manifests;
  for (const auto& [name, input] : seeds) {
    Save(merge, name, FormatMergeInput(input));
    if (input.manifest && manifests.insert(*input.manifest).second) {
      Save(profile, name + "_manifest", *input.manifest);
    }
  }
  Save(profile, "byte_order_mark_and_blanks",
       "\xEF\xBB\xBF  [ SrcImageMD5 ]  \r\n\tMD5_VALUE = \"00 11\" \r\n");
  Save(profile, "duplicates_comments_lone_cr",
       "; comment\r[a]\rk=1\rk=2\r[A]\rk=3\r=empty name\rno equals\r[b\r[]\rx=y");
  Save(profile, "no_final_line_break", "[SplitImageMD5]\nMD5_VALUE0=AB CD");
  Save(profile, "entries_before_any_section", "k=v\n\n[s]\n\x1A\nk==v=\n");
  return 0;
}
