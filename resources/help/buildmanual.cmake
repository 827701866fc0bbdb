# cmake -P script: stages the manual's sources and pictures, compiles them with chmcmd and puts
# Help.chm and the HTML pages into the program folder.
#   -DCHMCMD=<chmcmd> -DSOURCE=<resources/help> -DSHOTS=<pictures> -DSTAGE=<work dir> -DPROGRAM_DIR=<bin>

cmake_minimum_required(VERSION 3.25)

foreach(var CHMCMD SOURCE SHOTS STAGE PROGRAM_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "buildmanual.cmake: ${var} is not set")
  endif()
endforeach()

# A fresh stage each time, so a page removed from the sources leaves nothing behind.
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/images)
file(COPY ${SOURCE}/ DESTINATION ${STAGE}
     FILES_MATCHING PATTERN "*.html" PATTERN "*.css" PATTERN "Help.hh?")
file(GLOB pictures ${SHOTS}/*.png)
if(NOT pictures)
  message(FATAL_ERROR "No pictures in ${SHOTS}")
endif()
file(COPY ${pictures} DESTINATION ${STAGE}/images)

# A file the project does not list would be left out of Help.chm (or, with chmcmd's scan on, crash it).
file(STRINGS ${STAGE}/Help.hhp listed)
list(TRANSFORM listed STRIP)
file(GLOB_RECURSE staged RELATIVE ${STAGE} ${STAGE}/*.html ${STAGE}/*.css ${STAGE}/*.png)
foreach(file IN LISTS staged)
  if(NOT file IN_LIST listed)
    message(FATAL_ERROR "${file} is not listed under [FILES] in ${SOURCE}/Help.hhp")
  endif()
endforeach()

# The project lists every file. chmcmd's own HTML scan is off: it keys anchors by file name alone, so
# the same page in ita/ and eng/ reads as duplicate anchors, and it takes "#name" links for folders. The
# manual's test checks every link and picture instead.
execute_process(
  COMMAND ${CHMCMD} --no-html-scan Help.hhp
  WORKING_DIRECTORY ${STAGE}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)

# chmcmd can crash on a file missing from the project and leave an empty Help.chm behind, so the exit
# code alone is not enough.
set(chm ${STAGE}/Help.chm)
set(size 0)
if(EXISTS ${chm})
  file(SIZE ${chm} size)
endif()
if(NOT result EQUAL 0 OR size EQUAL 0)
  message(FATAL_ERROR "chmcmd failed (exit ${result}, Help.chm ${size} bytes):\n${output}")
endif()
file(READ ${chm} signature LIMIT 4 HEX)
if(NOT signature STREQUAL "49545346") # "ITSF"
  message(FATAL_ERROR "chmcmd wrote ${chm}, but it is not a compiled help file")
endif()
# chmcmd reports links to files that are not in the manual as warnings; they are faults here.
if(output MATCHES "[Ww]arning|[Ee]rror")
  message(FATAL_ERROR "chmcmd complained:\n${output}")
endif()

file(COPY ${chm} DESTINATION ${PROGRAM_DIR})
file(REMOVE_RECURSE ${PROGRAM_DIR}/help)
file(COPY ${STAGE}/ DESTINATION ${PROGRAM_DIR}/help
     FILES_MATCHING PATTERN "*.html" PATTERN "*.css" PATTERN "*.png")
