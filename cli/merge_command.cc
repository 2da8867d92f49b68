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
    if (session.ReadRecord()) unrecorded = set.PieceFilesFrom(platform, set.recorded_count());
  }

  // A file already at the path may need no room at all (a merge that
  // stopped after its last append); one that goes on and runs out of room
  // stops with RC_FILE_WRITE as always, and the next run goes on from there.
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
  } else if (file_existed && session.watch().last_joined() < 0) {
    PrintOut(shown + " already exists and matches the recorded fingerprint of the source; the "
                     "manifest " + Shown(set.manifest()) +
             " and any pieces left beside it were deleted");
  } else {
    const std::int32_t joined = session.watch().last_joined() + 1;
    const std::int32_t already = session.watch().first_joined();
    std::string how = ", each and the whole proved against " + Shown(set.manifest());
    if (file_existed && already > 0) {
      how = ", the first " + std::to_string(already) + " already joined in it by an earlier "
            "merge" + how;
    } else if (file_existed) {
      how = ", going on from what an earlier merge left in it" + how;
    }
    PrintOut(shown + ": rebuilt from " + std::to_string(joined) +
             (joined == 1 ? " piece" : " pieces") + how);
  }
  return kExitSuccess;
}

}  // namespace tarvelin::cli
