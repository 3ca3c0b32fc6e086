# Bad input, threads and long runs against the built DLLs.
add_executable(hardening_tests
  hardening/crypt_bad_input_test.cpp
  hardening/crypt_large_file_test.cpp
  hardening/crypt_long_run_test.cpp
  hardening/crypt_threads_test.cpp
  hardening/class_object_race_test.cpp
  hardening/crypt_key_change_test.cpp)
target_compile_definitions(hardening_tests PRIVATE "CORVANE_DLL_PATH=L\"Z:$<TARGET_FILE:Corvane>\"")
target_link_libraries(hardening_tests PRIVATE corvane_interface crypt_core project_options gtest_main psapi)
add_dependencies(hardening_tests Corvane)
corvane_check_imports(hardening_tests)

if(NOT CORVANE_RUNS_TESTS)
  return()
endif()
corvane_wine_test(corvane_bad_input REQUIRES corvane_registered COMMAND hardening_tests --gtest_filter=CryptBadInput.*)
# Files of 3 and 4 GiB (sparse inputs; the 3 GiB round trip writes 6 GiB and skips, saying
# so, when the disk has less than 8 GiB free).
corvane_wine_test(corvane_large_files REQUIRES corvane_registered COMMAND hardening_tests --gtest_filter=CryptLargeFiles.*)
corvane_wine_test(corvane_key_change REQUIRES corvane_registered COMMAND hardening_tests --gtest_filter=*CryptKeyChange.*:*CryptReleasedDuringCall.*)
corvane_wine_test(corvane_threads REQUIRES corvane_registered COMMAND hardening_tests --gtest_filter=CryptThreads.*:CryptThreads/*)
corvane_wine_test(corvane_class_object_race REQUIRES corvane_registered
  COMMAND hardening_tests --gtest_filter=ClassObjectRace.*:ClassObjectFreshLoad.*)
corvane_wine_test(corvane_long_run REQUIRES corvane_registered COMMAND hardening_tests --gtest_filter=CryptLongRun.*)
foreach(script corvane_bad_input.vbs corvane_bad_input.js corvane_key_change.vbs corvane_key_change.js)
  corvane_script_test(${CMAKE_CURRENT_LIST_DIR}/../scripts/${script} REQUIRES corvane_registered)
endforeach()

# The same for Tamsel.Wrapper, against its test stand-ins (registered by the wrapper's tests).
add_executable(wrapper_hardening_tests
  hardening/wrapper_bad_input_test.cpp
  hardening/wrapper_threads_test.cpp
  hardening/wrapper_long_run_test.cpp)
target_link_libraries(wrapper_hardening_tests PRIVATE wrapper_test_support psapi)
add_dependencies(wrapper_hardening_tests TamselWrapper TamselFixtures)
if(CORVANE_ARCH STREQUAL "x86")
  # The 64 MiB round trip holds several copies of the text at once (the test's own, the
  # BSTRs, the byte arrays and the Base64 text, which is 2.7 times as large as UTF-16):
  # more than 2 GiB of address space. Large-address-aware, a 32-bit process gets 4 GiB
  # on 64-bit Windows, as a 32-bit IIS worker process does.
  target_link_options(wrapper_hardening_tests PRIVATE -Wl,--large-address-aware)
endif()
corvane_wine_test(wrapper_bad_input COMMAND wrapper_hardening_tests --gtest_filter=WrapperBadInput.*)
set_tests_properties(wrapper_bad_input PROPERTIES
  FIXTURES_REQUIRED "wine;tamsel_registered" RESOURCE_LOCK tamsel_registry)
corvane_wine_test(wrapper_threads COMMAND wrapper_hardening_tests --gtest_filter=WrapperThreads.*)
set_tests_properties(wrapper_threads PROPERTIES FIXTURES_REQUIRED "wine;tamsel_registered" RESOURCE_LOCK tamsel_registry)
corvane_wine_test(wrapper_long_run COMMAND wrapper_hardening_tests --gtest_filter=WrapperLongRun.*)
set_tests_properties(wrapper_long_run PROPERTIES FIXTURES_REQUIRED "wine;tamsel_registered" RESOURCE_LOCK tamsel_registry)

# Both DLLs as a long-running host meets them: every allocation of a call refused in turn,
# thousands of loads and unloads, no thread notifications.
add_executable(standalone_dll_tests hardening/standalone_dll_test.cpp)
target_compile_definitions(standalone_dll_tests PRIVATE
  "CORVANE_DLL_PATH=L\"Z:$<TARGET_FILE:Corvane>\""
  TAMSEL_WRAPPER_DLL="Z:$<TARGET_FILE:TamselWrapper>"
  TAMSEL_FIXTURES_DLL="Z:$<TARGET_FILE:TamselFixtures>")
target_link_libraries(standalone_dll_tests PRIVATE
  corvane_interface tamsel_interface project_options gtest_main psapi ole32 oleaut32 uuid)
add_dependencies(standalone_dll_tests Corvane TamselWrapper TamselFixtures)
# The out-of-memory runs watch COM's allocator through a spy, which changes how COM and
# oleaut32 keep their blocks: the loads and unloads are measured in a process of their own.
corvane_wine_test(standalone_dlls COMMAND standalone_dll_tests --gtest_filter=-*OutOfMemory*)
corvane_wine_test(out_of_memory COMMAND standalone_dll_tests --gtest_filter=*OutOfMemory*)
set_tests_properties(standalone_dlls out_of_memory PROPERTIES
  FIXTURES_REQUIRED "wine;corvane_registered;tamsel_registered" RESOURCE_LOCK tamsel_registry)
