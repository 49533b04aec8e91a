# The Windows build: agesweep.exe and its tests. Included by the top-level
# CMakeLists.txt when building for Windows (natively with MSVC, or across
# from Linux with cmake/mingw-w64-x86_64.cmake).
enable_language(RC)

set(AGESWEEP_WIN32_DIR ${CMAKE_CURRENT_LIST_DIR})
# Unicode throughout, and the Windows 7 API (FindExInfoBasic, large fetch,
# the named-locale functions).
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                        _WIN32_WINNT=0x0601 WINVER=0x0601)
if(MINGW)
  # Everything linked in, so the program runs without the compiler's DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

add_library(agesweep_win32 STATIC
  ${CMAKE_SOURCE_DIR}/platform/chunked_listing.cc
  ${CMAKE_SOURCE_DIR}/platform/read_ahead.cc
  ${AGESWEEP_WIN32_DIR}/main_window.cc
  ${AGESWEEP_WIN32_DIR}/text.cc
  ${AGESWEEP_WIN32_DIR}/win32_listing.cc
  ${AGESWEEP_WIN32_DIR}/win32_log_file.cc
  ${AGESWEEP_WIN32_DIR}/win32_platform.cc
  ${AGESWEEP_WIN32_DIR}/win32_pool_thread.cc
)
# ntdll: NtCreateFile, to open entries relative to their folder's handle.
target_link_libraries(agesweep_win32 agesweep_core ntdll)

# The entry point is in app/ with the POSIX one, as it uses the run above
# this layer; the resources it is built with stay here.
add_executable(agesweep WIN32
  ${CMAKE_SOURCE_DIR}/app/main_win32.cc
  ${AGESWEEP_WIN32_DIR}/agesweep.rc
)
set_source_files_properties(${AGESWEEP_WIN32_DIR}/agesweep.rc PROPERTIES
  OBJECT_DEPENDS "${AGESWEEP_WIN32_DIR}/agesweep.ico;${AGESWEEP_WIN32_DIR}/agesweep.manifest")
target_include_directories(agesweep PRIVATE ${AGESWEEP_WIN32_DIR})
target_link_libraries(agesweep agesweep_win32 agesweep_core)
if(MINGW)
  target_link_options(agesweep PRIVATE -municode)
elseif(MSVC)
  # agesweep.rc embeds the manifest itself.
  target_link_options(agesweep PRIVATE /MANIFEST:NO)
endif()

if(AGESWEEP_TESTS)
  # No installed GoogleTest for this compiler (the top-level lookup found
  # none, as a cross build has no prebuilt Windows library): build its source
  # here, after the Windows settings above, so that it gets them too.
  if(AGESWEEP_GTEST_FROM_SOURCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${AGESWEEP_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest
                     EXCLUDE_FROM_ALL)
    # GoogleTest is not held to this project's warning level.
    foreach(target gtest gtest_main)
      if(MSVC)
        target_compile_options(${target} PRIVATE /WX-)
      else()
        target_compile_options(${target} PRIVATE -Wno-error)
      endif()
    endforeach()
    # The names an installed GoogleTest gives its targets (newer GoogleTest
    # sources define them themselves).
    foreach(target gtest gtest_main)
      if(NOT TARGET GTest::${target})
        add_library(GTest::${target} ALIAS ${target})
      endif()
    endforeach()
  endif()

  # Windows-only unit tests: the platform layer, the native window, and the
  # run's totals beside the system's own formatting (kept with the run, as
  # this layer does not include the run).
  add_executable(agesweep_win32_tests
    ${AGESWEEP_WIN32_DIR}/tests/win32_platform_test.cc
    ${AGESWEEP_WIN32_DIR}/tests/main_window_test.cc
    ${CMAKE_SOURCE_DIR}/platform/read_ahead_test.cc
    ${CMAKE_SOURCE_DIR}/sweep/sweep_pipeline_test.cc
    ${CMAKE_SOURCE_DIR}/run/totals_win32_test.cc
  )
  target_link_libraries(agesweep_win32_tests agesweep_win32 agesweep_fake agesweep_core
                        GTest::gtest GTest::gtest_main shlwapi)

  # The window as a user meets it, driving agesweep.exe from outside.
  add_executable(agesweep_ui_tests ${AGESWEEP_WIN32_DIR}/tests/ui_test.cc)
  target_link_libraries(agesweep_ui_tests agesweep_core GTest::gtest GTest::gtest_main
                        version)
  add_dependencies(agesweep_ui_tests agesweep)

  # Starts a program with an exact command line and environment, for the
  # end-to-end tests that need more than Wine's own argument quoting.
  add_executable(spawn_exact ${AGESWEEP_WIN32_DIR}/tests/spawn_exact.cc)
  if(MINGW)
    target_link_options(spawn_exact PRIVATE -municode)
  endif()

  add_test(NAME agesweep_win32_tests COMMAND agesweep_win32_tests)
  add_test(NAME agesweep_ui_tests COMMAND agesweep_ui_tests)
endif()
