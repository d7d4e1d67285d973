# orv_add_test(NAME name AREA area SOURCES ... [LIBS ...] [TIMEOUT s] [LABELS extra...])
# One GoogleTest executable; each test case becomes a CTest test labelled with its area,
# so `ctest -L zip` runs one area alone. Every test gets a private ORVAKELL_HOME and
# XDG folders through the test support library (tests/support/test_env.h).
find_package(GTest REQUIRED)
include(GoogleTest)
function(orv_add_test)
  cmake_parse_arguments(T "" "NAME;AREA;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_AREA)
    message(FATAL_ERROR "orv_add_test(${T_NAME}): AREA is required")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/bin)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} orv_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    TEST_PREFIX "${T_AREA}."
    PROPERTIES TIMEOUT ${T_TIMEOUT})
  # List-valued properties (several labels, several variables) do not survive the discovery
  # script of CMake 3.25, which flattens them; a second include file, run after it, sets them
  # on every discovered test.
  set(labels "${T_AREA};${T_LABELS}")
  set(environment "ORV_BIN_DIR=${ORV_BIN_DIR};ORV_SOURCE_DIR=${CMAKE_SOURCE_DIR};ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;QT_QPA_PLATFORM=offscreen")
  set(properties_file ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_properties.cmake)
  file(WRITE ${properties_file}
    "foreach(t IN LISTS ${T_NAME}_TESTS)\n"
    "  set_tests_properties(\${t} PROPERTIES LABELS [==[${labels}]==] ENVIRONMENT [==[${environment}]==])\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${properties_file})
endfunction()
