# Shared build settings for every target of the project.

set(NUVA_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wnull-dereference -Wformat=2)

# nuva_target_settings(target): warnings for our own code.
function(nuva_target_settings target)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${NUVA_WARNINGS}>)
endfunction()

# nuva_add_test(name SOURCES ... LIBS ...): one GoogleTest executable under CTest.
# Tests that drive the emulated handheld or the cable get the label "e2e".
function(nuva_add_test name)
  cmake_parse_arguments(T "E2E" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  nuva_target_settings(${name})
  include(GoogleTest)
  set(labels unit)
  if(T_E2E)
    set(labels e2e)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${labels}" ENVIRONMENT "NUVA_TIME_SCALE=0.01")
endfunction()
