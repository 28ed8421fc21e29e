# Test wiring for both builds.
#
# Host build: GoogleTest from the system package.
# Windows build: GoogleTest compiled from /usr/src/googletest, and every test
# executable run under Wine through cmake/wine-run in a prefix private to the
# build tree (${CMAKE_BINARY_DIR}/wineprefix). The prefix is booted before
# test discovery (see below); the ctest fixture "wine" restarts its server on
# this run's display before the first Windows test and stops it after the
# last one.
include(CTest)
include(GoogleTest)

set(TW_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest sources, compiled into the Windows build")
if(WIN32 AND NOT EXISTS ${TW_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(WARNING "No GoogleTest sources at ${TW_GOOGLETEST_SOURCE}: tests are not built")
  set(BUILD_TESTING OFF)
endif()

if(WIN32 AND BUILD_TESTING)
  if(CMAKE_CROSSCOMPILING)
    set(TW_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    set(TW_WINE_RUN ${PROJECT_SOURCE_DIR}/cmake/wine-run)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TW_WINE_RUN} ${TW_WINEPREFIX})
  endif()
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${TW_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

  if(CMAKE_CROSSCOMPILING)
    # The fixture: a fresh server booted on this run's display (a server
    # left from another session keeps the desktop of the display it was
    # started on), with its output detached from ctest's pipes; stopped
    # after the last test.
    add_test(NAME wine_boot COMMAND sh -c
      "'${TW_WINE_RUN}' '${TW_WINEPREFIX}' --stop && '${TW_WINE_RUN}' '${TW_WINEPREFIX}' cmd /c exit 0 </dev/null >/dev/null 2>&1")
    set_tests_properties(wine_boot PROPERTIES FIXTURES_SETUP wine)
    add_test(NAME wine_stop COMMAND ${TW_WINE_RUN} ${TW_WINEPREFIX} --stop)
    set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)

    # Test discovery (PRE_TEST) runs every test executable under Wine when
    # ctest reads the test files, before any fixture. ctest reads this
    # directory's include files before the subdirectories' discovery, so the
    # prefix is booted here first, through the same locked boot as a test,
    # with a time-out of its own: a fresh prefix takes seconds to minutes on
    # a busy machine, which must not count against a discovery time-out.
    set(_boot_script ${CMAKE_BINARY_DIR}/wine_boot_before_discovery.cmake)
    file(WRITE ${_boot_script}
      "execute_process(COMMAND [==[${TW_WINE_RUN}]==] [==[${TW_WINEPREFIX}]==] --boot\n"
      "  INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null\n"
      "  TIMEOUT 600 RESULT_VARIABLE _tw_boot_result)\n"
      "if(NOT _tw_boot_result EQUAL 0)\n"
      "  message(WARNING \"Booting the Wine prefix ${TW_WINEPREFIX} failed: \${_tw_boot_result}\")\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_boot_script})
  endif()
elseif(NOT WIN32)
  find_package(GTest REQUIRED)
endif()

# tw_add_test(<name> SOURCES ... [LIBS ...] [TIMEOUT s] [PROPERTIES <prop> <value> ...])
# One GoogleTest executable; its tests are discovered when ctest runs, so that
# nothing runs under Wine at build time. PROPERTIES are extra ctest properties
# for every discovered test (for example RESOURCE_LOCK).
function(tw_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  tw_project_target(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  set(props TIMEOUT ${ARG_TIMEOUT} ${ARG_PROPERTIES})
  if(WIN32 AND CMAKE_CROSSCOMPILING)
    list(APPEND props FIXTURES_REQUIRED wine)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    PROPERTIES ${props})
endfunction()

# tw_copy_dev_engine(<test>): on Windows, places the development engine's
# flutter_windows.dll beside a test executable, which loads it from its own
# folder. Nothing on the host build, where the engine core links statically.
function(tw_copy_dev_engine target)
  if(WIN32)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different
              $<TARGET_FILE:flutter_windows> $<TARGET_FILE_DIR:${target}>)
  endif()
endfunction()
