// SPDX-License-Identifier: MIT
// One name for each call of the Platform interface, for code that counts,
// records, fails or checks calls by kind (the test wrappers, the call-order
// check) and for messages that name a call. A call added to Platform gets an
// enumerator here and its text in PlatformCallName.
#ifndef TARVELIN_PLATFORM_PLATFORM_CALL_H_
#define TARVELIN_PLATFORM_PLATFORM_CALL_H_

namespace tarvelin {

enum class PlatformCall {
  kCreateFile,
  kReadFile,
  kWriteFile,
  kFlushFileBuffers,
  kFlushFolderOf,
  kGetFileSize,
  kSetFilePointer,
  kSetEndOfFile,
  kGetFileInformation,  // GetFileInformationByHandle
  kCloseHandle,
  kSetFileAttributes,
  kDeleteFile,
  kDeleteAndClose,
  kGetDiskFreeSpace,
  kGetVolumeInformation,
  kPathFileExists,
  kGetFileAttributes,
  kGetLastError,
  kSetLastError,
  kGetProfileString,    // GetPrivateProfileString
  kWriteProfileString,  // WritePrivateProfileString
};

// The name of the Platform method that `call` stands for, e.g.
// "GetPrivateProfileString".
constexpr const char* PlatformCallName(PlatformCall call) {
  switch (call) {
    case PlatformCall::kCreateFile: return "CreateFile";
    case PlatformCall::kReadFile: return "ReadFile";
    case PlatformCall::kWriteFile: return "WriteFile";
    case PlatformCall::kFlushFileBuffers: return "FlushFileBuffers";
    case PlatformCall::kFlushFolderOf: return "FlushFolderOf";
    case PlatformCall::kGetFileSize: return "GetFileSize";
    case PlatformCall::kSetFilePointer: return "SetFilePointer";
    case PlatformCall::kSetEndOfFile: return "SetEndOfFile";
    case PlatformCall::kGetFileInformation: return "GetFileInformationByHandle";
    case PlatformCall::kCloseHandle: return "CloseHandle";
    case PlatformCall::kSetFileAttributes: return "SetFileAttributes";
    case PlatformCall::kDeleteFile: return "DeleteFile";
    case PlatformCall::kDeleteAndClose: return "DeleteAndClose";
    case PlatformCall::kGetDiskFreeSpace: return "GetDiskFreeSpace";
    case PlatformCall::kGetVolumeInformation: return "GetVolumeInformation";
    case PlatformCall::kPathFileExists: return "PathFileExists";
    case PlatformCall::kGetFileAttributes: return "GetFileAttributes";
    case PlatformCall::kGetLastError: return "GetLastError";
    case PlatformCall::kSetLastError: return "SetLastError";
    case PlatformCall::kGetProfileString: return "GetPrivateProfileString";
    case PlatformCall::kWriteProfileString: return "WritePrivateProfileString";
  }
  return "?";
}

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_PLATFORM_CALL_H_
