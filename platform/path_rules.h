// SPDX-License-Identifier: MIT
// The shell's extension helpers, PathFindExtensionW and PathRemoveExtensionW.
// The Win32 backend calls the real functions; the POSIX backend follows their
// rules: the extension starts at the last dot of the last path component, and
// a space after that dot cancels it. The component separators are '\\' and '/'
// on Windows (the shell's functions know only '\\', so a path written with '/'
// would otherwise lose a dotted folder name to the extension) and '/' on POSIX.
// A name derived by cutting the extension therefore stays in its folder.
#ifndef TARVELIN_PLATFORM_PATH_RULES_H_
#define TARVELIN_PLATFORM_PATH_RULES_H_

namespace tarvelin {

// Returns a pointer to the extension's dot inside `path`, or to its
// terminator when it has no extension. `path` must be terminated.
const wchar_t* FindExtension(const wchar_t* path);

// The separator that this system writes between components, and whether
// `c` is one that it takes ('\\' and '/' on Windows, '/' on POSIX).
extern const wchar_t kSeparator;
bool IsSeparator(wchar_t c);

// The last component of `path`: what follows its last separator (on
// Windows also a drive's colon), or the whole path.
const wchar_t* LastComponent(const wchar_t* path);

// Cuts the extension that FindExtension reports off `path`, in place.
void RemoveExtension(wchar_t* path);

// True when the last component of `path` names a device rather than a file
// on this system: on Windows CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0 to
// COM9 and LPT0 to LPT9 (also with a superscript 1, 2 or 3), in any case,
// with any extension and with blanks before it ("nul.img", "Aux .txt"),
// which open the device in any folder. Never on POSIX.
bool IsDeviceName(const wchar_t* path);

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_PATH_RULES_H_
