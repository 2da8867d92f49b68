// SPDX-License-Identifier: MIT
#include "cli/messages.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "cli/escaped_line.h"
#include "cli/standard_output.h"
#include "platform/platform_errors.h"
#include "platform/utf8.h"

namespace tarvelin::cli {
namespace {

void PrintLine(const std::string& text) {
  FlushOut();  // keep the order of the two streams on one terminal
  const std::string line = EscapedLine("tarvelin: " + text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

void PrintError(const std::string& text) { PrintLine(text); }
void PrintWarning(const std::string& text) { PrintLine("warning: " + text); }
void PrintNote(const std::string& text) { PrintLine(text); }

std::string CodeSuffix(ResultCode code) {
  char value[16];
  std::snprintf(value, sizeof value, "0x%08X", static_cast<unsigned>(code));
  return std::string(" (") + ResultCodeName(code) + ", " + value + ")";
}

std::string SystemErrorWords(std::uint32_t error) {
  switch (error) {
    case kErrorFileNotFound: return "no such file";
    case kErrorPathNotFound: return "no such file or folder";
    case kErrorTooManyOpenFiles: return "too many open files";
    case kErrorAccessDenied: return "permission denied";
    case kErrorInvalidHandle: return "invalid handle";
    case kErrorNotEnoughMemory: return "not enough memory";
    case kErrorWriteProtect: return "the file system is read-only";
    case kErrorWriteFault: return "a write did not take every byte";
    case kErrorReadFault: return "a read failed";
    case kErrorSharingViolation:
      return "another program is using it (a second split or merge, perhaps)";
    case kErrorHandleDiskFull:
    case kErrorDiskFull: return "no space left on the device";
    case kErrorFileExists: return "the file exists";
    case kErrorInvalidParameter: return "invalid parameter";
    case kErrorFilenameExcedRange: return "the name is too long";
    case kErrorFileTooLarge: return "the file is too large for the file system";
    case kErrorIoDevice: return "input/output error";
    case kErrorCantResolveFilename: return "it is a symbolic link, which is not followed";
    default: break;
  }
  return "system error " + std::to_string(error);
}

std::string ErrnoWords(int error) {
  std::string words = std::strerror(error);
  if (!words.empty()) words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
  return words;
}

std::string Shown(const std::wstring& path) { return WideToUtf8(path); }

std::string ShortBytes(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  // Three significant digits: enough to follow, short enough for one line.
  const char* format = value < 10 ? "%.2f %s" : value < 100 ? "%.1f %s" : "%.0f %s";
  std::snprintf(text, sizeof text, format, value, kUnits[unit]);
  return text;
}

std::string BytesText(std::uint64_t bytes) {
  return std::to_string(bytes) + " bytes (" + ShortBytes(bytes) + ")";
}

}  // namespace tarvelin::cli
