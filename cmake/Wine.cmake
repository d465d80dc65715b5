# Every test runs under Wine, through a wrapper that gives it a private
# prefix of this build folder. Tests run two at a time in two sessions, each
# with a prefix and an X server of its own (created by the ctest fixtures
# "wine" and "wine2", stopped again at the end): one prefix and one screen
# must never serve two tests at once, since their windows, boxes, registry
# keys and drive Q: would meet.
find_program(WINE_EXECUTABLE wine REQUIRED)
find_program(XVFB_EXECUTABLE Xvfb REQUIRED)

set(BRACKENHUE_WINE_SESSION ${PROJECT_SOURCE_DIR}/tests/wine/session.sh)
set(BRACKENHUE_WINE_LOADER ${PROJECT_SOURCE_DIR}/tests/wine/loader.sh)
# A third prefix, wine-release, serves only the release builds' one run of a
# built launcher with -x: no window, no session, created on first use.
foreach(session wine wine2 wine-release)
  set(BRACKENHUE_WINE_DIR ${CMAKE_BINARY_DIR}/${session})
  configure_file(${PROJECT_SOURCE_DIR}/tests/wine/run.in ${BRACKENHUE_WINE_DIR}/run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                  WORLD_EXECUTE)
endforeach()
# The first session is the default one, and the cross-compiling emulator.
set(BRACKENHUE_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BRACKENHUE_WINE_DIR}/run)

# brackenhue_wine_test(NAME [SESSION wine|wine2] COMMAND...): a test that
# needs Wine, in the given session (default: wine). A Windows program given
# as $<TARGET_FILE:...> must come after the session's run wrapper for the
# second one; the first adds its own as the emulator of the test's target.
# The tests of one session take turns (a resource lock of that name).
function(brackenhue_wine_test name)
  set(session wine)
  set(command ${ARGN})
  list(GET command 0 first)
  if(first STREQUAL "SESSION")
    list(GET command 1 session)
    list(REMOVE_AT command 0 1)
  endif()
  add_test(NAME ${name} COMMAND ${command})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${session} RESOURCE_LOCK ${session})
endfunction()
