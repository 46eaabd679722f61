# Helpers shared by every folder's CMakeLists.txt.
#
# project_library(NAME DIR [LINK ...]) makes one static library from the *.cpp
# files of a folder (not its tests/). The link line is the layering: a target
# only sees the headers of what it links.
# project_tests(NAME [LINK ...]) makes one GoogleTest executable from tests/*.cpp
# of the current folder and registers its cases with CTest.

set(PROJECT_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Wold-style-cast -Wcast-align -Wunused -Woverloaded-virtual -Wnull-dereference
    -Wimplicit-fallthrough -Werror)

function(project_warnings target)
  target_compile_options(${target} PRIVATE ${PROJECT_WARNINGS})
endfunction()

function(project_library name)
  cmake_parse_arguments(ARG "" "" "LINK;PRIVATE_LINK" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(_src)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_LINK} PRIVATE ${ARG_PRIVATE_LINK})
    project_warnings(${name})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_LINK})
  endif()
endfunction()

function(project_tests name)
  cmake_parse_arguments(ARG "" "" "LINK;LABELS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  if(NOT _src)
    return()
  endif()
  add_executable(${name} ${_src})
  # The tree's and the build's paths come from station_test_paths
  # (tools/testing/test_paths.h), not from the command line, so that the
  # test objects are the same in every clone.
  target_link_libraries(${name} PRIVATE ${ARG_LINK} station_test_paths GTest::gmock GTest::gtest_main)
  project_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}."
    PROPERTIES LABELS "${name};${ARG_LABELS}" TIMEOUT 600)
endfunction()

# project_fuzz_targets([LINK ...]) makes one fuzz target of each fuzz/*.cpp of
# the current folder; each file defines LLVMFuzzerTestOneInput. With
# STATION_FUZZ (the fuzz preset) a target is a libFuzzer program; in every
# other build it is a replay program, and CTest runs it over the target's seed
# inputs (fuzz/corpus/<name>/) and every input that ever found a fault
# (fuzz/regressions/<name>/).
function(project_fuzz_targets)
  cmake_parse_arguments(ARG "" "" "LINK" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*.cpp)
  foreach(_file ${_src})
    get_filename_component(_name ${_file} NAME_WE)
    add_executable(${_name} ${_file})
    target_link_libraries(${_name} PRIVATE ${ARG_LINK} fuzz_support)
    project_warnings(${_name})
    if(STATION_FUZZ)
      target_link_options(${_name} PRIVATE -fsanitize=fuzzer)
      add_dependencies(fuzzers ${_name})
      set_property(GLOBAL APPEND PROPERTY STATION_FUZZ_TARGETS
                   "${_name}=$<TARGET_FILE:${_name}>=${CMAKE_CURRENT_SOURCE_DIR}/fuzz")
    else()
      target_link_libraries(${_name} PRIVATE fuzz_replay)
      add_test(NAME fuzz_replay.${_name}
               COMMAND ${_name} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${_name}
                       ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/regressions/${_name})
      set_tests_properties(fuzz_replay.${_name} PROPERTIES LABELS "fuzz_replay" TIMEOUT 120)
    endif()
  endforeach()
endfunction()
