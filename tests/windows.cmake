# The Windows test programs, cross-built and run under Wine. Each program is one CTest case (one
# Wine start per program); its verdict comes from the output: GoogleTest's summary, no failed
# test, no message of Wine's loader, and no exit code other than 0 (scripts/wine-run.sh reports
# it), never from the exit code alone, since a Wine that cannot run 32-bit programs properly
# still exits 0.
#
# GoogleTest is built from its sources (Debian: googletest), as no Windows build of it is
# installed.
set(KV_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KV_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its own warnings are not ours to stop the build with.
foreach(gtest_target gtest gtest_main)
  target_compile_options(${gtest_target} PRIVATE -Wno-error)
endforeach()

set(KV_TEST_OBJECT_PREFIX ${CMAKE_CURRENT_SOURCE_DIR}/common/object_prefix_win32.cpp)
set(KV_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)

# The private Wine prefix: set up before the first program, its wineserver stopped after the last.
add_test(NAME wine_prefix_setup COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh setup)
add_test(NAME wine_prefix_stop COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh stop)
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP kv_wine ENVIRONMENT
                                                  "WINEPREFIX=${KV_WINE_PREFIX}" TIMEOUT 300)
set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP kv_wine ENVIRONMENT
                                                 "WINEPREFIX=${KV_WINE_PREFIX}")

# The test sources that build for Windows as they are; the others still lean on POSIX helpers
# (fork, mkdtemp, setenv, mmap) in their fixtures.
set(KV_WIN32_TEST_SOURCES
    config/messages_test.cpp
    ctapi/result_test.cpp
    inisync/readers_test.cpp
    memlink/memlink_test.cpp
    pinlink/pinlink_test.cpp
    platform/win32/platform_test.cpp
    sim/card_test.cpp
    sim/driver_test.cpp
    sim/memory_card_test.cpp
    sim/pcsc_test.cpp
    sim/pinpad_test.cpp
    sim/sim_test.cpp
    support/strings_test.cpp
    tools/transcript_test.cpp
    win32/deliverables_test.cpp)

# kv_add_test_program(<name> <folder> <libraries>...)
function(kv_add_test_program name folder)
  set(sources)
  foreach(source ${KV_WIN32_TEST_SOURCES})
    if(source MATCHES "^${folder}/")
      list(APPEND sources ${CMAKE_CURRENT_SOURCE_DIR}/${source})
    endif()
  endforeach()
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources} ${KV_TEST_OBJECT_PREFIX})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(
    ${name}
    PROPERTIES FIXTURES_REQUIRED kv_wine
               ENVIRONMENT "WINEPREFIX=${KV_WINE_PREFIX}"
               PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ test"
               FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\];wine: ;wine-run: ")
endfunction()

# The deliverables under Wine, as an application loads them.
if(TARGET ctkorvin AND TARGET inisync)
  kv_add_test_program(deliverables_tests win32)
  add_dependencies(deliverables_tests ctkorvin memlink pinlink inisync)
endif()

# The export and import tables of the deliverables.
if(TARGET ctkorvin AND TARGET memlink AND TARGET pinlink AND TARGET inisync)
  add_test(NAME windows_binaries
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-windows-binaries.sh ${CMAKE_OBJDUMP}
                   $<TARGET_FILE:ctkorvin> $<TARGET_FILE:memlink> $<TARGET_FILE:pinlink>
                   $<TARGET_FILE:inisync>)
endif()
