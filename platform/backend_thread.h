// SPDX-License-Identifier: MIT
// Platform::CreateBackgroundThread of the backend that CMake chose: POSIX
// threads (posix/background_thread.cc) or CreateThread (win32/...). Internal
// to platform/.
#ifndef TARVELIN_PLATFORM_BACKEND_THREAD_H_
#define TARVELIN_PLATFORM_BACKEND_THREAD_H_

#include <memory>

#include "platform/background_thread.h"

namespace tarvelin {

// A started thread, or null when the system refuses one (too many threads,
// no memory). The caller's last-error value and errno are kept either way.
// On POSIX the thread blocks every signal, so that signals keep going to the
// threads that the program made itself.
std::unique_ptr<BackgroundThread> StartBackendThread();

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_BACKEND_THREAD_H_
