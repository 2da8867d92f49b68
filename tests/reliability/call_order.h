// SPDX-License-Identifier: MIT
// The order in which a split or a merge may destroy things, checked over the
// calls that a FaultPlatform recorded. Calls that failed change nothing and
// count for nothing. It fails when:
//   - the source is deleted while a piece or the manifest has a write not
//     followed by a flush of that file, or before the folder was flushed
//     after the last piece or manifest was created;
//   - piece n is deleted before the rebuilt file's folder entry was flushed,
//     or before the rebuilt file was flushed after the last append of piece
//     n's bytes (the writes to the rebuilt file that follow a read of piece n);
//   - anything is deleted after the manifest.
#ifndef TARVELIN_TESTS_RELIABILITY_CALL_ORDER_H_
#define TARVELIN_TESTS_RELIABILITY_CALL_ORDER_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fault_platform.h"

namespace tarvelin::testing {

// `source_path` is the path given to the split or the merge (the source, or
// the rebuilt file); `base_path` the same without its extension.
::testing::AssertionResult DeletesOnlyWhatIsDurable(const std::vector<Call>& calls,
                                                    const std::wstring& source_path,
                                                    const std::wstring& base_path);

}  // namespace tarvelin::testing

#endif  // TARVELIN_TESTS_RELIABILITY_CALL_ORDER_H_
