# The demo payloads, built from source so the demo and the tests are real:
#   BRACKENHUE_DEMO_INSTALLER  a small installer jar, written in Java
#   BRACKENHUE_DEMO_RUNTIME    a 32-bit self-extracting console program that
#                              unpacks "jre" with stand-ins for java.exe and
#                              javaw.exe (no Windows Java exists here)

find_program(JAVAC_EXECUTABLE javac REQUIRED)
find_program(JAR_EXECUTABLE jar REQUIRED)
find_program(I686_CXX i686-w64-mingw32-g++-posix REQUIRED)
find_program(I686_WINDRES i686-w64-mingw32-windres REQUIRED)

set(demo_dir ${CMAKE_CURRENT_BINARY_DIR}/demo)
set(BRACKENHUE_DEMO_INSTALLER ${demo_dir}/brackenhue-demo.jar)
set(BRACKENHUE_DEMO_RUNTIME ${demo_dir}/demo-runtime.exe)

file(GLOB_RECURSE demo_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/demo/installer/*.java)
add_custom_command(
  OUTPUT ${BRACKENHUE_DEMO_INSTALLER}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${demo_dir}/classes
  COMMAND ${JAVAC_EXECUTABLE} --release 8 -nowarn -d ${demo_dir}/classes ${demo_sources}
  COMMAND ${CMAKE_COMMAND} -DJAR=${JAR_EXECUTABLE} -DCLASSES=${demo_dir}/classes -DOUTPUT=${BRACKENHUE_DEMO_INSTALLER}
          -DMAIN_CLASS=com.brackenhue.demo.Installer -P ${CMAKE_CURRENT_SOURCE_DIR}/demo/make_jar.cmake
  DEPENDS ${demo_sources} ${CMAKE_CURRENT_SOURCE_DIR}/demo/make_jar.cmake
  COMMENT "Building the demo installer jar")

# The stand-ins are ordinary 64-bit programs of this build.
set(standin ${CMAKE_CURRENT_SOURCE_DIR}/demo/runtime/standin_java.cpp)
add_executable(demo_java ${standin})
add_executable(demo_javaw WIN32 ${standin})
foreach(target demo_java demo_javaw)
  target_link_libraries(${target} PRIVATE shell32)
  target_link_options(${target} PRIVATE -s)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${demo_dir}/jre-bin)
endforeach()
set_target_properties(demo_java PROPERTIES OUTPUT_NAME java)
set_target_properties(demo_javaw PROPERTIES OUTPUT_NAME javaw)

# The extractor is a 32-bit program, like real runtime archives, so it is
# built with the i686 toolchain directly.
set(java $<TARGET_FILE:demo_java>)
set(javaw $<TARGET_FILE:demo_javaw>)
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/demo/runtime/extractor.rc.in extractor_rc)
string(CONFIGURE "${extractor_rc}" extractor_rc @ONLY)
file(GENERATE OUTPUT ${demo_dir}/extractor.rc CONTENT "${extractor_rc}")
add_custom_command(
  OUTPUT ${BRACKENHUE_DEMO_RUNTIME}
  COMMAND ${I686_WINDRES} -O coff ${demo_dir}/extractor.rc -o ${demo_dir}/extractor.res.o
  COMMAND ${I686_CXX} -O2 -s -static -Wl,--no-insert-timestamp -o ${BRACKENHUE_DEMO_RUNTIME}
          ${CMAKE_CURRENT_SOURCE_DIR}/demo/runtime/extractor.cpp ${demo_dir}/extractor.res.o
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/demo/runtime/extractor.cpp ${demo_dir}/extractor.rc demo_java demo_javaw
          ${java} ${javaw}
  COMMENT "Building the demo runtime archive")

# The same extractor as a 64-bit program, for machines whose kernel runs no
# 32-bit programs (scripts/demo then builds brackenhue-setup-demo64 around it).
set(BRACKENHUE_DEMO_RUNTIME_X64 ${demo_dir}/demo-runtime-x64.exe)
add_executable(demo_runtime_x64 EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/demo/runtime/extractor.cpp
               ${demo_dir}/extractor.rc)
set_target_properties(demo_runtime_x64 PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${demo_dir} OUTPUT_NAME demo-runtime-x64)
target_link_options(demo_runtime_x64 PRIVATE -s)
add_dependencies(demo_runtime_x64 demo_java demo_javaw)
set_source_files_properties(${demo_dir}/extractor.rc PROPERTIES OBJECT_DEPENDS "${demo_dir}/jre-bin/java.exe;${demo_dir}/jre-bin/javaw.exe")
