# Tests of TamselWrapper.dll against the stand-in components of TamselFixtures.dll
# (tests/fixtures). Both Windows builds check the two DLLs statically, register them in
# their Wine prefix with regsvr32 and run the C++ and script tests there.
corvane_read_only_idl_guids(tamsel_guids ${PROJECT_SOURCE_DIR}/wrapper/tamsel.idl)
add_test(NAME static_TamselWrapper
  COMMAND python3 ${static_checks} $<TARGET_FILE:TamselWrapper> --machine ${pe_machine} --system-imports-only
          --no-tls --no-initializers --heap-allocation-only
          --exports DllCanUnloadNow,DllGetClassObject,DllRegisterServer,DllUnregisterServer
          --resource-bytes TYPELIB/1/0=${CMAKE_BINARY_DIR}/wrapper/generated/tamsel.tlb
          --resource VERSION/1/0
          ${pe_shipped_checks} ${tamsel_guids} --fixed-version 1.0.0.0 --version-string=FileVersion=1.00
          --version-string=OriginalFilename=TamselWrapper.dll)

corvane_check_imports(TamselFixtures fixture_cipher_tests)

# The C++ tests of the wrapper are built only where they can run.
if(NOT CORVANE_RUNS_TESTS)
  return()
endif()

# What the wrapper's test programs share, compiled once.
add_library(wrapper_test_support STATIC wrapper/wrapper_test_main.cpp wrapper/wrapper_test_support.cpp)
target_compile_definitions(wrapper_test_support PUBLIC
  CORVANE_VECTOR_DIR="${vector_dir}"
  TAMSEL_WRAPPER_DLL="Z:$<TARGET_FILE:TamselWrapper>"
  TAMSEL_FIXTURES_DLL="Z:$<TARGET_FILE:TamselFixtures>")
target_link_libraries(wrapper_test_support PUBLIC
  fixture_cipher tamsel_interface project_options gtest ole32 oleaut32 advapi32 version uuid)

add_executable(wrapper_tests
  wrapper/wrapper_call_test.cpp
  wrapper/wrapper_dispatch_test.cpp
  wrapper/wrapper_failure_test.cpp
  wrapper/wrapper_module_test.cpp
  wrapper/wrapper_activation_test.cpp)
target_link_libraries(wrapper_tests PRIVATE wrapper_test_support)
add_dependencies(wrapper_tests TamselWrapper TamselFixtures)
corvane_check_imports(wrapper_tests)

corvane_wine_test(fixture_cipher_tests_wine COMMAND fixture_cipher_tests)

# Both DLLs registered with regsvr32 for the tests that need them, unregistered after.
foreach(dll TamselWrapper TamselFixtures)
  add_test(NAME register_${dll} COMMAND ${CORVANE_WINE_RUN} regsvr32 /s Z:$<TARGET_FILE:${dll}>)
  add_test(NAME unregister_${dll} COMMAND ${CORVANE_WINE_RUN} regsvr32 /s /u Z:$<TARGET_FILE:${dll}>)
  set_tests_properties(register_${dll} PROPERTIES FIXTURES_SETUP tamsel_registered FIXTURES_REQUIRED wine)
  set_tests_properties(unregister_${dll} PROPERTIES FIXTURES_CLEANUP tamsel_registered FIXTURES_REQUIRED wine)
endforeach()

# The tests change the registry and the stand-ins' fault switch: one at a time.
corvane_wine_test(wrapper_tests COMMAND wrapper_tests)
set_tests_properties(wrapper_tests PROPERTIES FIXTURES_REQUIRED "wine;tamsel_registered" RESOURCE_LOCK tamsel_registry)

# Scripts through Wine's cscript, one at a time like the C++ tests.
foreach(script wrapper_roundtrip.vbs wrapper_faults.vbs wrapper_roundtrip.js wrapper_bad_input.vbs wrapper_bad_input.js)
  corvane_script_test(${CMAKE_CURRENT_SOURCE_DIR}/scripts/${script} REQUIRES tamsel_registered)
  set_tests_properties(script_${script} PROPERTIES RESOURCE_LOCK tamsel_registry)
endforeach()
set_tests_properties(script_wrapper_faults.vbs PROPERTIES
  ENVIRONMENT_MODIFICATION "TAMSEL_FIXTURE_FAULTS=set:Tamsel.clsTwofish=refuse")
