# Corvane.dll as a COM server: loaded by path, registered with regsvr32, driven
# through its vtable, IDispatch, and the script hosts.
add_executable(server_tests
  server/module_test.cpp
  server/dispatch_test.cpp
  server/registration_test.cpp
  server/type_library_reload_test.cpp
  server/resources_test.cpp)
target_compile_definitions(server_tests PRIVATE "CORVANE_DLL_PATH=L\"Z:$<TARGET_FILE:Corvane>\"")
target_link_libraries(server_tests PRIVATE corvane_interface project_options gtest_main version)
add_dependencies(server_tests Corvane)

# Exports, resources, imports, hardening and version block of the DLL, on both
# architectures.
set(corvane_rgs ${PROJECT_SOURCE_DIR}/server/corvane.rgs)
corvane_read_only_idl_guids(corvane_guids ${PROJECT_SOURCE_DIR}/server/corvane.idl)
add_test(NAME static_corvane_dll
  COMMAND python3 ${static_checks} $<TARGET_FILE:Corvane> --machine ${pe_machine} --system-imports-only
    --undecorated-imports --no-tls --no-initializers --heap-allocation-only
    --exports DllCanUnloadNow,DllGetClassObject,DllRegisterServer,DllUnregisterServer
    --resource-bytes REGISTRY/101/0x411=${corvane_rgs}
    --resource TYPELIB/1/0x411 --resource STRING/7/0x411 --resource VERSION/1/0x411
    ${pe_shipped_checks} ${pe_blowfish_tables} ${corvane_guids}
    --fixed-version 1.0.1.6 "--version-string=FileVersion=1, 0, 1, 6" "--version-string=FileDescription=Corvane Module"
    --version-string=OriginalFilename=Corvane.DLL)
corvane_check_imports(server_tests)

if(NOT CORVANE_RUNS_TESTS)
  return()
endif()

corvane_wine_test(corvane_registration COMMAND server_tests --gtest_filter=Registration.*)
set_tests_properties(corvane_registration PROPERTIES FIXTURES_SETUP corvane_registered)
corvane_wine_test(corvane_server REQUIRES corvane_registered
  COMMAND server_tests --gtest_filter=CorvaneServer.*:CryptDispatch.*)
corvane_wine_test(corvane_type_library_reload REQUIRES corvane_registered
  COMMAND server_tests --gtest_filter=TypeLibraryReload.*)
corvane_wine_test(corvane_resources_cp932 CODEPAGE 932 COMMAND server_tests --gtest_filter=ResourcesCp932.*)

foreach(script corvane_crypt.vbs corvane_crypt.js)
  corvane_script_test(${CMAKE_CURRENT_LIST_DIR}/../scripts/${script} REQUIRES corvane_registered)
endforeach()
