// SPDX-License-Identifier: MIT
// What a merge of the files as they stand would answer, as a verify learns
// it without writing: the file at the path decides alone when the merge
// would act on it alone; else the first piece that would stop the join (a
// missing one hands the answer to the pieces joined before it); else the
// pieces joined in order, against the source's fingerprint. The verify's
// report is filled as it learns.
#ifndef TARVELIN_LIBRARY_FORETOLD_MERGE_H_
#define TARVELIN_LIBRARY_FORETOLD_MERGE_H_

#include <optional>
#include <string>

#include "digest/md5.h"
#include "library/existing_file.h"
#include "library/failure.h"
#include "library/operations.h"
#include "library/split_set.h"
#include "library/verify.h"

namespace tarvelin {

class ForetoldMerge {
 public:
  ForetoldMerge(const SplitSet& set, VerifyReport& report) : set_(set), report_(report) {
    Md5Init(&whole_);
  }
  ForetoldMerge(const ForetoldMerge&) = delete;
  ForetoldMerge& operator=(const ForetoldMerge&) = delete;

  // The file at the path, judged as the merge judges it; `file` is the name
  // that the merge would give it.
  void ExistingJudged(const ExistingJudgement& judged, const std::wstring& file);
  // The digest of the recorded pieces joined in order, to feed with the next
  // piece's bytes; null once the join has stopped.
  Md5Context* joining() { return joining_ ? &whole_ : nullptr; }
  // Each recorded piece from 0, as checked.
  void PieceChecked(const PieceCheck& check);
  // Proves the pieces joined, once every piece is checked: the merge's
  // answer, RC_OK or the failure that it would tell.
  Failure Answer();

 private:
  Failure PieceFailure(const PieceCheck& check) const;

  const SplitSet& set_;
  VerifyReport& report_;
  // Fed while no piece has been missing or unreadable, so it then holds
  // exactly what a merge would have appended.
  Md5Context whole_;
  bool joining_ = true;
  // Decided by the file at the path (RC_OK for the whole), and by the first
  // piece that stops the join (RC_OK for a missing one).
  std::optional<Failure> existing_;
  std::optional<Failure> piece_;
};

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_FORETOLD_MERGE_H_
