# Windows-only tests. Each build runs them under the Wine of its bitness (x64: 64-bit
# Wine, x86: 32-bit Wine) and checks its binaries statically.
set(static_checks ${CMAKE_CURRENT_LIST_DIR}/../static/check_pe.py)
if(CORVANE_ARCH STREQUAL "x64")
  set(pe_machine amd64)
else()
  set(pe_machine i386)
endif()

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
