// SPDX-License-Identifier: MIT
#include "cli/command_line.h"

#if defined(_WIN32)
#include <cstdlib>

#include "platform/utf8.h"
#include "platform/win32/api.h"
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
  for (int i = 1; i < count; ++i) args.push_back(WideToUtf8(std::wstring(wide[i])));
  LocalFree(wide);
  return args;
}


#else

std::vector<std::string> ArgumentsAfterProgramName(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}


#endif

}  // namespace tarvelin::cli
