// SPDX-License-Identifier: MIT
#include "cli/set_names.h"

#include "tarvelin/tarvelin.h"

namespace tarvelin::cli {
namespace {

// Asks twice: once for the length, once for the name.
template <typename Ask>
std::string Name(Ask ask) {
  const std::size_t length = ask(nullptr, 0);
  if (length == 0) return std::string();
  std::string name(length + 1, '\0');
  ask(&name[0], name.size());
  name.resize(length);
  return name;
}

}  // namespace

std::string ManifestName(const std::string& path) {
  return Name([&](char* out, std::size_t size) {
    return tarvelin_manifest_name(path.c_str(), out, size);
  });
}

std::string PieceName(const std::string& path, std::int32_t piece) {
  return Name([&](char* out, std::size_t size) {
    return tarvelin_piece_name(path.c_str(), piece, out, size);
  });
}

std::string PieceRange(const std::string& path, std::int32_t first, std::int32_t last) {
  if (first == last) return PieceName(path, first);
  return PieceName(path, first) + " to " + PieceName(path, last);
}

}  // namespace tarvelin::cli
