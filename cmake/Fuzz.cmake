# libFuzzer targets over the pure core, built with clang (preset "fuzz").
# ctest runs each briefly from its committed seed corpus (tests/fuzz/corpus);
# scripts/fuzz runs them for as long as asked.
include(${PROJECT_SOURCE_DIR}/cmake/CoreSources.cmake)
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
add_compile_options(-g -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
add_link_options(-fsanitize=address,undefined)

list(TRANSFORM BRACKENHUE_CORE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/)
add_library(brackenhue_core STATIC ${BRACKENHUE_CORE_SOURCES})
target_include_directories(brackenhue_core PUBLIC ${PROJECT_SOURCE_DIR})

set(BRACKENHUE_FUZZ_SECONDS 4 CACHE STRING "How long ctest runs each fuzz target")
enable_testing()
foreach(target CommandLine Version Where Registry Interpreter)
  string(TOLOWER ${target} name)
  add_executable(fuzz_${name} ${PROJECT_SOURCE_DIR}/tests/fuzz/fuzz_targets.cpp)
  target_compile_definitions(fuzz_${name} PRIVATE FUZZ_TARGET=fuzz${target})
  target_link_libraries(fuzz_${name} PRIVATE brackenhue_core)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  # New inputs go to a scratch folder; the committed seeds are only read.
  set(scratch ${CMAKE_BINARY_DIR}/corpus/${name})
  add_test(NAME fuzz.${name}
           COMMAND ${CMAKE_COMMAND} -E make_directory ${scratch})
  add_test(NAME fuzz.${name}.run
           COMMAND fuzz_${name} ${scratch} ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name}
                   -max_total_time=${BRACKENHUE_FUZZ_SECONDS} -print_final_stats=1)
  set_tests_properties(fuzz.${name} PROPERTIES FIXTURES_SETUP corpus_${name})
  set_tests_properties(fuzz.${name}.run PROPERTIES FIXTURES_REQUIRED corpus_${name})
endforeach()
