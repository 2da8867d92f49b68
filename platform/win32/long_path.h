// SPDX-License-Identifier: MIT
// Paths of any length for the Win32 file functions.
#ifndef TARVELIN_PLATFORM_WIN32_LONG_PATH_H_
#define TARVELIN_PLATFORM_WIN32_LONG_PATH_H_

#include <string>

namespace tarvelin {

// The form of `path` to hand a Win32 function that takes a file or folder
// name.
//
// Those functions refuse a name of MAX_PATH (260) characters or more unless
// it has the extended-length form, \\?\C:\... or \\?\UNC\server\share\...,
// which they pass to the file system without reading it as a Win32 path. A
// path that long is put in that form: GetFullPathNameW first reads it as
// Win32 reads a path (completed from the current folder, "." and ".."
// resolved, '/' taken for '\', trailing dots and blanks cut off the last
// name), then the prefix goes in front. A shorter path, and one that is
// already in the device namespace (\\?\, \\.\, \??\), is handed over exactly
// as given, so that it means what it always meant to Win32.
//
// Win32 reads a last name such as NUL, "nul.img" or COM1 as a device, in any
// folder; an extended-length path reads no name as a device. So a long path
// whose last name is a device name stands for a plain file of that name in
// its folder, never for the device: a file that only an extended-length path
// can reach, since a short path to it opens the device. (The library refuses
// such names before it opens anything; see IsDeviceName.)
//
// A long path that cannot be read (GetFullPathNameW fails) is handed over as
// given, and the call fails as it would have.
class SystemPath {
 public:
  explicit SystemPath(const wchar_t* path);

  const wchar_t* c_str() const { return extended_.empty() ? given_ : extended_.c_str(); }
  // Whether the path was put in the extended-length form.
  bool extended() const { return !extended_.empty(); }

 private:
  const wchar_t* given_;
  std::wstring extended_;
};

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_WIN32_LONG_PATH_H_
