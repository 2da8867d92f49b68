// SPDX-License-Identifier: MIT
// The two small file helpers that the split and the merge share.
#ifndef TARVELIN_LIBRARY_FILE_HELPERS_H_
#define TARVELIN_LIBRARY_FILE_HELPERS_H_

#include <cstdint>

#include "library/result_codes.h"
#include "platform/platform.h"

namespace tarvelin {

// Measures the file at `path` through an open of its own (read access, read
// and write sharing, so it works beside the split's hold on its source).
// `size` may be null; when given it reads 0 on every failure. Returns RC_OK,
// RC_INVALID_PATH (no path or an empty one), RC_FILE_OPEN or RC_FILE_SIZE.
ResultCode QueryFileSize(Platform& platform, const wchar_t* path, std::uint64_t* size);

// Closes each non-null handle, first to third, and leaves the thread's
// last-error value naming the failure that was pending on entry; a failed
// close shows only when nothing was pending.
void CloseHandlesKeepError(Platform& platform, FileHandle first, FileHandle second,
                           FileHandle third);

}  // namespace tarvelin

#endif  // TARVELIN_LIBRARY_FILE_HELPERS_H_
