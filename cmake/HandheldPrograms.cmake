# How the handheld's programs and libraries are built.
#
# On the handheld the C runtime that programs use (allocation, formatting,
# string and memory functions) belongs to the core library, as everything
# else they call: it executes in place from flash, so a call while a flash
# chip is out of read-array mode is fatal. A handheld program therefore binds
# nothing but the core library. Here the program files are host shared
# objects loaded by the emulated handheld, so the build makes them so:
#
# - They link no host library at all (-nostdlib: no C library, no C++
#   library, no start files), only libgcc's static arithmetic helpers.
#   What is left undefined is bound, when the handheld loads the program, to
#   the core library of the machine that loads it.
# - Their code is compiled without exceptions and run-time type information
#   (-fno-exceptions -fno-rtti), as the handheld's programs always were: the
#   unwinder, the personality routine and the type-info tables would bind the
#   host's C++ library. The static libraries a program carries are compiled
#   again the same way (nuva_handheld_variant).
# - Their C runtime calls keep their standard names in the source and are
#   renamed at link time with the linker's --wrap: a call of malloc becomes
#   an import of __wrap_malloc, which only the core library defines. The
#   core library cannot export the plain names: its process is a host
#   program whose own C library must keep them. The list below is the C
#   runtime the core library offers; a program using anything else fails the
#   import check.
# - After every link, the import check (CheckHandheldImports.cmake) lists the
#   file's imports and fails the build, deleting the file, when one is not a
#   C export of the built core library or the file needs any host library.
#   It allows nothing else: without the start files there are no weak
#   references of the host's C library (__gmon_start__, _ITM_*,
#   __cxa_finalize). Only a sanitizer build adds the sanitizers' own hooks,
#   which the instrumented code calls and the test process provides.

set(NUVA_HANDHELD_RUNTIME
    # Allocation from the handheld's heap (the one LocalAlloc serves).
    malloc free
    # operator new, new[], and delete, delete[] with and without size.
    _Znwm _Znam _ZdlPv _ZdaPv _ZdlPvm _ZdaPvm
    # What the C++ library's containers call when asked for more than they
    # can hold: with exceptions off, the end of the handheld.
    _ZSt17__throw_bad_allocv _ZSt20__throw_length_errorPKc _ZSt28__throw_bad_array_new_lengthv
    # Formatting, strings and memory.
    snprintf vsnprintf strlen memcpy memset memcmp
    # Arithmetic.
    llround)

set(NUVA_HANDHELD_IMPORT_CHECK ${CMAKE_CURRENT_LIST_DIR}/CheckHandheldImports.cmake)

if(CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  set(NUVA_HANDHELD_SANITIZED ON)
else()
  set(NUVA_HANDHELD_SANITIZED OFF)
endif()

# nuva_handheld_code(target): compile `target` as code that runs on the
# handheld.
function(nuva_handheld_code target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
endfunction()

# nuva_handheld_variant(library): the handheld build of a static library of
# the project (same sources, compiled as handheld code), named
# <library>_handheld, made on first use. Libraries it links are replaced by
# their handheld builds where those exist.
function(nuva_handheld_variant library)
  set(variant ${library}_handheld)
  if(TARGET ${variant})
    return()
  endif()
  get_target_property(sources ${library} SOURCES)
  get_target_property(folder ${library} SOURCE_DIR)
  set(paths)
  foreach(source IN LISTS sources)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${folder} OUTPUT_VARIABLE path)
    list(APPEND paths ${path})
  endforeach()
  add_library(${variant} STATIC ${paths})
  set_target_properties(${variant} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  get_target_property(links ${library} INTERFACE_LINK_LIBRARIES)
  if(links)
    foreach(link IN LISTS links)
      if(TARGET ${link}_handheld)
        set(link ${link}_handheld)
      endif()
      target_link_libraries(${variant} PUBLIC ${link})
    endforeach()
  endif()
  nuva_handheld_code(${variant})
  nuva_target_settings(${variant})
endfunction()

# nuva_handheld_program(target): make the shared object `target` a handheld
# program or library: handheld code, linked against nothing but the core
# library's C runtime and checked after every link.
function(nuva_handheld_program target)
  nuva_handheld_code(${target})
  set(wraps)
  foreach(name IN LISTS NUVA_HANDHELD_RUNTIME)
    list(APPEND wraps "-Wl,--wrap=${name}")
  endforeach()
  target_link_options(${target} PRIVATE -nostdlib ${wraps})
  target_link_libraries(${target} PRIVATE gcc)
  # The check reads the core library the handheld binds the program to.
  add_dependencies(${target} nuva_handheld)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DCORE=$<TARGET_FILE:nuva_handheld>
            -DNM=${CMAKE_NM} -DREADELF=${CMAKE_READELF} -DSANITIZED=${NUVA_HANDHELD_SANITIZED}
            -P ${NUVA_HANDHELD_IMPORT_CHECK}
    COMMENT "Checking that $<TARGET_FILE_NAME:${target}> imports only from the handheld's core library"
    VERBATIM)
endfunction()
