# GoogleTest built from Debian's sources with the current toolchain (native or mingw).
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(CORVANE_SANITIZE)
  target_compile_options(gtest PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer)
endif()
