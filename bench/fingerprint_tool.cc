// SPDX-License-Identifier: MIT
// Prints "TEXT  PATH" for each path on the command line, TEXT being the
// file's fingerprint as the library records it.
#include <cstdio>
#include <string>

#include "digest/fingerprint.h"
#include "platform/platform.h"
#include "platform/utf8.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    const std::wstring path = tarvelin::Utf8ToWide(argv[i]);
    wchar_t text[tarvelin::kFingerprintTextCapacity] = {};
    tarvelin::GetFileFingerprint(tarvelin::DefaultPlatform(), path.c_str(), text);
    std::printf("%s  %s\n", tarvelin::WideToUtf8(text).c_str(), argv[i]);
  }
  return 0;
}
