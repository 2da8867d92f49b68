// SPDX-License-Identifier: MIT
// Refusing up front what would fill the disk part way: a split writes a
// second copy of its source before deleting it, and a merge holds each piece
// twice (in the piece and in the rebuilt file) until the piece is deleted,
// so it needs room for its largest piece.
#ifndef TARVELIN_CLI_SPACE_CHECK_H_
#define TARVELIN_CLI_SPACE_CHECK_H_

#include <cstdint>
#include <string>

#include "library/split_set.h"
#include "platform/platform.h"

namespace tarvelin::cli {

// The bytes that splitting the set's path will write: the size of the source.
std::uint64_t SplitNeeds(Platform& platform, const SplitSet& set);

// The bytes that merging needs free at its peak: the largest of the recorded
// pieces that the merge would take (from 0 up to the first missing one); the record must have been read.
std::uint64_t MergeNeeds(Platform& platform, const SplitSet& set);

// Checks `needed` bytes against the free space of the file system that
// would receive `path`. Returns false, with the refusal in *refusal, when
// there is too little; a file system that cannot be asked passes.
bool EnoughSpace(const std::wstring& path, std::uint64_t needed, const std::string& what,
                 std::string* refusal);

}  // namespace tarvelin::cli

#endif  // TARVELIN_CLI_SPACE_CHECK_H_
