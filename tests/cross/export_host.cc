// SPDX-License-Identifier: MIT
// A host of the shared library, as a program that links against the exports
// meets it: SplitBigWIM and MergeIntoWIM called through the import library
// (tarvelin.dll) or the shared object (libtarvelin.so), and the class's
// members, nothing else of ours.
// The cross-system test runs one of each build on the same folder.
//
// usage: export_host split PATH MIB
//        export_host merge PATH
// Prints the result code in hex; exit status 0 for RC_OK, 1 for another code,
// 2 for a usage error, 3 when the class's assignment misbehaves.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "tarvelin/tarvelin.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#else
#include <clocale>
#endif

namespace {

// The arguments as wide strings: from the UTF-16 command line on Windows,
// through the locale's encoding elsewhere.
std::vector<std::wstring> WideArguments(int argc, char** argv) {
  std::vector<std::wstring> arguments;
#if defined(_WIN32)
  (void)argc;
  (void)argv;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 0; i < count; ++i) arguments.emplace_back(wide[i]);
  ::LocalFree(wide);
#else
  std::setlocale(LC_ALL, "");
  for (int i = 0; i < argc; ++i) {
    const std::size_t length = std::mbstowcs(nullptr, argv[i], 0);
    if (length == static_cast<std::size_t>(-1)) return {};
    std::wstring text(length, L'\0');
    std::mbstowcs(&text[0], argv[i], length + 1);
    arguments.push_back(text);
  }
#endif
  return arguments;
}

int Usage() {
  std::fprintf(stderr, "usage: export_host split PATH MIB\n       export_host merge PATH\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // The class's two members, through the same import library or shared
  // object (on Windows, MinGW's names bound to the DLL's MSVC exports).
  CTarvelin first;
  CTarvelin second;
  if (&(second = first) != &second) return 3;

  const std::vector<std::wstring> arguments = WideArguments(argc, argv);
  if (arguments.size() < 3) return Usage();
  ResultCode result;
  if (arguments[1] == L"split" && arguments.size() == 4) {
    wchar_t* end = nullptr;
    const long mib = std::wcstol(arguments[3].c_str(), &end, 10);
    if (end == arguments[3].c_str() || *end != L'\0') return Usage();
    result = SplitBigWIM(arguments[2].c_str(), static_cast<std::int32_t>(mib));
  } else if (arguments[1] == L"merge" && arguments.size() == 3) {
    result = MergeIntoWIM(arguments[2].c_str());
  } else {
    return Usage();
  }
  std::printf("0x%08X\n", static_cast<unsigned>(result));
  return result == RC_OK ? 0 : 1;
}
