// SPDX-License-Identifier: MIT
#include <cstdio>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "cli/commands.h"
#include "cli/failure_words.h"
#include "cli/messages.h"
#include "cli/progress_display.h"
#include "cli/standard_output.h"
#include "cli/terminal.h"
#include "tarvelin/tarvelin.h"

namespace tarvelin::cli {
namespace {

// The name that stands for standard input, as with md5sum.
const char kStandardInput[] = "-";

struct FileProgress {
  ProgressDisplay* display;
  std::string label;
};

int TARVELIN_CALLBACK ShowProgress(const tarvelin_progress* progress, void* context) {
  const FileProgress& shown = *static_cast<FileProgress*>(context);
  shown.display->Update(shown.label, progress->done, progress->total);
  return 0;
}

long TARVELIN_CALLBACK ReadStream(void* stream, void* buffer, std::size_t size) {
  std::FILE* file = static_cast<std::FILE*>(stream);
  const std::size_t got = std::fread(buffer, 1, size, file);
  if (got == 0 && std::ferror(file)) return -1;
  return static_cast<long>(got);
}

// Standard input has no size to measure progress against, so it shows none.
ResultCode FingerprintStandardInput(char* text) {
#if defined(_WIN32)
  // Bytes as they come: a text-mode stream would turn CR LF into LF.
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  return tarvelin_fingerprint_stream(&ReadStream, stdin, text, nullptr, nullptr);
}

}  // namespace

int RunFingerprint(const Invocation& invocation) {
  ProgressDisplay display(ShowsProgress(invocation), stderr, StderrColumns());
  int exit_code = kExitSuccess;
  for (const std::string& file : invocation.files) {
    char text[TARVELIN_FINGERPRINT_BYTES] = {};
    if (file == kStandardInput) {
      if (FingerprintStandardInput(text) == RC_OK) {
        PrintOut(std::string(text) + "  " + file);
        continue;
      }
      PrintError("fingerprint " + file + ": a read of standard input failed" +
                 CodeSuffix(RC_FILE_READ));
      exit_code = kExitFailure;
      continue;
    }
    FileProgress shown{&display, "fingerprinting " + file};
    tarvelin_options options;
    std::memset(&options, 0, sizeof options);
    options.size = sizeof options;
    if (display.enabled()) options.progress = &ShowProgress;
    options.user_data = &shown;
    tarvelin_outcome outcome;
    std::memset(&outcome, 0, sizeof outcome);
    outcome.size = sizeof outcome;
    const ResultCode code = tarvelin_fingerprint(file.c_str(), text, &options, &outcome);
    display.Finish();
    if (code == RC_OK) {
      PrintOut(std::string(text) + "  " + file);
      continue;
    }
    // A text that vouches for bytes never read is not printed.
    PrintError("fingerprint " + file + ": " + DescribeFailure(outcome, file) + CodeSuffix(code));
    exit_code = kExitFailure;
  }
  return exit_code;
}

}  // namespace tarvelin::cli
