// SPDX-License-Identifier: MIT
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/progress_display.h"
#include "cli/standard_output.h"
#include "digest/fingerprint.h"
#include "library/failure_report.h"
#include "library/file_helpers.h"
#include "library/split_set.h"
#include "cli/failure_words.h"
#include "platform/console.h"
#include "platform/utf8.h"

namespace tarvelin::cli {
namespace {

// The name that stands for standard input, as with md5sum.
const char kStandardInput[] = "-";

struct FileProgress {
  ProgressDisplay* display;
  std::string label;
  std::uint64_t done;
  std::uint64_t total;
};

void OnBytes(void* context, std::uint64_t bytes) {
  FileProgress& shown = *static_cast<FileProgress*>(context);
  shown.done += bytes;
  shown.display->Update(shown.label, shown.done, shown.total);
}

// Standard input has no size to measure progress against, so it shows none.
bool FingerprintStandardInput(wchar_t* text) {
  unsigned char digest[kMd5DigestSize] = {};
  if (DigestStream(stdin, digest) != kDigestFileComplete) return false;
  FormatFingerprintText(digest, text);
  return true;
}

}  // namespace

int RunFingerprint(const Invocation& invocation) {
  Platform& platform = DefaultPlatform();
  // One hashing thread for all the files named.
  HashingThread hashing(platform);
  ProgressDisplay display(ShowsProgress(invocation), stderr, StderrColumns());
  int exit_code = kExitSuccess;
  for (const std::string& file : invocation.files) {
    wchar_t text[kFingerprintTextCapacity] = {};
    if (file == kStandardInput) {
      if (FingerprintStandardInput(text)) {
        PrintOut(WideToUtf8(std::wstring(text)) + "  " + file);
        continue;
      }
      PrintError("fingerprint " + file + ": a read of standard input failed" +
                 CodeSuffix(RC_FILE_READ));
      exit_code = kExitFailure;
      continue;
    }
    const std::wstring path = Utf8ToWide(file);
    FileProgress shown{&display, "fingerprinting " + file, 0, 0};
    QueryFileSize(platform, path.c_str(), &shown.total);
    ByteProgress progress;
    progress.on_bytes = &OnBytes;
    progress.context = &shown;
    // Opened here and read through this handle, so that a file that cannot
    // be opened is told apart from one whose reading failed part way.
    const FileHandle file_handle = platform.CreateFile(path.c_str(), kAccessRead, kShareRead,
                                                       Disposition::kOpenExisting,
                                                       Attribute::kReadOnly);
    const bool opened = file_handle != InvalidHandle();
    const std::uint32_t open_error = opened ? 0 : platform.GetLastError();
    bool whole = false;
    std::uint32_t read_error = 0;
    if (opened) {
      whole = FingerprintOpenFile(platform, file_handle, text,
                                  display.enabled() ? &progress : nullptr, &hashing);
      read_error = platform.GetLastError();
      platform.CloseHandle(file_handle);
    }
    display.Finish();
    if (whole) {
      PrintOut(WideToUtf8(std::wstring(text)) + "  " + file);
      continue;
    }
    // A text that vouches for bytes never read is not printed.
    FailureReport report;
    ReportFailure(&report, opened ? FailedStep::kRead : FailedStep::kOpen, FileRole::kSource,
                  path.c_str(), opened ? read_error : open_error);
    SplitSet set;
    set.Derive(path.c_str());
    const ResultCode code = opened ? RC_FILE_READ : RC_FILE_OPEN;
    const FailureContext context{&platform, &set, false};
    PrintError("fingerprint " + file + ": " + DescribeFailure(code, report, context) +
               CodeSuffix(code));
    exit_code = kExitFailure;
  }
  return exit_code;
}

}  // namespace tarvelin::cli
