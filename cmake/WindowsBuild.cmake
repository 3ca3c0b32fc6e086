# Settings of the two Windows builds: widl, hardened images, the values of the version
# resources, and Wine for running their tests.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CORVANE_WIDL x86_64-w64-mingw32-widl)
  set(CORVANE_WIDL_TARGET --win64)
  set(CORVANE_ARCH x64)
else()
  set(CORVANE_WIDL i686-w64-mingw32-widl)
  set(CORVANE_WIDL_TARGET --win32)
  set(CORVANE_ARCH x86)
endif()
# Hardened images, whatever the linker's defaults: ASLR (DYNAMIC_BASE, with the relocation
# section that lets the loader move the image; HIGH_ENTROPY_VA on x64) and DEP (NX_COMPAT).
# x86 images are marked NO_SEH: nothing in them installs a frame-based exception handler
# (g++ unwinds by DWARF tables here; the mingw-w64 and libgcc libraries register no
# handler either), and GNU ld cannot make the SafeSEH table that would be the other way.
# tests/static/check_pe.py --hardened checks each shipped image for all of it.
add_link_options(-Wl,--dynamicbase -Wl,--nxcompat)
if(CORVANE_ARCH STREQUAL "x64")
  add_link_options(-Wl,--high-entropy-va)
else()
  add_link_options(-Wl,--no-seh)
endif()

# The version resources' CompanyName and LegalCopyright: the copyright line of LICENSE, the
# one place the holder is named, and the holder itself. version_info.h carries them, and
# the release version, to the .rc files.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE CORVANE_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)
if(NOT CORVANE_COPYRIGHT MATCHES "^Copyright \\(c\\) ([^\"\\]+)$")
  message(FATAL_ERROR "LICENSE has no line \"Copyright (c) HOLDER\" (without quotes or backslashes)")
endif()
set(CORVANE_COPYRIGHT_HOLDER ${CMAKE_MATCH_1})
set(CORVANE_RELEASE_VERSION_NUMBERS)
foreach(part MAJOR MINOR PATCH TWEAK)
  if(PROJECT_VERSION_${part} STREQUAL "")
    list(APPEND CORVANE_RELEASE_VERSION_NUMBERS 0)
  else()
    list(APPEND CORVANE_RELEASE_VERSION_NUMBERS ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN CORVANE_RELEASE_VERSION_NUMBERS "," CORVANE_RELEASE_VERSION_NUMBERS)
set(CORVANE_VERSION_INFO_DIR ${PROJECT_BINARY_DIR}/version_info)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version_info.h.in ${CORVANE_VERSION_INFO_DIR}/version_info.h @ONLY)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)

# stdole2.tlb, which the type libraries import, is the same file for both builds; the
# 64-bit Wine's copy is there whether or not the 32-bit Wine is installed.
set(CORVANE_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)

# The x64 build runs its tests through 64-bit Wine, the x86 build through 32-bit Wine,
# each in a prefix inside its build tree. The x86 tests need a kernel that runs 32-bit
# programs and the 32-bit Wine (scripts/bootstrap.sh installs it where the kernel can);
# without them the x86 build is checked statically only, and says so.
set(CORVANE_RUNS_TESTS ON)
set(CORVANE_WINE_LOADER_OPTION)
if(CORVANE_ARCH STREQUAL "x86")
  set(CORVANE_WINE_LOADER_OPTION --x86)
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/probe-ia32.sh RESULT_VARIABLE ia32_probe)
  if(NOT ia32_probe EQUAL 0)
    set(CORVANE_RUNS_TESTS OFF)
    set(CORVANE_NO_TESTS_REASON "this kernel does not run 32-bit programs")
  elseif(NOT EXISTS /usr/lib/wine/wine)
    set(CORVANE_RUNS_TESTS OFF)
    set(CORVANE_NO_TESTS_REASON "the 32-bit Wine (/usr/lib/wine/wine) is not installed; scripts/bootstrap.sh installs it")
  endif()
endif()
if(CORVANE_RUNS_TESTS)
  set(CORVANE_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
  # wine-run.sh with the loader of this build and its prefix: PROGRAM [ARGS...] follow.
  set(CORVANE_WINE_RUN ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${CORVANE_WINE_LOADER_OPTION} ${CORVANE_WINE_DIR})
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVANE_WINE_RUN})
  # Started by `wine-prefix.sh setup`: keeps the prefix's desktop open for the whole run.
  add_executable(wine_desktop_keeper WIN32 ${PROJECT_SOURCE_DIR}/cmake/wine_desktop_keeper.cpp)
  target_link_libraries(wine_desktop_keeper PRIVATE project_options)
  set_target_properties(wine_desktop_keeper PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
else()
  message(STATUS "The ${CORVANE_ARCH} tests do not run here: ${CORVANE_NO_TESTS_REASON}. Static checks only.")
  # Read by scripts/test-all.sh, which reports it in its summary.
  file(WRITE ${CMAKE_BINARY_DIR}/tests-not-run.txt "${CORVANE_NO_TESTS_REASON}\n")
endif()
if(CORVANE_RUNS_TESTS AND EXISTS ${CMAKE_BINARY_DIR}/tests-not-run.txt)
  file(REMOVE ${CMAKE_BINARY_DIR}/tests-not-run.txt)
endif()

# Windows path of a file or folder of this machine, as Wine sees it (drive Z: is /).
function(corvane_windows_path out path)
  set(${out} "Z:${path}" PARENT_SCOPE)
endfunction()

# Compiles an .idl with widl into a C++ header, GUID definitions and a type library:
#   corvane_widl(NAME idl-file)  -> static library NAME_interface (header and GUIDs),
#                                   variable NAME_TLB (the .tlb path) in the caller's scope
# widl runs in the source tree with relative paths: the files it writes name the .idl as
# server/corvane.idl, not by a path of this machine (the header and GUIDs are shipped).
# A type library records when widl made it ("Created by WIDL version ... at ...", and the
# time as a number): WIDL_TIME_OVERRIDE fixes that time to 0 always. Taking it from
# SOURCE_DATE_EPOCH at configure time made the bytes depend on how the build folder was
# first configured (by hand or by scripts/package.sh), and the time means nothing here.
set(CORVANE_WIDL_TIME 0)
function(corvane_widl name idl)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(flags ${CORVANE_WIDL_TARGET} -I common -L ${CORVANE_STDOLE_DIR})
  set(widl ${CMAKE_COMMAND} -E env WIDL_TIME_OVERRIDE=${CORVANE_WIDL_TIME} ${CORVANE_WIDL})
  file(RELATIVE_PATH relative_idl ${PROJECT_SOURCE_DIR} ${idl})
  add_custom_command(
    OUTPUT ${out}/${name}.h ${out}/${name}_i.c ${out}/${name}.tlb
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${widl} ${flags} -h -o ${out}/${name}.h ${relative_idl}
    COMMAND ${widl} ${flags} -u -o ${out}/${name}_i.c ${relative_idl}
    COMMAND ${widl} ${flags} -t -o ${out}/${name}.tlb ${relative_idl}
    DEPENDS ${idl} ${PROJECT_SOURCE_DIR}/common/automation_base.idl
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    VERBATIM)
  add_library(${name}_interface STATIC ${out}/${name}_i.c)
  target_include_directories(${name}_interface PUBLIC ${out} ${PROJECT_SOURCE_DIR}/common)
  target_link_libraries(${name}_interface PUBLIC ole32 oleaut32 uuid)
  set(${name}_TLB ${out}/${name}.tlb PARENT_SCOPE)
endfunction()

# What a C++ client of a DLL compiles against, copied to dist/include: the header and GUID
# definitions that corvane_widl(NAME) made, and any further files named (the base header
# they include). Target NAME_dist_include makes them; both Windows builds write the same
# files.
function(corvane_ship_interface name)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(include_dir ${PROJECT_SOURCE_DIR}/dist/include)
  set(sources ${generated}/${name}.h ${generated}/${name}_i.c ${ARGN})
  set(shipped)
  foreach(source ${sources})
    get_filename_component(file_name ${source} NAME)
    list(APPEND shipped ${include_dir}/${file_name})
  endforeach()
  add_custom_command(OUTPUT ${shipped}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${include_dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${sources} ${include_dir}/
    DEPENDS ${sources}
    VERBATIM)
  add_custom_target(${name}_dist_include ALL DEPENDS ${shipped})
endfunction()

# Corvane.dll and TamselWrapper.dll link no part of the C++ runtime: everything compiled
# into them does without exceptions, run-time type information and thread-safe statics
# (which would pull in libstdc++ and winpthread, their TLS directory and their allocations
# at load time), and allocates from the process heap with explicit failure paths.
set(CORVANE_DLL_CODE_FLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics)

# Makes `target` such a DLL: no start-up files (their TLS directory and atexit machinery)
# and no default libraries; DllMain is the entry point itself. What the code needs of a
# C library (memcpy and friends) comes from the system's msvcrt.dll, the compiler's
# helpers (stack probes, 64-bit division on x86) from the static libgcc, which allocates
# nothing. The two libraries must come last on the command line, after the static
# libraries that use them, so they go where CMake puts the standard libraries: call this
# from the folder that defines the target, and only for DLLs defined there.
#
# Auto-import is off: an imported data reference without dllimport would need the
# start-up code's pseudo-relocation, which these DLLs do not have, so the link refuses it
# (an undefined __imp_ symbol). Switching it off, rather than only the pseudo-relocation,
# matters: ld links an image that auto-imports without version-2 pseudo-relocations by
# its auto-import script, which puts .rdata into the writable .data (the loader would have
# to patch constant data), so constants, vtables and GUIDs ended up writable.
macro(corvane_runtime_free_dll target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/common/dll_runtime.cpp)
  target_compile_options(${target} PRIVATE ${CORVANE_DLL_CODE_FLAGS})
  if(CORVANE_ARCH STREQUAL "x86")
    set(corvane_dll_entry _DllMain@12)  # stdcall decoration
  else()
    set(corvane_dll_entry DllMain)
  endif()
  target_link_options(${target} PRIVATE -nostdlib -Wl,--entry=${corvane_dll_entry} -Wl,--disable-auto-import)
  string(APPEND CMAKE_CXX_STANDARD_LIBRARIES " -lkernel32 -lmsvcrt -lgcc")
endmacro()
