# Every test runs under Wine, through a wrapper that gives it this build
# folder's private prefix. The ctest fixture "wine" creates the prefix and
# starts Xvfb when there is no display, and stops them at the end.
find_program(WINE_EXECUTABLE wine REQUIRED)
find_program(XVFB_EXECUTABLE Xvfb REQUIRED)

set(BRACKENHUE_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(BRACKENHUE_WINE_SESSION ${PROJECT_SOURCE_DIR}/tests/wine/session.sh)
set(BRACKENHUE_WINE_LOADER ${PROJECT_SOURCE_DIR}/tests/wine/loader.sh)
configure_file(${PROJECT_SOURCE_DIR}/tests/wine/run.in ${BRACKENHUE_WINE_DIR}/run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BRACKENHUE_WINE_DIR}/run)

# Registers a test that needs Wine.
function(brackenhue_wine_test name)
  add_test(NAME ${name} COMMAND ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
endfunction()
