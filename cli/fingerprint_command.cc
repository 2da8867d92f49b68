#include <cstdio>
#include <string>

#include "cli/call_trace.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/progress_display.h"
#include "digest/fingerprint.h"
#include "library/file_helpers.h"
#include "platform/console.h"
#include "platform/platform_errors.h"
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
    // A name too long for the fingerprint is refused before any open.
    const TracedFailure& failure = trace.Latest({TracedOp::kOpen, TracedOp::kRead});
    const std::uint32_t error = failure.happened ? failure.error : trace.GetLastError();
    const bool opened = failure.happened ? failure.op == TracedOp::kRead
                                         : error != kErrorFilenameExcedRange;
    const ResultCode code = opened ? RC_FILE_READ : RC_FILE_OPEN;
    std::string why = opened ? "a read failed part way" : "cannot open it";
    if (failure.happened || !opened) why += ": " + SystemErrorWords(error);
    PrintError("fingerprint " + file + ": " + why + CodeSuffix(code));
    exit_code = kExitFailure;
  }
  return exit_code;
}

}  // namespace tarvelin::cli
