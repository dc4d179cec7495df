# The real PE files of the tests and the benchmarks (tests/fixtures, bench): programs and libraries
# compiled from C by the mingw-w64 cross compiler, import libraries made from .def files, and a
# check of the import table each program came out with. Every file is one build step; a folder's
# fixtures are built by one target, which the test programs that read them depend on.
#
# The tools, looked for in both builds (the native build makes the discovery and digest fixtures
# too, when the machine has them):
#   ZV_MINGW64_CC, ZV_MINGW64_DLLTOOL, ZV_MINGW64_OBJDUMP   x86-64; the compiler is the Windows
#                                                           build's own C compiler there
#   ZV_MINGW32_CC, ZV_MINGW32_DLLTOOL                       i686, for the one PE32 program
if(WIN32)
  set(ZV_MINGW64_CC ${CMAKE_C_COMPILER})
else()
  find_program(ZV_MINGW64_CC NAMES x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc)
endif()
find_program(ZV_MINGW64_DLLTOOL x86_64-w64-mingw32-dlltool)
find_program(ZV_MINGW64_OBJDUMP x86_64-w64-mingw32-objdump)
find_program(ZV_MINGW32_CC i686-w64-mingw32-gcc)
find_program(ZV_MINGW32_DLLTOOL i686-w64-mingw32-dlltool)
set(ZV_FIXTURES_CHECK_IMPORTS ${CMAKE_CURRENT_LIST_DIR}/check_imports.cmake)

# zv_pe_fixture(OUTPUT SOURCE file.c [COMPILER cc] [FLAGS ...] [LIBS ...] [IMPORT_LIBRARY lib.a]
#               [IMPORTS name ...] [DEPENDS file ...])
# Compiles one C source into the program or library OUTPUT:
#   COMPILER FLAGS -o OUTPUT SOURCE LIBS [-Wl,--out-implib,IMPORT_LIBRARY]
# with the flags exactly as given (COMPILER defaults to ZV_MINGW64_CC). IMPORT_LIBRARY also writes
# the import library of a library made here, for the programs that import it. IMPORTS fails the
# build, and removes OUTPUT, unless its import table names exactly these libraries in this order.
# DEPENDS: what the compile reads besides SOURCE (import libraries made here, included headers).
function(zv_pe_fixture output)
  cmake_parse_arguments(ARG "" "SOURCE;COMPILER;IMPORT_LIBRARY" "FLAGS;LIBS;IMPORTS;DEPENDS" ${ARGN})
  if(NOT ARG_COMPILER)
    set(ARG_COMPILER ${ZV_MINGW64_CC})
  endif()
  set(outputs ${output})
  set(import_library_flag)
  if(ARG_IMPORT_LIBRARY)
    list(APPEND outputs ${ARG_IMPORT_LIBRARY})
    set(import_library_flag -Wl,--out-implib,${ARG_IMPORT_LIBRARY})
  endif()
  set(check)
  set(check_script)
  if(ARG_IMPORTS)
    list(JOIN ARG_IMPORTS "," expected)
    set(check COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${ZV_MINGW64_OBJDUMP} -DFILE=${output} -DEXPECTED=${expected}
                      -P ${ZV_FIXTURES_CHECK_IMPORTS})
    set(check_script ${ZV_FIXTURES_CHECK_IMPORTS})
  endif()
  get_filename_component(folder ${output} DIRECTORY)
  file(RELATIVE_PATH name ${CMAKE_BINARY_DIR} ${output})
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${ARG_COMPILER} ${ARG_FLAGS} -o ${output} ${ARG_SOURCE} ${ARG_LIBS} ${import_library_flag}
    ${check}
    DEPENDS ${ARG_SOURCE} ${ARG_DEPENDS} ${check_script}
    COMMENT "Building the fixture ${name}"
    VERBATIM)
  set_property(DIRECTORY APPEND PROPERTY ZV_FIXTURE_FILES ${outputs})
endfunction()

# zv_import_library(OUTPUT DEF file.def [DLLTOOL tool]): the import library dlltool makes from a
# .def file (DLLTOOL defaults to ZV_MINGW64_DLLTOOL), so that a program built against it names the
# library exactly as the .def file writes it.
function(zv_import_library output)
  cmake_parse_arguments(ARG "" "DEF;DLLTOOL" "" ${ARGN})
  if(NOT ARG_DLLTOOL)
    set(ARG_DLLTOOL ${ZV_MINGW64_DLLTOOL})
  endif()
  get_filename_component(folder ${output} DIRECTORY)
  file(RELATIVE_PATH name ${CMAKE_BINARY_DIR} ${output})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${ARG_DLLTOOL} -d ${ARG_DEF} -l ${output}
    DEPENDS ${ARG_DEF}
    COMMENT "Building the fixture ${name}"
    VERBATIM)
  set_property(DIRECTORY APPEND PROPERTY ZV_FIXTURE_FILES ${output})
endfunction()

# zv_fixture_target(NAME [FOR target ...] [DEPENDS file ...]): the target that builds this folder's
# fixtures (and the other files named in DEPENDS, made by the folder's own steps), built with
# everything; each test program named in FOR that this build has depends on it.
function(zv_fixture_target name)
  cmake_parse_arguments(ARG "" "" "FOR;DEPENDS" ${ARGN})
  get_property(files DIRECTORY PROPERTY ZV_FIXTURE_FILES)
  add_custom_target(${name} ALL DEPENDS ${files} ${ARG_DEPENDS})
  foreach(target IN LISTS ARG_FOR)
    if(TARGET ${target})
      add_dependencies(${target} ${name})
    endif()
  endforeach()
endfunction()
