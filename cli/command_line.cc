// SPDX-License-Identifier: MIT
#include "cli/command_line.h"

#if defined(_WIN32)
#include <cstdlib>

#include <windows.h>
#include <shellapi.h>
#endif

namespace tarvelin::cli {

#if defined(_WIN32)

namespace {

UINT g_console_output_page = 0;

void RestoreConsoleOutputPage() { SetConsoleOutputCP(g_console_output_page); }

}  // namespace

std::vector<std::string> ArgumentsAfterProgramName(int, char**) {
  // The console's code page belongs to the console, which outlives the tool:
  // it is put back on exit.
  g_console_output_page = GetConsoleOutputCP();
  if (g_console_output_page != 0 && g_console_output_page != CP_UTF8 &&
      SetConsoleOutputCP(CP_UTF8)) {
    std::atexit(RestoreConsoleOutputPage);
  }

  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) {
    // A lone surrogate, which no UTF-8 spells, becomes U+FFFD.
    const int needed = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(needed > 0 ? static_cast<std::size_t>(needed) : 1, '\0');
    if (needed > 0) {
      WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0], needed, nullptr, nullptr);
    }
    arg.resize(arg.size() - 1);  // the terminator
    args.push_back(arg);
  }
  LocalFree(wide);
  return args;
}


#else

std::vector<std::string> ArgumentsAfterProgramName(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}


#endif

}  // namespace tarvelin::cli
