# Packs the demo installer's classes into a jar that is the same, byte for
# byte, in every build: entries in sorted order, every entry dated
# SOURCE_DATE_EPOCH when it is set, else 2020-01-01.
# cmake -DJAR=<jar tool> -DCLASSES=<folder> -DOUTPUT=<jar> -DMAIN_CLASS=<name> -P make_jar.cmake

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  # string(TIMESTAMP) itself takes SOURCE_DATE_EPOCH for the current time.
  string(TIMESTAMP date "%Y-%m-%dT%H:%M:%SZ" UTC)
else()
  set(date 2020-01-01T00:00:00Z)
endif()
file(GLOB_RECURSE classes RELATIVE ${CLASSES} ${CLASSES}/*)
list(SORT classes)
set(args)
foreach(class IN LISTS classes)
  list(APPEND args -C ${CLASSES} ${class})
endforeach()
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${JAR} --create --file ${OUTPUT} --date ${date} --main-class ${MAIN_CLASS} ${args}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "jar failed for ${OUTPUT}")
endif()
