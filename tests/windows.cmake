# SPDX-License-Identifier: BSD-3-Clause
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

set(KV_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
# Every case in a process of its own, as on Linux, within the program's one Wine start; and the
# second processes of the tests.
set(KV_TEST_SELF ${CMAKE_CURRENT_SOURCE_DIR}/common/self_win32.cpp)
set(KV_TEST_MAIN ${CMAKE_CURRENT_SOURCE_DIR}/common/main_win32.cpp ${KV_TEST_SELF})

# The private Wine prefix: set up before the first program, its wineserver stopped after the last.
add_test(NAME wine_prefix_setup COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh setup)
add_test(NAME wine_prefix_stop COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix.sh stop)
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP kv_wine ENVIRONMENT
                                                  "WINEPREFIX=${KV_WINE_PREFIX}" TIMEOUT 300)
set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP kv_wine ENVIRONMENT
                                                 "WINEPREFIX=${KV_WINE_PREFIX}")

# The test sources of the Windows build. A test's second process is the test program started
# again (child_process.h), on both systems. Left out, as Linux-only:
# - the *_posix_test.cpp beside a portable test: what the POSIX objects are made of (/dev/shm,
#   file modes, links, owners), the file-size limit standing in for a full disk, forked copies,
#   the POSIX error numbers;
# - platform/posix_test.cpp and platform/library_path_test.cpp: the POSIX platform layer itself
#   (platform/win32/platform_test.cpp tests the Windows one);
# - inisync/flow_posix_test.cpp: whole runs need the Windows directory to be the test's own
#   folder, which only WINDIR gives (on POSIX); under Wine it is the prefix's own C:\windows,
#   where the end-to-end run of inisync.exe goes through the same flow;
# - ctapi/processes_test.cpp and ctapi/stress_test.cpp: forked children taking turns through
#   pipes, kill -9 stress, account changes, POSIX error texts (ctapi/win32/processes_test.cpp:
#   a port held by another process, taken back once that process ended);
# - pcsc/: the pcsc-lite backend.
set(KV_WIN32_TEST_SOURCES
    config/ascii_test.cpp
    config/binary_test.cpp
    config/frontend_test.cpp
    config/messages_test.cpp
    config/profile_test.cpp
    ctapi/dispatcher_test.cpp
    ctapi/display_test.cpp
    ctapi/get_status_test.cpp
    ctapi/pin_test.cpp
    ctapi/port_map_test.cpp
    ctapi/power_test.cpp
    ctapi/readers_test.cpp
    ctapi/result_test.cpp
    ctapi/shared_segment_test.cpp
    ctapi/terminal_test.cpp
    ctapi/transport_test.cpp
    ctapi/win32/processes_test.cpp
    ctapi/win32/system_settings.cpp
    inisync/flow_test.cpp
    inisync/readers_test.cpp
    inisync/win32/ini_path_test.cpp
    memcard/codes_test.cpp
    memcard/detect_test.cpp
    memcard/files_test.cpp
    memcard/insurance_test.cpp
    memcard/pin_test.cpp
    memlink/memlink_test.cpp
    pinlink/pinlink_test.cpp
    platform/sync_test.cpp
    platform/win32/platform_test.cpp
    sim/card_test.cpp
    sim/driver_test.cpp
    sim/memory_card_test.cpp
    sim/pcsc_test.cpp
    sim/pinpad_test.cpp
    sim/sim_test.cpp
    support/errlog_test.cpp
    support/fileio_test.cpp
    support/memory_test.cpp
    support/semaphore_test.cpp
    support/strings_test.cpp
    tools/machine_test.cpp
    tools/transcript_test.cpp
    win32/deliverables_test.cpp)

# Cases of the registered sources left out on Windows, per program, each with its reason:
# - what the POSIX build reads from stand-ins (the system version from CTKORVIN_OSVERSION, the
#   registry switch SinglePort from a file under CTKORVIN_REGISTRY): under Wine the real version
#   query and registry answer; wine_os_class checks them there with Wine's own settings;
# - read-only files: a read-only file is one without write permission in Wine, which the tests'
#   root account (CI) writes anyway; the file layer's own tests of share modes and attributes
#   run here (platform/win32);
# - the POSIX error texts of the system error codes (Windows' own: platform/win32).
set(KV_WIN32_SKIP_ctapi_tests
    TerminalTest.OperatingSystemVersions TerminalTest.OsClasses
    TerminalTest.SinglePortLimitsTheSearchToPortOne CtapiTest.SinglePortSwitch)
set(KV_WIN32_SKIP_support_tests FileIoTest.ReadOnlyFilesRefuseWriting
                                MemoryTest.SystemErrorText)
set(KV_WIN32_SKIP_config_tests FrontendTest.ProfileModeWriteFailureIsLoggedWithTheSystemsText)

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
  add_executable(${name} ${sources} ${KV_TEST_ISOLATION} ${KV_TEST_MAIN})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest)
  set(skip)
  if(DEFINED KV_WIN32_SKIP_${name})
    list(JOIN KV_WIN32_SKIP_${name} ":" cases)
    set(skip "--kv-skip=${cases}")
  endif()
  add_test(NAME ${name} COMMAND ${name} ${skip})
  set_tests_properties(
    ${name}
    PROPERTIES FIXTURES_REQUIRED kv_wine
               ENVIRONMENT "WINEPREFIX=${KV_WINE_PREFIX}"
               PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [1-9][0-9]* test"
               FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\];wine: ;wine-run: ")
endfunction()

# The deliverables under Wine, as an application loads them.
if(TARGET ctkorvin AND TARGET inisync)
  kv_add_test_program(deliverables_tests win32)
  add_dependencies(deliverables_tests ctkorvin memlink pinlink inisync)
endif()

# The system version Wine reports and the registry switch SinglePort, as the library sees them.
# It changes the prefix's registry (and restores it), so it runs alone.
if(TARGET kv_ctapi AND TARGET kv_sim)  # ctapi_tests
  add_test(NAME wine_settings COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-settings.sh
                                      $<TARGET_FILE:ctapi_tests>)
  set_tests_properties(
    wine_settings
    PROPERTIES FIXTURES_REQUIRED kv_wine
               RUN_SERIAL TRUE
               ENVIRONMENT "WINEPREFIX=${KV_WINE_PREFIX}"
               PASS_REGULAR_EXPRESSION "wine-settings: all passed"
               FAIL_REGULAR_EXPRESSION "FAILED")
endif()

# The export and import tables of the deliverables.
if(TARGET ctkorvin AND TARGET memlink AND TARGET pinlink AND TARGET inisync)
  add_test(NAME windows_binaries
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-windows-binaries.sh ${CMAKE_OBJDUMP}
                   $<TARGET_FILE:ctkorvin> $<TARGET_FILE:memlink> $<TARGET_FILE:pinlink>
                   $<TARGET_FILE:inisync>)
endif()

# ---- End to end: the deliverables over the simulator's winscard.dll -------------------------
# build/win32/e2e holds copies of CTKORVIN.dll, memlink.dll, pinlink.dll and inisync.exe beside
# the simulator's winscard.dll (sim/winscard) and ctapi-client.exe, an application that loads
# the library by name and its calls by ordinal (win32/e2e). Wine takes that winscard.dll for its
# own with WINEDLLOVERRIDES=winscard=n; the readers and cards are those of data/world.txt.
# These runs and deliverables_tests use the prefix's one terminal table ("m_KV-CTAPI") and its
# Windows directory, so they take turns (RESOURCE_LOCK).

# The world file's reader, which the simulator's winscard.dll uses, in sim_tests.
list(APPEND KV_WIN32_TEST_SOURCES sim/world_test.cpp)

if(TARGET ctkorvin AND TARGET inisync AND TARGET kv_sim_winscard)
  add_executable(ctapi-client win32/e2e/ctapi_client.cpp ${KV_TEST_SELF})
  target_link_libraries(ctapi-client PRIVATE kv_cli_transcript)
  set_target_properties(ctapi-client PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KV_E2E_DIR})
  add_custom_target(
    kv_e2e_folder ALL
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:ctkorvin> $<TARGET_FILE:memlink>
            $<TARGET_FILE:pinlink> $<TARGET_FILE:inisync> ${KV_E2E_DIR}
    COMMENT "The deliverables beside the simulator's winscard.dll in ${KV_E2E_DIR}")
  add_dependencies(kv_e2e_folder ctkorvin memlink pinlink inisync kv_sim_winscard ctapi-client)

  # Wine reaches the host's files through drive Z:.
  set(KV_E2E_WORLD "Z:${CMAKE_CURRENT_SOURCE_DIR}/data/world.txt")
  set(KV_E2E_ENVIRONMENT "WINEPREFIX=${KV_WINE_PREFIX}" "WINEDLLOVERRIDES=winscard=n"
                         "KV_SIM_WORLD=${KV_E2E_WORLD}")
  add_test(NAME wine_e2e_session COMMAND ctapi-client session)
  add_test(NAME wine_e2e_shared_table COMMAND ctapi-client shared-table)
  add_test(NAME wine_e2e_inisync
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/win32/e2e/inisync-e2e.sh ${KV_E2E_DIR}
                   ${CMAKE_CURRENT_SOURCE_DIR}/data/vezidide.ini)
  # The last line of each run says whether it passed.
  foreach(run "session;ctapi-client: session passed"
          "shared_table;ctapi-client: shared table passed" "inisync;inisync-e2e: passed")
    list(GET run 0 name)
    list(GET run 1 passed)
    set_tests_properties(
      wine_e2e_${name}
      PROPERTIES FIXTURES_REQUIRED kv_wine
                 RESOURCE_LOCK kv_wine_machine
                 ENVIRONMENT "${KV_E2E_ENVIRONMENT}"
                 PASS_REGULAR_EXPRESSION "${passed}"
                 FAIL_REGULAR_EXPRESSION "FAILED;wine: ;wine-run: ;winscard \\(simulator\\)")
  endforeach()
  set_property(TEST deliverables_tests APPEND PROPERTY RESOURCE_LOCK kv_wine_machine)
endif()
