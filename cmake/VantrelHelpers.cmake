# One static library per src/ subsystem, one test executable per tests/ folder.
#
# Sources are collected from the folder so that a file can never be forgotten:
# every *.cc under src/<name>/ belongs to vantrel_<name>, and every *_test.cc
# under tests/<name>/ is compiled into vantrel_<name>_tests and run by ctest.
# A folder without sources yields an INTERFACE target, so higher layers can
# link it before it has code.

# vantrel_library(name DEPS ... [EXCLUDE regex]): EXCLUDE names sources of the
# folder that belong to a library of their own (defined before, and listed in
# DEPS).
function(vantrel_library name)
  cmake_parse_arguments(ARG "" "EXCLUDE" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cc)
  # Program entry points (main.cc, *_main.cc) are built as executables, not into the library.
  list(FILTER srcs EXCLUDE REGEX "(/main|_main)\\.cc$")
  if(ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${ARG_EXCLUDE}")
  endif()
  set(deps)
  foreach(d ${ARG_DEPS})
    if(TARGET vantrel_${d})
      list(APPEND deps vantrel_${d})
    else()
      list(APPEND deps ${d})
    endif()
  endforeach()
  if(srcs)
    add_library(vantrel_${name} STATIC ${srcs})
    target_include_directories(vantrel_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(vantrel_${name} PUBLIC ${deps})
  else()
    add_library(vantrel_${name} INTERFACE)
    target_include_directories(vantrel_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(vantrel_${name} INTERFACE ${deps})
  endif()
  # Extra, per-subsystem settings (external packages) live beside the sources.
  if(EXISTS ${PROJECT_SOURCE_DIR}/src/${name}/deps.cmake)
    include(${PROJECT_SOURCE_DIR}/src/${name}/deps.cmake)
  endif()
endfunction()

function(vantrel_test_support)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/support/*.cc)
  list(FILTER srcs EXCLUDE REGEX "_main\\.cc$")
  if(srcs)
    add_library(vantrel_test_support STATIC ${srcs})
  else()
    add_library(vantrel_test_support INTERFACE)
  endif()
  target_include_directories(vantrel_test_support INTERFACE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  if(srcs)
    target_include_directories(vantrel_test_support PUBLIC ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(vantrel_test_support PUBLIC vantrel_metadata GTest::gtest)
  endif()
  # The demo's sample image maker uses the same builders as the tests.
  if(EXISTS ${PROJECT_SOURCE_DIR}/tests/support/make_sample_images_main.cc)
    add_executable(make_sample_images ${PROJECT_SOURCE_DIR}/tests/support/make_sample_images_main.cc)
    # Its pictures are real JPEGs (libjpeg, which the console's previews use too).
    find_package(JPEG REQUIRED)
    target_link_libraries(make_sample_images PRIVATE vantrel_test_support JPEG::JPEG)
  endif()
endfunction()

# Compile settings of every test program. Most of a test build's time goes
# into the test files themselves, so they are compiled with little
# optimisation: -O1 in optimised builds, -O0 in debug builds (the sanitizer
# build among them, whose libraries are built at -O1). The code under test
# keeps the build type's flags, since it comes from the libraries, built as a
# user builds them. (GCC 12 at -O1 warns falsely about bounds and overflows
# inside std::string's inlined copies; the libraries keep those warnings.)
function(vantrel_test_compile_options target)
  set(gcc_false_alarms -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread)
  target_compile_options(${target} PRIVATE
    "$<$<CONFIG:Release,RelWithDebInfo>:-O1;$<$<CXX_COMPILER_ID:GNU>:${gcc_false_alarms}>>"
    "$<$<CONFIG:Debug>:-O0>")
endfunction()

# gtest and gmock are parsed once for all test programs, not once per file: a
# precompiled header built by vantrel_test_pch and reused by every test
# program with the same compile flags.
function(vantrel_test_pch)
  file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/test_pch_anchor.cc
       CONTENT "// Builds the test programs' precompiled header.\n")
  add_library(vantrel_test_pch OBJECT ${PROJECT_BINARY_DIR}/test_pch_anchor.cc)
  target_link_libraries(vantrel_test_pch PRIVATE GTest::gtest GTest::gmock)
  target_compile_definitions(vantrel_test_pch PRIVATE VANTREL_BINARY_DIR="${PROJECT_BINARY_DIR}")
  vantrel_test_compile_options(vantrel_test_pch)
  target_precompile_headers(vantrel_test_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
endfunction()

# tests/<name>/*_test.cc -> vantrel_<name>_tests, linked with the library of
# the same layer (tests/tools links the tools' own library).
function(vantrel_tests name)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${name}/*_test.cc)
  if(NOT srcs)
    return()
  endif()
  add_executable(vantrel_${name}_tests ${srcs})
  set(lib vantrel_${name})
  if(name STREQUAL "tools")
    set(lib vantrelctl_lib)
  endif()
  target_link_libraries(vantrel_${name}_tests PRIVATE ${lib} vantrel_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(vantrel_${name}_tests PRIVATE VANTREL_BINARY_DIR="${PROJECT_BINARY_DIR}")
  vantrel_test_compile_options(vantrel_${name}_tests)
  target_precompile_headers(vantrel_${name}_tests REUSE_FROM vantrel_test_pch)
  add_test(NAME ${name} COMMAND vantrel_${name}_tests --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS ${name})
endfunction()
