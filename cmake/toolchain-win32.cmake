# Cross-compiling for 32-bit Windows with mingw-w64. Nothing of this build runs here
# (32-bit Wine cannot run on these machines); its checks are static.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
