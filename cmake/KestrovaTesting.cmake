# kestrova_add_test(NAME name SOURCES file... LIBS target... [NEEDS target...]
#                   [TIMEOUT seconds] [LABELS label...])
# Builds one GoogleTest executable and registers it as one CTest test.
# Every test runs with a time limit so a hang fails instead of stalling CI.
# LIBS are linked; NEEDS are programs the test starts, built before it. In a
# whole build every one of them must exist once all folders are read, or the
# configuration stops naming the test; a subset build (KESTROVA_ONLY) skips a
# test whose targets it does not have.
function(kestrova_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;NEEDS;LABELS" ${ARGN})
  set(required ${T_LIBS} ${T_NEEDS})
  if(KESTROVA_ONLY)
    foreach(target IN LISTS required)
      if(NOT TARGET ${target})
        message(STATUS "subset build: skipping ${T_NAME}, which needs ${target}")
        return()
      endif()
    endforeach()
  else()
    foreach(target IN LISTS required)
      set_property(GLOBAL APPEND PROPERTY KESTROVA_TEST_TARGETS "${T_NAME}=${target}")
    endforeach()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  # Every test may use the shared helpers (the watchdog among them).
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} $<TARGET_NAME_IF_EXISTS:kstest_support> GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
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
  if(T_NEEDS)
    add_dependencies(${T_NAME} ${T_NEEDS})
  endif()
endfunction()

# Called once every folder is read: stops the configuration when a test
# needs a target that no folder defines.
function(kestrova_check_test_targets)
  get_property(pairs GLOBAL PROPERTY KESTROVA_TEST_TARGETS)
  foreach(pair IN LISTS pairs)
    string(REPLACE "=" ";" parts "${pair}")
    list(GET parts 0 test)
    list(GET parts 1 target)
    if(NOT TARGET ${target})
      message(FATAL_ERROR "test ${test} needs target ${target}, which no folder defines")
    endif()
  endforeach()
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
