# The import check of a handheld program (see HandheldPrograms.cmake), run as
# a script after every link:
#
#   cmake -DPROGRAM=<file> -DCORE=<core library> -DNM=<nm> -DREADELF=<readelf>
#         [-DSANITIZED=ON] -P CheckHandheldImports.cmake
#
# Fails, and deletes PROGRAM so that no file that would bind the host is
# left looking built, when the program needs a host library or imports a
# symbol that is not a C export of the core library. The core library's C++
# symbols (the machine behind it) are not part of what it offers programs.

cmake_minimum_required(VERSION 3.25)

foreach(input PROGRAM CORE NM READELF)
  if(NOT DEFINED ${input} OR "${${input}}" STREQUAL "")
    message(FATAL_ERROR "CheckHandheldImports: ${input} is not given")
  endif()
endforeach()

function(symbols_of file mode out)
  execute_process(COMMAND ${NM} -D ${mode} --format=just-symbols ${file}
                  OUTPUT_VARIABLE text ERROR_VARIABLE error RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "CheckHandheldImports: ${NM} cannot read ${file}: ${error}")
  endif()
  string(REGEX REPLACE "@[^\n]*" "" text "${text}")  # symbol versions
  string(REPLACE "\n" ";" names "${text}")
  list(REMOVE_ITEM names "")
  set(${out} ${names} PARENT_SCOPE)
endfunction()

function(reject why)
  file(REMOVE ${PROGRAM})
  get_filename_component(name ${PROGRAM} NAME)
  message(FATAL_ERROR "${name} ${why}; the file is removed.")
endfunction()

execute_process(COMMAND ${READELF} --dynamic ${PROGRAM}
                OUTPUT_VARIABLE dynamic ERROR_VARIABLE error RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "CheckHandheldImports: ${READELF} cannot read ${PROGRAM}: ${error}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*" needed "${dynamic}")
if(needed)
  reject("needs host libraries, which the handheld does not have: ${needed}")
endif()

symbols_of(${PROGRAM} --undefined-only imports)
symbols_of(${CORE} --defined-only exports)
list(FILTER exports EXCLUDE REGEX "^_Z")

set(stray)
foreach(name IN LISTS imports)
  if(name IN_LIST exports)
    continue()
  endif()
  if(SANITIZED AND name MATCHES "^__(asan|ubsan|lsan|sanitizer)_")
    continue()
  endif()
  list(APPEND stray ${name})
endforeach()
if(stray)
  list(JOIN stray ", " list)
  reject("imports what the handheld's core library does not provide: ${list}")
endif()
