# Builds the demo GT3 installation: compiles the stand-in GAHP server into
# lib/gt3-gahp.jar and makes every other jar of the list a real, small jar
# holding only a note that it is a demo placeholder.
# Run with cmake -P and -D JAVAC=, JAR=, SOURCE_DIR= (demo/), OUT_DIR= (the
# tree's root), STAMP= (touched when everything is in place).
foreach(var JAVAC JAR SOURCE_DIR OUT_DIR STAMP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make_gt3_tree.cmake: ${var} not given")
  endif()
endforeach()

set(work ${OUT_DIR}/../gt3_work)
set(lib ${OUT_DIR}/lib)
file(REMOVE_RECURSE ${OUT_DIR} ${work})
file(MAKE_DIRECTORY ${lib} ${work}/classes)

# Short-lived JVMs start faster without the optimising compiler.
set(quick_jvm -J-XX:TieredStopAtLevel=1 -J-XX:+UseSerialGC)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "demo GT3 tree: '${ARGN}' failed (${rc})")
  endif()
endfunction()

run(${JAVAC} ${quick_jvm} --release 11 -encoding UTF-8 -d ${work}/classes
    ${SOURCE_DIR}/java/torvel/gahp/Gahp.java)

file(STRINGS ${SOURCE_DIR}/gt3_jars.txt jars)
list(LENGTH jars count)
if(NOT count EQUAL 59)
  message(FATAL_ERROR "gt3_jars.txt lists ${count} jars, expected 59")
endif()

foreach(jar ${jars})
  if(jar STREQUAL "gt3-gahp.jar")
    run(${JAR} ${quick_jvm} --create --file ${lib}/${jar}
        -C ${work}/classes .)
    continue()
  endif()
  string(REGEX REPLACE "\\.jar$" "" base ${jar})
  set(content ${work}/${base})
  file(WRITE ${content}/torvel-demo/${base}.txt
       "Placeholder for ${jar} of the demo GT3 installation made by the Torvel\n"
       "build. It holds no classes; only its presence matters to the launcher.\n")
  run(${JAR} ${quick_jvm} --create --file ${lib}/${jar} -C ${content} .)
endforeach()

file(REMOVE_RECURSE ${work})
file(TOUCH ${STAMP})
