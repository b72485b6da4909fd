# nuva_check_layers(root layer...): the folders root/<layer> are layers in the
# order given; a source file of one layer may include headers of its own
# layer and of the layers before it, never of one after it. Every include
# across the order fails the configuration with the file and line at fault,
# so a dependency that points the wrong way cannot creep in.
function(nuva_check_layers root)
  set(layers ${ARGN})
  set(faults "")
  set(rank 0)
  foreach(layer ${layers})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS
         ${PROJECT_SOURCE_DIR}/${root}/${layer}/*.h ${PROJECT_SOURCE_DIR}/${root}/${layer}/*.cpp)
    foreach(source ${sources})
      file(STRINGS ${source} includes REGEX "^#include \"${root}/[a-z_-]+/")
      foreach(line ${includes})
        string(REGEX REPLACE "^#include \"${root}/([a-z_-]+)/.*" "\\1" used "${line}")
        list(FIND layers ${used} used_rank)
        if(used_rank GREATER rank OR used_rank EQUAL -1)
          file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR} ${source})
          string(APPEND faults "\n  ${name}: ${line} (layer ${layer} may not use ${used})")
        endif()
      endforeach()
    endforeach()
    math(EXPR rank "${rank} + 1")
  endforeach()
  if(faults)
    message(FATAL_ERROR "Includes across the layers of ${root}/ (${layers}):${faults}")
  endif()
endfunction()
