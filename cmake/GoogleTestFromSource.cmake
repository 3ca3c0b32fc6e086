# GoogleTest built from Debian's sources with the current toolchain (native or mingw).
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest needs no heavy optimisation either.
target_compile_options(gtest PRIVATE $<$<CONFIG:Release>:-O1>)
target_compile_options(gtest_main PRIVATE $<$<CONFIG:Release>:-O1>)
# The sanitizers watch the project's code; GoogleTest itself is built plainly and without
# debug information, which keeps the instrumented build quick.
if(CORVANE_SANITIZE)
  target_compile_options(gtest PRIVATE -g0)
  target_compile_options(gtest_main PRIVATE -g0)
endif()
