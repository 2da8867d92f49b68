// SPDX-License-Identifier: MIT
#include <cstdio>
#include <string>
#include <vector>

#include "cli/call_trace.h"
#include "cli/commands.h"
#include "cli/failure_words.h"
#include "cli/messages.h"
#include "cli/operation_watch.h"
#include "cli/space_check.h"
#include "library/operations.h"
#include "platform/console.h"
#include "platform/utf8.h"

namespace tarvelin::cli {
namespace {

// Piece files from `first` up that a merge never takes: they are not recorded.
std::vector<std::wstring> PiecesFrom(Platform& platform, const FileNames& names,
                                     std::int32_t first) {
  std::vector<std::wstring> found;
  for (std::int32_t n = first; n >= 0 && n < INT32_MAX; ++n) {
    const std::wstring piece = names.Piece(n);
    if (piece.empty() || !platform.PathFileExists(piece.c_str())) break;
    found.push_back(piece);
  }
  return found;
}

}  // namespace

int RunMerge(const Invocation& invocation) {
  const std::string& shown = invocation.files[0];
  const std::string prefix = "merge " + shown + ": ";
  const FileNames names = NamesOf(Utf8ToWide(shown));
  CallTrace trace(DefaultPlatform());
  const bool file_existed = names.valid && trace.PathFileExists(names.path.c_str());
  const bool had_manifest = names.valid && trace.PathFileExists(names.manifest.c_str());
  const std::int32_t recorded = had_manifest ? RecordedPieceCount(trace, names) : 0;

  // A merge beside an existing file writes nothing.
  if (!invocation.no_space_check && had_manifest && !file_existed) {
    std::string refusal;
    if (!EnoughSpace(names.path, MergeNeeds(trace, names), "its largest piece needs",
                     &refusal)) {
      PrintError(prefix + refusal);
      return kExitFailure;
    }
  }

  ProgressDisplay display(ShowsProgress(invocation), stderr, StderrColumns());
  OperationWatch watch(display);
  OperationOptions options;
  options.platform = &trace;
  watch.Attach(&options);
  const ResultCode code = Merge(names.path.c_str(), options);
  display.Finish();

  if (code != RC_OK) {
    const Outcome outcome{&names, &trace, &watch, file_existed};
    PrintError(prefix + DescribeMergeFailure(code, outcome) + CodeSuffix(code));
    return kExitFailure;
  }
  for (const std::wstring& stale : PiecesFrom(trace, names, recorded)) {
    PrintWarning(prefix + "left " + Shown(stale) + " in place: the manifest did not record it");
  }
  if (invocation.quiet) return kExitSuccess;
  if (file_existed && !had_manifest) {
    std::printf("%s already exists and has no manifest beside it: nothing to merge\n",
                shown.c_str());
  } else if (file_existed) {
    std::printf("%s already exists and matches the recorded fingerprint of the source; it, "
                "the manifest %s and any pieces were left as they are\n",
                shown.c_str(), Shown(names.manifest).c_str());
  } else {
    const std::int32_t joined = watch.last_joined() + 1;
    std::printf("%s: rebuilt from %d piece%s, each and the whole proved against %s\n",
                shown.c_str(), joined, joined == 1 ? "" : "s", Shown(names.manifest).c_str());
  }
  return kExitSuccess;
}

}  // namespace tarvelin::cli
