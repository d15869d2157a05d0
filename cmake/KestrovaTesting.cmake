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
  # The one list of outside libraries' process-lifetime allocations that the
  # leak checker of the sanitizer build must not report.
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/scripts/lsan.supp:print_suppressions=0")
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# kestrova_add_fuzzer(NAME name SOURCES file... LIBS target...)
# A libFuzzer target, built only in the clang fuzz build (KESTROVA_FUZZ=ON).
# scripts/run-fuzz runs every one of them for a bounded time.
if(KESTROVA_FUZZ AND NOT TARGET fuzzers)
  add_custom_target(fuzzers)
endif()
function(kestrova_add_fuzzer)
  if(NOT KESTROVA_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
  add_dependencies(fuzzers ${F_NAME})
endfunction()
