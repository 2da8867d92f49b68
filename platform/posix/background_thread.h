// SPDX-License-Identifier: MIT
// Platform::CreateBackgroundThread for the POSIX backend, on POSIX threads.
#ifndef TARVELIN_PLATFORM_POSIX_BACKGROUND_THREAD_H_
#define TARVELIN_PLATFORM_POSIX_BACKGROUND_THREAD_H_

#include <memory>

#include "platform/background_thread.h"

namespace tarvelin::posix {

// A started thread, or null when the system refuses one (too many threads,
// no memory). The thread blocks every signal, so that signals keep going to
// the threads that the program made itself.
std::unique_ptr<BackgroundThread> StartBackgroundThread();

}  // namespace tarvelin::posix

#endif  // TARVELIN_PLATFORM_POSIX_BACKGROUND_THREAD_H_
