# SPDX-License-Identifier: GPL-3.0-or-later
# One static library per subsystem folder: its sources are every *.cc in the
# folder, and it links only the subsystems below it.
function(ordika_subsystem name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cc)
  if(NOT srcs)
    add_library(ordika_${name} INTERFACE)
    target_include_directories(ordika_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(ordika_${name} INTERFACE ${ARG_DEPS})
  else()
    add_library(ordika_${name} STATIC ${srcs})
    target_include_directories(ordika_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(ordika_${name} PUBLIC ${ARG_DEPS})
  endif()
endfunction()

# A test program per folder of tests/: every *.cc in it, linked with GoogleTest.
# FILTER (a --gtest_filter) leaves tests out of the ones CTest runs one by one.
function(ordika_test_dir dir)
  cmake_parse_arguments(ARG "" "FILTER" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cc)
  if(NOT srcs)
    return()
  endif()
  add_executable(test_${dir} ${srcs})
  target_link_libraries(test_${dir} PRIVATE ${ARG_LIBS} ordika_test_common GTest::gtest GTest::gtest_main)
  target_include_directories(test_${dir} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(test_${dir} PRIVATE
    ORDIKA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ORDIKA_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(ARG_FILTER)
    gtest_discover_tests(test_${dir} DISCOVERY_TIMEOUT 60 TEST_FILTER ${ARG_FILTER} PROPERTIES TIMEOUT 300)
  else()
    gtest_discover_tests(test_${dir} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
endfunction()
