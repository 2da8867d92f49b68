// SPDX-License-Identifier: MIT
#include "library/unrecorded_pieces.h"

#include <string>
#include <vector>

namespace tarvelin {

std::int32_t TellUnrecordedPieces(Platform& platform, const SplitSet& set,
                                  const OperationOptions& options) {
  const std::vector<std::wstring> names = set.PieceFilesFrom(platform, set.recorded_count());
  if (options.on_piece != nullptr) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      PieceCheck check;
      check.number = set.recorded_count() + static_cast<std::int32_t>(i);
      check.name = names[i];
      check.state = PieceState::kNotRecorded;
      options.on_piece(check, options.piece_context);
    }
  }
  return static_cast<std::int32_t>(names.size());
}

}  // namespace tarvelin
