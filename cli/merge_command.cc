// SPDX-License-Identifier: MIT
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/messages.h"
#include "cli/operation_session.h"
#include "cli/space_check.h"
#include "cli/standard_output.h"
#include "library/operations.h"

namespace tarvelin::cli {

int RunMerge(const Invocation& invocation) {
  OperationSession session(invocation, "merge");
  SplitSet& set = session.set();
  Platform& platform = session.platform();
  const int refused = session.RefuseWhatIsNoFileToRebuild();
  if (refused >= 0) return refused;
  const bool fits = session.names_fit();
  const bool file_existed = fits && platform.PathFileExists(set.path());
  const bool had_manifest = fits && platform.PathFileExists(set.manifest());
  // Piece files beyond the record are never taken; the user hears of them
  // whatever becomes of the merge.
  std::vector<std::wstring> unrecorded;
  if (had_manifest) {
    set.ReadRecord(platform);
    unrecorded = set.PieceFilesFrom(platform, set.recorded_count());
  }

  // A merge beside an existing file writes nothing.
  if (!invocation.no_space_check && had_manifest && !file_existed) {
    std::string refusal;
    if (!EnoughSpace(session.path(), MergeNeeds(platform, set), "its largest piece needs",
                     &refusal)) {
      return session.Refuse(refusal);
    }
  }

  const ResultCode code = Merge(session.path().c_str(), session.options());
  session.Finish();
  for (const std::wstring& stale : unrecorded) {
    PrintWarning(session.prefix() + "left " + Shown(stale) +
                 " in place: the manifest does not record it");
  }
  if (code != RC_OK) return session.Fail(code, file_existed);
  if (invocation.quiet) return kExitSuccess;
  const std::string& shown = session.shown();
  if (file_existed && !had_manifest) {
    PrintOut(shown + " already exists and has no manifest beside it: nothing to merge");
  } else if (file_existed) {
    PrintOut(shown + " already exists and matches the recorded fingerprint of the source; it, "
                     "the manifest " + Shown(set.manifest()) +
             " and any pieces were left as they are");
  } else {
    const std::int32_t joined = session.watch().last_joined() + 1;
    PrintOut(shown + ": rebuilt from " + std::to_string(joined) +
             (joined == 1 ? " piece" : " pieces") + ", each and the whole proved against " +
             Shown(set.manifest()));
  }
  return kExitSuccess;
}

}  // namespace tarvelin::cli
