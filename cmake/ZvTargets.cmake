# Shared settings for the project's own targets.

function(zv_target_defaults target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(ZV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# zv_add_library(NAME [SOURCES ...] [WINDOWS_SOURCES ...] [POSIX_SOURCES ...] [DEPS ...] [WINDOWS_DEPS ...]
#                [POSIX_DEPS ...])
# One library per folder of src: its portable files (SOURCES) and the files that call the platform
# (WINDOWS_SOURCES, or the stand-ins of a build without Windows, POSIX_SOURCES) together. DEPS are
# the libraries of the folders below it; a library links only downward (scripts/check_layers.py
# checks it). A folder with nothing to build on this platform is an interface library.
function(zv_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;WINDOWS_SOURCES;POSIX_SOURCES;DEPS;WINDOWS_DEPS;POSIX_DEPS" ${ARGN})
  set(sources ${ARG_SOURCES})
  if(WIN32)
    list(APPEND sources ${ARG_WINDOWS_SOURCES})
  else()
    list(APPEND sources ${ARG_POSIX_SOURCES})
  endif()
  set(deps ${ARG_DEPS})
  if(WIN32)
    list(APPEND deps ${ARG_WINDOWS_DEPS})
  else()
    list(APPEND deps ${ARG_POSIX_DEPS})
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    zv_target_defaults(${name})
    target_link_libraries(${name} PUBLIC ${deps})
    set_property(GLOBAL APPEND PROPERTY ZV_LIBRARIES ${name})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${deps})
  endif()
endfunction()

# zv_add_tests(NAME SOURCES... [WINDOWS_ONLY] [NATIVE_ONLY] [TEST_SERVER] [LIBS ...])
# One GoogleTest program per subsystem, linked with LIBS (the library under test first); on Windows
# ctest runs it under Wine in the test prefix.
# TEST_SERVER (Windows only): ctest starts the loopback HTTPS test server first and tells the
# program where it is in ZV_TEST_SERVER_DIR (see tests/server/README.md).
function(zv_add_tests name)
  cmake_parse_arguments(ARG "WINDOWS_ONLY;NATIVE_ONLY;TEST_SERVER" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ZV_BUILD_TESTS)
    return()
  endif()
  if((ARG_WINDOWS_ONLY AND NOT WIN32) OR (ARG_NATIVE_ONLY AND WIN32))
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  zv_target_defaults(${name})
  if(WIN32)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} gmock gtest_main)
  else()
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "ZV_SOURCE_DIR=${CMAKE_SOURCE_DIR};ZV_BINARY_DIR=${CMAKE_BINARY_DIR}")
  if(WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine_prefix)
    if(ARG_TEST_SERVER)
      set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED test_server)
      set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "ZV_TEST_SERVER_DIR=${ZV_TEST_SERVER_DIR}")
    endif()
  endif()
endfunction()

# zv_add_benchmark(NAME SOURCES... LIBS ...): a Google Benchmark program of the native build
# (configure with -DZV_BUILD_BENCHMARKS=ON).
function(zv_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ZV_BUILD_BENCHMARKS OR WIN32)
    return()
  endif()
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  zv_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()
