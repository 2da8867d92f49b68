// SPDX-License-Identifier: MIT
#include <cstdio>
#include <string>

#include "cli/call_trace.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/progress_display.h"
#include "digest/fingerprint.h"
#include "library/file_helpers.h"
#include "platform/console.h"
#include "platform/utf8.h"

namespace tarvelin::cli {
namespace {

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

}  // namespace

int RunFingerprint(const Invocation& invocation) {
  CallTrace trace(DefaultPlatform());
  ProgressDisplay display(ShowsProgress(invocation), stderr, StderrColumns());
  int exit_code = kExitSuccess;
  for (const std::string& file : invocation.files) {
    const std::wstring path = Utf8ToWide(file);
    trace.Clear();
    FileProgress shown{&display, "fingerprinting " + file, 0, 0};
    QueryFileSize(trace, path.c_str(), &shown.total);
    ByteProgress progress;
    progress.on_bytes = &OnBytes;
    progress.context = &shown;
    wchar_t text[kFingerprintTextCapacity] = {};
    const bool whole = FingerprintWholeFile(trace, path.c_str(), text,
                                            display.enabled() ? &progress : nullptr);
    display.Finish();
    if (whole) {
      std::printf("%s  %s\n", WideToUtf8(std::wstring(text)).c_str(), file.c_str());
      continue;
    }
    // A text that vouches for bytes never read is not printed.
    const TracedFailure& open = trace.Last(TracedOp::kStreamOpen);
    const ResultCode code = open.happened ? RC_FILE_OPEN : RC_FILE_READ;
    const std::string why = open.happened
                                ? "cannot open it: " + ErrnoWords(static_cast<int>(open.error))
                                : "a read failed part way";
    PrintError("fingerprint " + file + ": " + why + CodeSuffix(code));
    exit_code = kExitFailure;
  }
  return exit_code;
}

}  // namespace tarvelin::cli
