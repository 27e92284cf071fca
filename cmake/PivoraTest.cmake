# Test helpers. GoogleTest is cross-built from the Debian sources in /usr/src/googletest.
option(PIVORA_BUILD_TESTS "Build the unit and end-to-end tests" OFF)

if(PIVORA_BUILD_TESTS)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# pivora_add_unit_test(<name> SOURCES <files...> [LIBS <targets...>] [UI_RESOURCES] [TIMEOUT s]
#                      [ARGS <arguments...>])
# One GoogleTest program, one CTest entry, run under Wine through the cross-compiling emulator.
# UI_RESOURCES links the product's string table, dialog templates and icon into the program.
function(pivora_add_unit_test name)
  cmake_parse_arguments(T "UI_RESOURCES" "TIMEOUT" "SOURCES;LIBS;ARGS" ${ARGN})
  if(T_UI_RESOURCES)
    list(APPEND T_SOURCES ${PROJECT_SOURCE_DIR}/resources/common.rc)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} pivora_testcommon gtest gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests
                             ${PROJECT_SOURCE_DIR}/resources)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no ${T_ARGS}
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()
