# The demo payloads, built from source so the demo and the tests are real:
#   BRACKENHUE_DEMO_INSTALLER       a small installer jar, written in Java;
#                                   built (and the JDK needed) only when the
#                                   installer is not given or tests are built
#   BRACKENHUE_DEMO_RUNTIME_FOLDER  a Java runtime folder whose bin\java.exe
#                                   and bin\javaw.exe are stand-ins (no Windows
#                                   Java exists here), made into the runtime
#                                   archive like any runtime folder

set(demo_dir ${CMAKE_CURRENT_BINARY_DIR}/demo)
set(BRACKENHUE_DEMO_INSTALLER ${demo_dir}/brackenhue-demo.jar)

if("${BRACKENHUE_INSTALLER_ARCHIVE}" STREQUAL "" OR BUILD_TESTING)
  find_program(JAVAC_EXECUTABLE javac REQUIRED)
  find_program(JAR_EXECUTABLE jar REQUIRED)
  file(GLOB_RECURSE demo_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/demo/installer/*.java)
  add_custom_command(
    OUTPUT ${BRACKENHUE_DEMO_INSTALLER}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${demo_dir}/classes
    COMMAND ${JAVAC_EXECUTABLE} --release 8 -nowarn -d ${demo_dir}/classes ${demo_sources}
    COMMAND ${CMAKE_COMMAND} -DJAR=${JAR_EXECUTABLE} -DCLASSES=${demo_dir}/classes -DOUTPUT=${BRACKENHUE_DEMO_INSTALLER}
            -DMAIN_CLASS=com.brackenhue.demo.Installer -P ${CMAKE_CURRENT_SOURCE_DIR}/demo/make_jar.cmake
    DEPENDS ${demo_sources} ${CMAKE_CURRENT_SOURCE_DIR}/demo/make_jar.cmake
    COMMENT "Building the demo installer jar" VERBATIM)
endif()

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

# The demo runtime folder: the stand-ins in bin, and a release file as a
# vendor's runtime has one.
file(CONFIGURE OUTPUT ${demo_dir}/release CONTENT "JAVA_VERSION=\"1.8.0_281\"\n")
set(BRACKENHUE_DEMO_RUNTIME_FOLDER ${demo_dir}/runtime)
set(BRACKENHUE_DEMO_RUNTIME_FILES ${BRACKENHUE_DEMO_RUNTIME_FOLDER}/bin/java.exe
    ${BRACKENHUE_DEMO_RUNTIME_FOLDER}/bin/javaw.exe ${BRACKENHUE_DEMO_RUNTIME_FOLDER}/release)
add_custom_command(
  OUTPUT ${BRACKENHUE_DEMO_RUNTIME_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${BRACKENHUE_DEMO_RUNTIME_FOLDER}/bin
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:demo_java> $<TARGET_FILE:demo_javaw>
          ${BRACKENHUE_DEMO_RUNTIME_FOLDER}/bin
  COMMAND ${CMAKE_COMMAND} -E copy ${demo_dir}/release ${BRACKENHUE_DEMO_RUNTIME_FOLDER}/release
  DEPENDS demo_java demo_javaw ${demo_dir}/release
  COMMENT "Assembling the demo runtime folder" VERBATIM)
