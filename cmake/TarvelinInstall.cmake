# SPDX-License-Identifier: MIT
# What `cmake --install` puts under the prefix (GNUInstallDirs folders):
#   bin/tarvelin (tarvelin.exe and tarvelin.dll on Windows)
#   lib/libtarvelin.so.0.2.0 with its links .so.0 (the SONAME) and .so;
#     lib/tarvelin.lib and lib/libtarvelin.dll.a on Windows
#   include/tarvelin/tarvelin.h
#   lib/cmake/Tarvelin/ (find_package: Tarvelin::tarvelin), lib/pkgconfig/tarvelin.pc
#   share/man/man1/tarvelin.1, and the README, LICENSE and Debian copyright file
# in the components runtime, development, tool and docs, which the Windows
# zip places separately.
include(CMakePackageConfigHelpers)

if(NOT WIN32)
  # The exports never change, so the ABI is that of every 0.x release.
  set_target_properties(tarvelin PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endif()

install(TARGETS tarvelin EXPORT TarvelinTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
    NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/tarvelin/tarvelin.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvelin COMPONENT development)
if(WIN32)
  install(FILES $<TARGET_LINKER_FILE_DIR:tarvelin>/tarvelin.lib
    DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endif()

set(config_folder ${CMAKE_INSTALL_LIBDIR}/cmake/Tarvelin)
install(EXPORT TarvelinTargets NAMESPACE Tarvelin:: DESTINATION ${config_folder}
  COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TarvelinConfig.cmake.in
  ${CMAKE_BINARY_DIR}/TarvelinConfig.cmake INSTALL_DESTINATION ${config_folder})
# The size of a pointer is checked too: a 64-bit host cannot load a 32-bit DLL.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/TarvelinConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/TarvelinConfig.cmake
  ${CMAKE_BINARY_DIR}/TarvelinConfigVersion.cmake
  DESTINATION ${config_folder} COMPONENT development)

# pkg-config finds the prefix from the .pc file's own place, so that the tree
# can be installed under any prefix or moved.
file(RELATIVE_PATH pc_prefix_from_pcfiledir /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" pc_prefix_from_pcfiledir "${pc_prefix_from_pcfiledir}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarvelin.pc.in ${CMAKE_BINARY_DIR}/tarvelin.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/tarvelin.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

if(TARGET tarvelin_tool)
  install(TARGETS tarvelin_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
endif()
if(NOT WIN32)
  configure_file(${PROJECT_SOURCE_DIR}/doc/tarvelin.1 ${CMAKE_BINARY_DIR}/tarvelin.1 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/tarvelin.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
endif()

# Windows users find the README and the licence at the top of the folder;
# elsewhere they go to the documentation folder, with Debian's copyright file
# (the licence in Debian's machine-readable form). The pages that the README
# links to go beside it in doc/, so that its links hold where it is
# installed.
file(GLOB doc_pages ${PROJECT_SOURCE_DIR}/doc/*.md)
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION . COMPONENT docs)
  install(FILES ${doc_pages} DESTINATION doc COMPONENT docs)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/examples/tarvelin_ctypes.py
    DESTINATION doc/examples COMPONENT docs)
else()
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(REGEX REPLACE "^MIT License\n\n(Copyright \\(c\\) )?([^\n]*)\n\n" "" terms "${licence}")
  set(copyright_holder "${CMAKE_MATCH_2}")
  string(REGEX REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REGEX REPLACE "\n$" "" terms "${terms}")
  string(REGEX REPLACE "\n" "\n " terms "${terms}")
  file(WRITE ${CMAKE_BINARY_DIR}/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: tarvelin\n\n"
    "Files: *\nCopyright: ${copyright_holder}\nLicense: MIT\n ${terms}\n")
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
    ${CMAKE_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT docs)
  install(FILES ${doc_pages} DESTINATION ${CMAKE_INSTALL_DOCDIR}/doc COMPONENT docs)
  install(FILES ${PROJECT_SOURCE_DIR}/doc/examples/tarvelin_ctypes.py
    DESTINATION ${CMAKE_INSTALL_DOCDIR}/doc/examples COMPONENT docs)
endif()
