# SPDX-License-Identifier: MIT
# Cross-compiles the 64-bit Windows DLL (PE32+, x86-64) with MinGW-w64 and
# runs its tests under 64-bit Wine.
# Use: cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(TARVELIN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVELIN_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TARVELIN_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TARVELIN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVELIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs every test program through Wine, which starts 64-bit programs
# with its 64-bit loader (Debian's wine64).
find_program(TARVELIN_WINE NAMES wine wine64 wine-stable)
if(TARVELIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVELIN_WINE})
endif()
