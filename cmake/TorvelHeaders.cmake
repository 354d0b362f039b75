# Run with cmake -P at build time: copies the library's headers into the
# tree that gets installed, OUTPUT_DIR/torvel/<subsystem>/<name>.h, with
# every include of another library header ("config/param.h") rewritten to
# name it under the package directory (<torvel/config/param.h>). Installed
# headers then resolve with <prefix>/include alone on the include path, and
# a consumer's own config/ or core/ folders can never stand in for them.
#
# Input variables: SOURCE_DIR (the source tree), OUTPUT_DIR, SUBSYSTEMS (the
# subsystem folders, separated by commas). A copy is written only when its
# text changes, and copies whose source header is gone are removed.
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" subsystems "${SUBSYSTEMS}")
string(REPLACE "," "|" alternatives "${SUBSYSTEMS}")
set(include_pattern "(#[ \t]*include[ \t]*)\"((${alternatives})/[^\"]+)\"")

set(wanted)
foreach(sub ${subsystems})
  file(GLOB headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${sub}/*.h)
  foreach(header ${headers})
    file(READ ${SOURCE_DIR}/${header} text)
    string(REGEX REPLACE "${include_pattern}" "\\1<torvel/\\2>" text "${text}")
    set(output ${OUTPUT_DIR}/torvel/${header})
    list(APPEND wanted ${output})
    set(old "")
    if(EXISTS ${output})
      file(READ ${output} old)
    endif()
    if(NOT old STREQUAL text)
      file(WRITE ${output} "${text}")
    endif()
  endforeach()
endforeach()

file(GLOB_RECURSE present ${OUTPUT_DIR}/torvel/*.h)
foreach(output ${present})
  if(NOT output IN_LIST wanted)
    file(REMOVE ${output})
  endif()
endforeach()
