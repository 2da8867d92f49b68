// SPDX-License-Identifier: MIT
// A folder of this process's own for harnesses that need files: on /dev/shm
// where it exists (memory, so millions of runs cost no disk writes), else in
// /tmp. Made on first use and removed, with what is in it, at exit.
#ifndef TARVELIN_FUZZ_SCRATCH_FOLDER_H_
#define TARVELIN_FUZZ_SCRATCH_FOLDER_H_

#include <string>

namespace tarvelin::fuzz {

// The folder's path, without a trailing separator.
const std::string& ScratchFolder();

// Writes `bytes` to a new file at `path`, replacing any file there by a new
// one (a fresh inode, so that no cache keyed by inode sees an older file).
void WriteNewFile(const std::string& path, const std::string& bytes);

// The file's bytes; false when it does not exist.
bool ReadWholeFile(const std::string& path, std::string* bytes);

// Removes every file in the folder.
void EmptyScratchFolder();

// Reports a broken property and aborts, so that libFuzzer keeps the input.
[[noreturn]] void Violation(const char* what);

}  // namespace tarvelin::fuzz

#endif  // TARVELIN_FUZZ_SCRATCH_FOLDER_H_
