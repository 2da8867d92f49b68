// SPDX-License-Identifier: MIT
// Whole folders for the process tests: what is in them, to prove that a call
// changed nothing, and the copying and emptying that set up each round.
#ifndef TARVELIN_TESTS_RELIABILITY_PROCESS_FOLDER_STATE_H_
#define TARVELIN_TESTS_RELIABILITY_PROCESS_FOLDER_STATE_H_

#include <map>
#include <string>

namespace tarvelin::testing {

struct FileFacts {
  unsigned long long size = 0;
  long long modified_ns = 0;
  bool operator==(const FileFacts& other) const {
    return size == other.size && modified_ns == other.modified_ns;
  }
};

// The files of `folder` by name: a call that leaves this equal created,
// deleted, wrote and truncated nothing.
using FolderState = std::map<std::string, FileFacts>;
FolderState StateOf(const std::wstring& folder);
std::string Describe(const FolderState& state);

void EmptyFolder(const std::wstring& folder);
// Copies every file of `from` into `to`, which holds the same names after.
void CopyFolderFiles(const std::wstring& from, const std::wstring& to);

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_PROCESS_FOLDER_STATE_H_
