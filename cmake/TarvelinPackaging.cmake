# SPDX-License-Identifier: MIT
# Packages through CPack (`cpack` in a build folder):
# - on Linux, tarvelin_<version>_amd64.deb: everything that `cmake --install`
#   puts under /usr, its dependencies found by dpkg-shlibdeps;
# - on Windows, tarvelin-<version>-windows.zip: README and LICENSE at the top,
#   and x86/ (this build) and x64/ (the 64-bit build named by
#   TARVELIN_WIN64_BUILD, once built) each a whole prefix: bin/tarvelin.dll,
#   bin/tarvelin.exe, lib/tarvelin.lib, lib/libtarvelin.dll.a, include/ and
#   the CMake and pkg-config files.
set(CPACK_PACKAGE_NAME tarvelin)
set(CPACK_PACKAGE_VENDOR "The Tarvelin developers")
set(CPACK_PACKAGE_CONTACT "The Tarvelin developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "cuts a large file into numbered pieces with MD5 fingerprints, and joins them back")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tarvelin-${PROJECT_VERSION}-windows)
  set(TARVELIN_WIN64_BUILD "" CACHE PATH
      "64-bit Windows build folder whose DLL the zip also carries (32-bit build only)")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};tarvelin;docs;/")
  foreach(component runtime development tool)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};tarvelin;${component};/x86")
    if(TARVELIN_WIN64_BUILD)
      list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${TARVELIN_WIN64_BUILD};tarvelin;${component};/x64")
    endif()
  endforeach()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # A shlibs file for packages that link libtarvelin.so.0, and the ldconfig
  # trigger for the library.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "Tarvelin cuts one large file into numbered pieces of bounded size (for\n"
      "FAT32 media, which hold no file of 4 GiB) and later joins them back,\n"
      "proving with MD5 fingerprints that every piece and the rebuilt whole are\n"
      "byte for byte what was cut. This package holds the tarvelin tool, the\n"
      "shared library libtarvelin.so.0 and what programs need to use it: the C\n"
      "and C++ header, the CMake package Tarvelin and the pkg-config file.")
  string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
endif()

include(CPack)
