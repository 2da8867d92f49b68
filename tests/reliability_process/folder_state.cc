// SPDX-License-Identifier: MIT
#include "tests/reliability_process/folder_state.h"

#include <sys/stat.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace tarvelin::testing {

FolderState StateOf(const std::wstring& folder) {
  FolderState state;
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(folder))) {
    struct stat info;
    if (stat(entry.path().c_str(), &info) != 0) continue;
    state[entry.path().filename().string()] = {
        static_cast<unsigned long long>(info.st_size),
        static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
  }
  return state;
}

std::string Describe(const FolderState& state) {
  std::string text;
  for (const auto& [name, facts] : state) {
    text += name + " (" + std::to_string(facts.size) + " bytes) ";
  }
  return text.empty() ? "nothing" : text;
}

void EmptyFolder(const std::wstring& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(folder))) {
    std::filesystem::remove(entry.path());
  }
}

void CopyFolderFiles(const std::wstring& from, const std::wstring& to) {
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(from))) {
    std::filesystem::copy_file(entry.path(), FsPath(to) / entry.path().filename(),
                               std::filesystem::copy_options::overwrite_existing);
  }
}

}  // namespace tarvelin::testing
