#include <cstdio>
#include <string>

#include "cli/call_trace.h"
#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/progress_display.h"
#include "cli/standard_output.h"
#include "digest/fingerprint.h"
#include "library/file_helpers.h"
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
  CallTrace trace(DefaultPlatform());
  ProgressDisplay display(ShowsProgress(invocation), stderr, StderrColumns());
  int exit_code = kExitSuccess;
  for (const std::string& file : invocation.files) {
    wchar_t text[kFingerprintTextCapacity] = {};
    ResultCode failure = RC_OK;
    std::string why;
    if (file == kStandardInput) {
      if (!FingerprintStandardInput(text)) {
        failure = RC_FILE_READ;
        why = "a read of standard input failed";
      }
    } else {
      const std::wstring path = Utf8ToWide(file);
      trace.Clear();
      FileProgress shown{&display, "fingerprinting " + file, 0, 0};
      QueryFileSize(trace, path.c_str(), &shown.total);
      ByteProgress progress;
      progress.on_bytes = &OnBytes;
      progress.context = &shown;
      const bool whole = FingerprintWholeFile(trace, path.c_str(), text,
                                              display.enabled() ? &progress : nullptr);
      display.Finish();
      const TracedFailure& open = trace.Last(TracedOp::kStreamOpen);
      if (!whole) {
        failure = open.happened ? RC_FILE_OPEN : RC_FILE_READ;
        why = open.happened ? "cannot open it: " + ErrnoWords(static_cast<int>(open.error))
                            : "a read failed part way";
      }
    }
    if (failure == RC_OK) {
      PrintOut(WideToUtf8(std::wstring(text)) + "  " + file);
      continue;
    }
    // A text that vouches for bytes never read is not printed.
    PrintError("fingerprint " + file + ": " + why + CodeSuffix(failure));
    exit_code = kExitFailure;
  }
  return exit_code;
}

}  // namespace tarvelin::cli
