# kestrova_add_test(NAME name SOURCES file... LIBS target... [TIMEOUT seconds] [LABELS label...])
# Builds one GoogleTest executable and registers it as one CTest test.
# Every test runs with a time limit so a hang fails instead of stalling CI.
function(kestrova_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  # Tests find the built programs (shell, devsim) and the source tree through
  # these compiled-in paths.
  target_compile_definitions(${T_NAME} PRIVATE
    KESTROVA_TEST_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    KESTROVA_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
