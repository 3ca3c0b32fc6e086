# The examples of the documentation (examples/), run as a user runs them: the scripts by the
# cscript of this build's bitness, the C++ client as a program, each against the DLL that
# this build registered in its prefix. What each prints must equal <example>.expected
# beside it.
if(NOT CORVANE_RUNS_TESTS)
  return()
endif()
set(examples ${PROJECT_SOURCE_DIR}/examples)
set(check_output python3 ${CMAKE_CURRENT_LIST_DIR}/check_output.py)

function(corvane_example_test name expected)
  cmake_parse_arguments(arg "" "FRESH_FOLDER" "COMMAND;REQUIRES" ${ARGN})
  set(fresh)
  if(arg_FRESH_FOLDER)
    set(fresh --fresh-folder ${arg_FRESH_FOLDER})
  endif()
  corvane_wine_test(example_${name} REQUIRES ${arg_REQUIRES}
    COMMAND ${check_output} ${expected} ${fresh} -- ${arg_COMMAND})
endfunction()

function(corvane_example_script script)
  cmake_parse_arguments(arg "" "" "REQUIRES" ${ARGN})
  string(REPLACE "/" "\\" windows_script "Z:${examples}/${script}")
  corvane_example_test(${script} ${examples}/${script}.expected REQUIRES ${arg_REQUIRES}
    COMMAND ${CORVANE_WINE_RUN} cscript //nologo ${windows_script})
endfunction()

corvane_example_script(crypt.vbs REQUIRES corvane_registered)
corvane_example_script(crypt.js REQUIRES corvane_registered)
foreach(script wrapper.vbs wrapper.js)
  corvane_example_script(${script} REQUIRES tamsel_registered)
  set_tests_properties(example_${script} PROPERTIES RESOURCE_LOCK tamsel_registry)
endforeach()

corvane_example_test(crypt_client.cpp ${examples}/crypt_client.cpp.expected REQUIRES corvane_registered
  COMMAND ${CORVANE_WINE_RUN} $<TARGET_FILE:crypt_client>)

# The ASP page runs as a VBScript file with stand-ins for ASP's Server and Response
# (asp_page.py); its site is a folder of the build tree.
set(site ${CMAKE_CURRENT_BINARY_DIR}/examples/site)
set(page ${CMAKE_CURRENT_BINARY_DIR}/examples/crypt.asp.vbs)
string(REPLACE "/" "\\" windows_site "Z:${site}")
string(REPLACE "/" "\\" windows_page "Z:${page}")
add_custom_command(OUTPUT ${page}
  COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/asp_page.py ${examples}/asp/crypt.asp ${windows_site} ${page}
  DEPENDS ${examples}/asp/crypt.asp ${CMAKE_CURRENT_LIST_DIR}/asp_page.py
  VERBATIM)
add_custom_target(example_asp_page ALL DEPENDS ${page})
corvane_example_test(crypt.asp ${examples}/asp/crypt.asp.expected REQUIRES corvane_registered
  FRESH_FOLDER ${site}/App_Data
  COMMAND ${CORVANE_WINE_RUN} cscript //nologo ${windows_page})
