// SPDX-License-Identifier: MIT
// The Windows headers that the Win32 backend and the Windows tests need,
// without the function-name macros (CreateFile -> CreateFileW, ...) that would
// otherwise rename the methods of tarvelin::Platform wherever both are seen.
// Code that includes this calls the wide functions by their W names.
#ifndef TARVELIN_PLATFORM_WIN32_API_H_
#define TARVELIN_PLATFORM_WIN32_API_H_

#include <windows.h>
#include <shlwapi.h>

#undef CreateFile
#undef DeleteFile
#undef SetFileAttributes
#undef GetPrivateProfileString
#undef WritePrivateProfileString
#undef PathFileExists
#undef GetFileAttributes
#undef GetDiskFreeSpace
#undef GetVolumeInformation

#endif  // TARVELIN_PLATFORM_WIN32_API_H_
