# Settings of the two Windows builds: widl, Wine for running the x64 tests.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CORVANE_WIDL x86_64-w64-mingw32-widl)
  set(CORVANE_WIDL_TARGET --win64)
  set(CORVANE_ARCH x64)
else()
  set(CORVANE_WIDL i686-w64-mingw32-widl)
  set(CORVANE_WIDL_TARGET --win32)
  set(CORVANE_ARCH x86)
endif()
# stdole2.tlb, which the type libraries import, lives with Wine's 64-bit DLLs (the
# 32-bit folder exists only with wine32, which these machines cannot run).
set(CORVANE_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)

# Only the x64 build runs here, through 64-bit Wine in a prefix inside the build tree.
set(CORVANE_RUNS_TESTS OFF)
if(CORVANE_ARCH STREQUAL "x64")
  set(CORVANE_RUNS_TESTS ON)
  set(CORVANE_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${CORVANE_WINE_DIR})
  # Started by `wine-prefix.sh setup`: keeps the prefix's desktop open for the whole run.
  add_executable(wine_desktop_keeper WIN32 ${PROJECT_SOURCE_DIR}/cmake/wine_desktop_keeper.cpp)
  target_link_libraries(wine_desktop_keeper PRIVATE project_options)
  set_target_properties(wine_desktop_keeper PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()

# Windows path of a file or folder of this machine, as Wine sees it (drive Z: is /).
function(corvane_windows_path out path)
  set(${out} "Z:${path}" PARENT_SCOPE)
endfunction()

# Compiles an .idl with widl into a C++ header, GUID definitions and a type library:
#   corvane_widl(NAME idl-file)  -> static library NAME_interface (header and GUIDs),
#                                   variable NAME_TLB (the .tlb path) in the caller's scope
function(corvane_widl name idl)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(flags ${CORVANE_WIDL_TARGET} -I ${PROJECT_SOURCE_DIR}/common -L ${CORVANE_STDOLE_DIR})
  add_custom_command(
    OUTPUT ${out}/${name}.h ${out}/${name}_i.c ${out}/${name}.tlb
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${CORVANE_WIDL} ${flags} -h -o ${out}/${name}.h ${idl}
    COMMAND ${CORVANE_WIDL} ${flags} -u -o ${out}/${name}_i.c ${idl}
    COMMAND ${CORVANE_WIDL} ${flags} -t -o ${out}/${name}.tlb ${idl}
    DEPENDS ${idl} ${PROJECT_SOURCE_DIR}/common/automation_base.idl
    VERBATIM)
  add_library(${name}_interface STATIC ${out}/${name}_i.c)
  target_include_directories(${name}_interface PUBLIC ${out} ${PROJECT_SOURCE_DIR}/common)
  target_link_libraries(${name}_interface PUBLIC ole32 oleaut32 uuid)
  set(${name}_TLB ${out}/${name}.tlb PARENT_SCOPE)
endfunction()
