// SPDX-License-Identifier: MIT
// Linux's table of mounts (/proc/self/mountinfo), read for the type of the
// file system that holds a folder. statfs alone names a FUSE file system
// only as FUSE; the table names its driver ("fuse.fusefat").
#ifndef TARVELIN_PLATFORM_POSIX_MOUNT_TABLE_H_
#define TARVELIN_PLATFORM_POSIX_MOUNT_TABLE_H_

#include <string>

namespace tarvelin::posix {

// The type of the mount whose device is major:minor in `table`, in the
// layout of /proc/self/mountinfo: "ID PARENT MAJOR:MINOR ROOT POINT
// OPTIONS [TAGS...] - TYPE SOURCE SUPER-OPTIONS", one mount a line. Bind
// mounts of one device share its type, so the first match answers. Empty
// when no line matches or a matching line is malformed.
std::string MountTypeOfDevice(const std::string& table, unsigned major, unsigned minor);

// The same, read from this process's own table; empty when it cannot be read.
std::string MountTypeOfDevice(unsigned major, unsigned minor);

}  // namespace tarvelin::posix

#endif  // TARVELIN_PLATFORM_POSIX_MOUNT_TABLE_H_
