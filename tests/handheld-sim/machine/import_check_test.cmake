# The handheld import check (cmake/CheckHandheldImports.cmake) against three
# files: a handheld library built as handheld programs are passes and is
# kept; a module importing getenv from the host, and one that needs host
# libraries, fail with what is wrong and are removed.
#
#   cmake -DCHECK=... -DCORE=... -DNM=... -DREADELF=... -DWORK=<folder>
#         -DGOOD=<file> -DSTRAY=<file> -DHOSTED=<file> -P import_check_test.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# Checks a copy of `file`; `status` and `output` of the check.
function(check file status output)
  get_filename_component(name ${file} NAME)
  file(COPY ${file} DESTINATION ${WORK})
  execute_process(COMMAND ${CMAKE_COMMAND} -DPROGRAM=${WORK}/${name} -DCORE=${CORE} -DNM=${NM}
                          -DREADELF=${READELF} -P ${CHECK}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${status} ${result} PARENT_SCOPE)
  set(${output} "${out}${err}" PARENT_SCOPE)
endfunction()

function(expect_refused file pattern)
  get_filename_component(name ${file} NAME)
  check(${file} status output)
  if(status EQUAL 0)
    message(FATAL_ERROR "the check passed ${name}")
  endif()
  if(NOT output MATCHES "${pattern}")
    message(FATAL_ERROR "the check refused ${name} without saying \"${pattern}\":\n${output}")
  endif()
  if(EXISTS ${WORK}/${name})
    message(FATAL_ERROR "the check refused ${name} but left the file")
  endif()
endfunction()

get_filename_component(good ${GOOD} NAME)
check(${GOOD} status output)
if(NOT status EQUAL 0 OR NOT EXISTS ${WORK}/${good})
  message(FATAL_ERROR "the check refused ${good}:\n${output}")
endif()

expect_refused(${STRAY} "does not provide: getenv")
expect_refused(${HOSTED} "needs host libraries")
