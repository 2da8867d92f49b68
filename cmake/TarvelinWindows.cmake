# SPDX-License-Identifier: MIT
# What the Windows builds add to their programs and to tarvelin.dll: a version
# resource, the export table for this architecture, and import libraries for
# both kinds of Windows compiler.

# The class members' names as MSVC decorates them: __thiscall members of a
# 32-bit class (QAE) differ from the x86-64 ones (QEAA).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TARVELIN_MSVC_CONSTRUCTOR "??0CTarvelin@@QEAA@XZ")
  set(TARVELIN_MSVC_ASSIGNMENT "??4CTarvelin@@QEAAAEAV0@AEBV0@@Z")
  set(TARVELIN_DLLTOOL_MACHINE i386:x86-64)
else()
  set(TARVELIN_MSVC_CONSTRUCTOR "??0CTarvelin@@QAE@XZ")
  set(TARVELIN_MSVC_ASSIGNMENT "??4CTarvelin@@QAEAAV0@ABV0@@Z")
  set(TARVELIN_DLLTOOL_MACHINE i386)
endif()

# tarvelin_add_version_resource(TARGET FILE_NAME TYPE DESCRIPTION)
#   Gives TARGET a VERSIONINFO resource: the project version as FileVersion
#   and ProductVersion, FILE_NAME as OriginalFilename, TYPE VFT_DLL or VFT_APP.
function(tarvelin_add_version_resource target resource_file_name resource_file_type
         resource_description)
  get_filename_component(resource_internal_name ${resource_file_name} NAME_WE)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# tarvelin_add_import_libraries(TARGET)
#   For the DLL TARGET: writes its export table (tarvelin.def, with the
#   functions of TARVELIN_DEF_FUNCTIONS) and, beside the
#   DLL's import library, two import libraries made from the export table
#   rather than by the linker:
#   - tarvelin.lib, in MSVC's format (llvm-dlltool), for hosts built with MSVC
#     or clang-cl: the functions and MSVC's names of the class members;
#   - libtarvelin.dll.a, in MinGW's format (dlltool), for hosts built with
#     MinGW: the functions, and g++'s names of the class members bound to the
#     DLL's exports of MSVC's names, so that g++ code can use the class too.
function(tarvelin_add_import_libraries target)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/tarvelin.def)
  configure_file(${PROJECT_SOURCE_DIR}/library/tarvelin.def.in ${def} @ONLY)
  target_sources(${target} PRIVATE ${def})

  set(msvc_def ${CMAKE_CURRENT_BINARY_DIR}/tarvelin_msvc.def)
  file(WRITE ${msvc_def} "LIBRARY tarvelin.dll\nEXPORTS\n${TARVELIN_DEF_FUNCTIONS}"
       "  ${TARVELIN_MSVC_CONSTRUCTOR}\n  ${TARVELIN_MSVC_ASSIGNMENT}\n")
  set(mingw_def ${CMAKE_CURRENT_BINARY_DIR}/tarvelin_mingw.def)
  file(WRITE ${mingw_def} "LIBRARY tarvelin.dll\nEXPORTS\n${TARVELIN_DEF_FUNCTIONS}"
       "  _ZN9CTarvelinC1Ev == ${TARVELIN_MSVC_CONSTRUCTOR}\n"
       "  _ZN9CTarvelinC2Ev == ${TARVELIN_MSVC_CONSTRUCTOR}\n"
       "  _ZN9CTarvelinaSERKS_ == ${TARVELIN_MSVC_ASSIGNMENT}\n")

  find_program(TARVELIN_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 llvm-dlltool-15)
  if(NOT TARVELIN_LLVM_DLLTOOL)
    message(FATAL_ERROR "llvm-dlltool makes tarvelin.lib for MSVC hosts: install Debian's llvm")
  endif()
  # The linker's own import library names the members by their MSVC names
  # only; the one made here replaces it.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} -m ${TARVELIN_DLLTOOL_MACHINE} -d ${mingw_def} -D tarvelin.dll
            -l $<TARGET_LINKER_FILE:${target}>
    COMMAND ${TARVELIN_LLVM_DLLTOOL} -m ${TARVELIN_DLLTOOL_MACHINE} -d ${msvc_def}
            -l $<TARGET_LINKER_FILE_DIR:${target}>/tarvelin.lib
    VERBATIM)
  set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES
               $<TARGET_LINKER_FILE_DIR:${target}>/tarvelin.lib)
endfunction()
