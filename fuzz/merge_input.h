// SPDX-License-Identifier: MIT
// The framing of the merge harness's input: a manifest and a few pieces in
// one byte string, so that a fuzzer mutates all of them together.
//
//   <manifest bytes> SEP <piece 0 bytes> SEP <piece 1 bytes> SEP ...
//
// SEP is kPartSeparator. A part that is exactly kMissingPart stands for a
// file that does not exist. Parts beyond kMostPieces pieces are ignored.
#ifndef TARVELIN_FUZZ_MERGE_INPUT_H_
#define TARVELIN_FUZZ_MERGE_INPUT_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvelin::fuzz {

inline constexpr std::string_view kPartSeparator = "\n=PIECE=\n";
inline constexpr std::string_view kMissingPart = "-";
inline constexpr std::size_t kMostPieces = 8;

struct MergeInput {
  std::optional<std::string> manifest;             // none: no manifest file
  std::vector<std::optional<std::string>> pieces;  // none: no file for that number
};

MergeInput ParseMergeInput(std::string_view bytes);
std::string FormatMergeInput(const MergeInput& input);

}  // namespace tarvelin::fuzz

#endif  // TARVELIN_FUZZ_MERGE_INPUT_H_
