# Reproducible builds: the same commit built in any folder gives the same bytes. Paths the
# compiler writes into objects (__FILE__, debug information) name the source tree as "." and
# the build tree as "build" (the later map wins for a build tree inside the source tree).
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)

# Compiler settings shared by every target of the project (not by GoogleTest).
add_library(project_options INTERFACE)
target_compile_options(project_options INTERFACE -Wall -Wextra -Werror)
target_include_directories(project_options INTERFACE ${PROJECT_SOURCE_DIR})

option(CORVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(CORVANE_SANITIZE)
  target_compile_options(project_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()

option(CORVANE_FUZZ "Build the libFuzzer targets (clang) instead of the tests" OFF)
if(CORVANE_FUZZ)
  target_compile_options(project_options INTERFACE
    -fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()

if(WIN32)
  # Only system DLLs may be imported: libgcc, libstdc++ and winpthread are linked in.
  # Shipped binaries carry no symbol tables.
  target_link_options(project_options INTERFACE -static $<$<CONFIG:Release>:-s>)
  # Every image of the build, the runtime-free DLLs included: no link time in the PE
  # headers (or the export directory), so that a rebuild compares byte for byte.
  add_link_options(-Wl,--no-insert-timestamp)
  target_compile_definitions(project_options INTERFACE
    WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)
endif()

# Where a Windows build puts what it ships: dist/x64 or dist/x86.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CORVANE_DIST_DIR ${PROJECT_SOURCE_DIR}/dist/x64)
elseif(WIN32)
  set(CORVANE_DIST_DIR ${PROJECT_SOURCE_DIR}/dist/x86)
endif()

# Copies a built deliverable into the release layout after each build.
function(corvane_ship target)
  if(CORVANE_DIST_DIR)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVANE_DIST_DIR}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${CORVANE_DIST_DIR}/
      VERBATIM)
  endif()
endfunction()
