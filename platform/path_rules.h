// SPDX-License-Identifier: MIT
// The shell's extension helpers, PathFindExtensionW and PathRemoveExtensionW.
// The Win32 backend calls the real functions; the POSIX backend follows their
// rules: the extension starts at the last dot of the last path component, a
// space after that dot cancels it, and the component separator is '\\' on
// Windows and '/' on POSIX.
#ifndef TARVELIN_PLATFORM_PATH_RULES_H_
#define TARVELIN_PLATFORM_PATH_RULES_H_

namespace tarvelin {

// Returns a pointer to the extension's dot inside `path`, or to its
// terminator when it has no extension. `path` must be terminated.
const wchar_t* FindExtension(const wchar_t* path);

// Cuts the extension that FindExtension reports off `path`, in place.
void RemoveExtension(wchar_t* path);

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_PATH_RULES_H_
