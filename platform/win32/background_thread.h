// SPDX-License-Identifier: MIT
// Platform::CreateBackgroundThread for the Win32 backend.
#ifndef TARVELIN_PLATFORM_WIN32_BACKGROUND_THREAD_H_
#define TARVELIN_PLATFORM_WIN32_BACKGROUND_THREAD_H_

#include <memory>

#include "platform/background_thread.h"

namespace tarvelin::win32 {

// A started thread (CreateThread), or null when the system refuses one. The
// calling thread's last-error value is kept either way.
std::unique_ptr<BackgroundThread> StartBackgroundThread();

}  // namespace tarvelin::win32

#endif  // TARVELIN_PLATFORM_WIN32_BACKGROUND_THREAD_H_
