// SPDX-License-Identifier: MIT
#include "fuzz/merge_input.h"

namespace tarvelin::fuzz {
namespace {

std::optional<std::string> PartOf(std::string_view part) {
  if (part == kMissingPart) return std::nullopt;
  return std::string(part);
}

}  // namespace

MergeInput ParseMergeInput(std::string_view bytes) {
  MergeInput input;
  std::size_t begin = 0;
  bool first = true;
  for (;;) {
    const std::size_t end = bytes.find(kPartSeparator, begin);
    const std::string_view part =
        bytes.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
    if (first) {
      input.manifest = PartOf(part);
      first = false;
    } else if (input.pieces.size() < kMostPieces) {
      input.pieces.push_back(PartOf(part));
    }
    if (end == std::string_view::npos) break;
    begin = end + kPartSeparator.size();
  }
  return input;
}

std::string FormatMergeInput(const MergeInput& input) {
  std::string bytes = input.manifest ? *input.manifest : std::string(kMissingPart);
  for (const auto& piece : input.pieces) {
    bytes.append(kPartSeparator);
    bytes.append(piece ? *piece : std::string(kMissingPart));
  }
  return bytes;
}

}  // namespace tarvelin::fuzz
