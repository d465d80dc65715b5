# The pure core built for this machine with AddressSanitizer and
# UndefinedBehaviorSanitizer, running the unit tests natively, without Wine
# (preset "host"). That it builds at all shows no core file needs windows.h.
include(${PROJECT_SOURCE_DIR}/cmake/CoreSources.cmake)
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
add_compile_options(-Wall -Wextra -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all)
add_link_options(-fsanitize=address,undefined)

set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

list(TRANSFORM BRACKENHUE_CORE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
list(TRANSFORM BRACKENHUE_UNIT_TEST_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
add_library(brackenhue_core STATIC ${BRACKENHUE_CORE_SOURCES})
target_include_directories(brackenhue_core PUBLIC ${PROJECT_SOURCE_DIR})
add_executable(unit_tests ${BRACKENHUE_UNIT_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE brackenhue_core GTest::gtest_main)

enable_testing()
add_test(NAME unit.sanitized COMMAND unit_tests)
