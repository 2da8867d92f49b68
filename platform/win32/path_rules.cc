// SPDX-License-Identifier: MIT
// The shell's own extension rules, so that names derived on Windows are
// exactly those that the shell and other Windows programs derive.
#include "platform/path_rules.h"
#include "platform/win32/api.h"

namespace tarvelin {

const wchar_t* FindExtension(const wchar_t* path) { return ::PathFindExtensionW(path); }

void RemoveExtension(wchar_t* path) { ::PathRemoveExtensionW(path); }

}  // namespace tarvelin
