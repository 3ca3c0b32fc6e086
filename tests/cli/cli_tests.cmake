# The corvane tool, tested as a process: natively (plain and with sanitizers), and the
# Windows build under Wine, where it is also compared with the Crypt object itself.
if(WIN32)
  corvane_windows_path(cli_path $<TARGET_FILE:corvane>)
  set(child_process)
else()
  set(cli_path $<TARGET_FILE:corvane>)
  set(child_process cli/child_process_posix.cpp cli/cli_posix_test.cpp)
endif()

# The shipped executable imports system DLLs only, in both Windows builds. A build whose
# tests cannot run here builds no test program for the tool either.
if(WIN32)
  corvane_check_imports(corvane)
  # Hardened like the DLLs, with a version resource of its own: the release version. The
  # x86 build keeps code pointers in writable data that come with the toolchain's static
  # runtime: the DWARF-2 exception handling of i686 g++ gives each object a pointer to
  # its personality routine in .data, and the mingw-w64 runtime binds a few msvcrt
  # functions lazily through writable pointers. Only the x64 image is checked for none.
  string(REPLACE "," "." release_version_numbers "${CORVANE_RELEASE_VERSION_NUMBERS}")
  set(exe_checks ${pe_shipped_checks})
  if(CORVANE_ARCH STREQUAL "x86")
    list(REMOVE_ITEM exe_checks --no-writable-function-tables)
  endif()
  add_test(NAME static_corvane_exe
    COMMAND python3 ${static_checks} $<TARGET_FILE:corvane> --machine ${pe_machine}
            ${exe_checks} ${pe_blowfish_tables} --fixed-version ${release_version_numbers}
            --version-string=FileVersion=${PROJECT_VERSION} --version-string=ProductVersion=${PROJECT_VERSION}
            "--version-string=FileDescription=Corvane command-line tool: Blowfish encryption of text and files"
            --version-string=OriginalFilename=corvane.exe)
  if(NOT CORVANE_RUNS_TESTS)
    return()
  endif()
endif()

# Running a child process, compiled once for the three Windows test programs that use it.
if(WIN32)
  add_library(child_process_win32 STATIC cli/child_process_win32.cpp)
  target_link_libraries(child_process_win32 PUBLIC project_options gtest)
endif()

add_executable(cli_tests cli/cli_test.cpp ${child_process})
if(WIN32)
  target_link_libraries(cli_tests PRIVATE child_process_win32)
endif()
target_compile_definitions(cli_tests PRIVATE
  CORVANE_VECTOR_DIR="${vector_dir}" CORVANE_CLI_PATH="${cli_path}"
  $<$<BOOL:${CORVANE_SANITIZE}>:CORVANE_SANITIZED>)
target_link_libraries(cli_tests PRIVATE crypt_core gtest_main)
add_dependencies(cli_tests corvane)

if(NOT WIN32)
  add_executable(peak_memory_probe cli/peak_memory_probe.cpp)
  target_compile_definitions(cli_tests PRIVATE CORVANE_PEAK_MEMORY_PROBE="$<TARGET_FILE:peak_memory_probe>")
  add_dependencies(cli_tests peak_memory_probe)
  add_test(NAME cli_tests COMMAND cli_tests)
  return()
endif()

add_executable(cli_component_tests cli/cli_component_test.cpp)
target_compile_definitions(cli_component_tests PRIVATE CORVANE_VECTOR_DIR="${vector_dir}" CORVANE_CLI_PATH="${cli_path}")
target_link_libraries(cli_component_tests PRIVATE crypt_object child_process_win32 gtest_main)
add_dependencies(cli_component_tests corvane)

# The console handler, called as Windows calls it (no console reaches it under Wine).
add_executable(cli_console_tests cli/cli_console_test.cpp)
target_link_libraries(cli_console_tests PRIVATE corvane_cli child_process_win32 gtest_main)

corvane_wine_test(cli_tests_wine COMMAND cli_tests)
corvane_wine_test(cli_console_tests COMMAND cli_console_tests)
corvane_wine_test(cli_component_cp1252 COMMAND cli_component_tests --gtest_filter=-*Cp932*)
corvane_wine_test(cli_component_cp932 CODEPAGE 932 COMMAND cli_component_tests --gtest_filter=*Cp932*)
