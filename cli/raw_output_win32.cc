// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <string>

#include "cli/raw_output.h"

namespace tarvelin::cli {
namespace {

std::string WindowsErrorWords(DWORD error) {
  // A pipe whose reader went away, in the words that POSIX gives EPIPE.
  if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
    return "broken pipe";
  }
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words;
  if (length > 0) {
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    words.resize(needed > 0 ? static_cast<std::size_t>(needed) : 0);
    if (needed > 0) {
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &words[0], needed, nullptr,
                          nullptr);
    }
  }
  if (text != nullptr) LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
    words.pop_back();
  }
  if (words.empty()) return "system error " + std::to_string(error);
  if (words[0] >= 'A' && words[0] <= 'Z') words[0] = static_cast<char>(words[0] - 'A' + 'a');
  return words;
}

}  // namespace

int WriteRaw(const void* bytes, std::size_t size, RawOutput* output) {
  RawOutput& out = *output;
  const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  const char* next = static_cast<const char*>(bytes);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD wrote = 0;
    if (!WriteFile(handle, next, chunk, &wrote, nullptr) || wrote == 0) {
      const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
      out.failed = true;
      out.reason = WindowsErrorWords(error);
      return static_cast<int>(error);
    }
    next += wrote;
    size -= wrote;
    out.written += wrote;
  }
  return 0;
}

void PrepareRawOutput() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace tarvelin::cli
