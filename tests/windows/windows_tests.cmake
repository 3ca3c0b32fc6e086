# Windows-only tests. Each build runs them under the Wine of its bitness (x64: 64-bit
# Wine, x86: 32-bit Wine) and checks its binaries statically.
set(static_checks ${CMAKE_CURRENT_LIST_DIR}/../static/check_pe.py)
if(CORVANE_ARCH STREQUAL "x64")
  set(pe_machine amd64)
else()
  set(pe_machine i386)
endif()

# What each shipped image is checked for beside its own points: the flags and sections of
# a hardened image, no table of code pointers in writable data, and CompanyName and
# LegalCopyright naming the holder of LICENSE.
set(pe_shipped_checks --hardened --no-writable-function-tables --copyright-from ${PROJECT_SOURCE_DIR}/LICENSE)
# The start of the Blowfish engine's initial P-array and S-boxes: read-only data wherever
# the engine is linked in.
set(pe_blowfish_tables
  --read-only-words 243F6A88,85A308D3,13198A2E,03707344 --read-only-words D1310BA6,98DFB5AC,2FFD72DB,D01ADFB7)

# --read-only-guid arguments for the GUIDs an .idl defines (uuid(...)), which the DLL
# built from it holds as read-only data.
function(corvane_read_only_idl_guids out idl)
  file(STRINGS ${idl} lines REGEX "uuid\\([0-9A-Fa-f-]+\\)")
  set(arguments)
  foreach(line ${lines})
    string(REGEX MATCH "uuid\\(([0-9A-Fa-f-]+)\\)" ignored "${line}")
    list(APPEND arguments --read-only-guid ${CMAKE_MATCH_1})
  endforeach()
  set(${out} ${arguments} PARENT_SCOPE)
endfunction()

# check_pe.py itself: a DLL with every fault that the checks above look for (ASLR and DEP
# off, code in writable memory, code pointers and constants in writable data, on x86 a
# frame-based handler under NO_SEH), each of which the check must report.
add_library(unhardened_fixture MODULE ${CMAKE_CURRENT_LIST_DIR}/../static/unhardened_fixture.c)
set_target_properties(unhardened_fixture PROPERTIES PREFIX "")
if(CORVANE_ARCH STREQUAL "x64")
  target_link_options(unhardened_fixture PRIVATE -Wl,--entry=DllMain -Wl,--disable-high-entropy-va)
else()
  target_link_options(unhardened_fixture PRIVATE -Wl,--entry=_DllMain@12)
endif()
target_link_options(unhardened_fixture PRIVATE -nostdlib -Wl,--disable-dynamicbase -Wl,--disable-nxcompat)
add_test(NAME static_check_pe_catches
  COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/../static/check_pe_catches.py $<TARGET_FILE:unhardened_fixture>
          --machine ${pe_machine})

add_executable(windows_tests
  windows/variant_conversion_test.cpp
  windows/crypt_object_test.cpp
  windows/crypt_operations_test.cpp)
target_compile_definitions(windows_tests PRIVATE CORVANE_VECTOR_DIR="${vector_dir}")
target_link_libraries(windows_tests PRIVATE crypt_object gtest_main)

# Every Windows program we build imports system DLLs only (no mingw runtime DLLs):
# test static_<target>_imports checks each named target.
function(corvane_check_imports)
  foreach(program ${ARGN})
    add_test(NAME static_${program}_imports
      COMMAND python3 ${static_checks} $<TARGET_FILE:${program}> --machine ${pe_machine} --system-imports-only)
  endforeach()
endfunction()
corvane_check_imports(portable_tests windows_tests)

if(NOT CORVANE_RUNS_TESTS)
  return()
endif()

# One private prefix for the whole run, its server started once and stopped at the end.
add_test(NAME wine_prefix_setup
  COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh setup ${CORVANE_WINE_DIR} $<TARGET_FILE:wine_desktop_keeper>
          ${CORVANE_WINE_LOADER_OPTION})
add_test(NAME wine_prefix_cleanup COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh cleanup ${CORVANE_WINE_DIR})
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine)

# A test that runs a Windows program under Wine, in code page 1252 unless CODEPAGE says;
# REQUIRES names further fixtures (a registered server, say).
function(corvane_wine_test name)
  cmake_parse_arguments(arg "" "CODEPAGE" "COMMAND;REQUIRES" ${ARGN})
  if(NOT arg_CODEPAGE)
    set(arg_CODEPAGE 1252)
  endif()
  add_test(NAME ${name} COMMAND ${arg_COMMAND})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED "wine;${arg_REQUIRES}" ENVIRONMENT "WINE_CODEPAGE=${arg_CODEPAGE}")
endfunction()

# A VBScript or JScript test run by the real cscript. Wine's cscript exits 0 after a
# script error, so a test passes only on the script's own closing line
# "<script name>: all checks passed", printed when every check held.
function(corvane_script_test script)
  cmake_parse_arguments(arg "" "" "REQUIRES" ${ARGN})
  get_filename_component(name ${script} NAME)
  string(REPLACE "/" "\\" windows_script "Z:${script}")
  corvane_wine_test(script_${name} REQUIRES ${arg_REQUIRES}
    COMMAND ${CORVANE_WINE_RUN} cscript //nologo ${windows_script})
  set_tests_properties(script_${name} PROPERTIES
    PASS_REGULAR_EXPRESSION "${name}: all checks passed" FAIL_REGULAR_EXPRESSION "FAIL")
endfunction()

corvane_wine_test(portable_tests_wine COMMAND portable_tests)
corvane_wine_test(windows_tests_cp1252 COMMAND windows_tests --gtest_filter=-*Cp932*)
corvane_wine_test(windows_tests_cp932 CODEPAGE 932 COMMAND windows_tests --gtest_filter=*Cp932*)
