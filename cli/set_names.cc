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

#if defined(_WIN32)
const char kSeparator = '\\';
bool EndsAComponent(char c) { return c == '\\' || c == '/' || c == ':'; }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }
#else
const char kSeparator = '/';
bool EndsAComponent(char c) { return c == '/'; }
bool IsSeparator(char c) { return c == '/'; }
#endif

}  // namespace

std::string LastComponent(const std::string& path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (EndsAComponent(path[i])) start = i + 1;
  }
  return path.substr(start);
}

std::string NamesPath(const std::string& path, const std::string& folder) {
  if (folder.empty()) return path;
  const std::string name = LastComponent(path);
  return IsSeparator(folder.back()) ? folder + name : folder + kSeparator + name;
}

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

std::string NoManifest(const std::string& path, const std::string& names) {
  return names == path ? "no manifest beside it" : "no manifest " + ManifestName(names);
}

std::string PieceRange(const std::string& path, std::int32_t first, std::int32_t last) {
  if (first == last) return PieceName(path, first);
  return PieceName(path, first) + " to " + PieceName(path, last);
}

}  // namespace tarvelin::cli
