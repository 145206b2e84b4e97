# Shared build settings and helpers for every folder.

find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "" FORCE)
endif()

add_compile_options(-Wall -Wextra -Wno-unused-parameter)

if(QV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QV_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
endif()

# quorvane_library(<target> SOURCES ... [DEPS ...])
# One static library per folder; headers are included as "<folder>/<file>.h"
# from the repository root.
function(quorvane_library target)
  cmake_parse_arguments(QL "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${target} STATIC ${QL_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(QL_DEPS)
    target_link_libraries(${target} PUBLIC ${QL_DEPS})
  endif()
endfunction()

# quorvane_test(<target> SOURCES ... DEPS ... [TIMEOUT seconds] [SERIAL tests...])
# One GoogleTest executable per library, registered with CTest; TIMEOUT
# limits each of its tests (CTest's default otherwise; under the sanitizers,
# which slow the model runs and random differentials three- to fourfold, three
# times either, the default taken as 300 s). SERIAL names tests
# whose bars are on time a loaded machine stretches (CPU time per step, on
# cores whose siblings are busy): CTest runs each alone, with no other test.
function(quorvane_test target)
  if(NOT QV_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(QT "" "TIMEOUT" "SOURCES;DEPS;SERIAL" ${ARGN})
  add_executable(${target} ${QT_SOURCES})
  target_link_libraries(${target} PRIVATE ${QT_DEPS} GTest::gtest GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${target} PRIVATE
    QV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(QV_SANITIZE)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/lsan_suppressions.cpp)
  endif()
  set(timeout)
  if(QV_SANITIZE)
    if(NOT QT_TIMEOUT)
      set(QT_TIMEOUT 300)
    endif()
    math(EXPR QT_TIMEOUT "${QT_TIMEOUT} * 3")
  endif()
  if(QT_TIMEOUT)
    set(timeout TIMEOUT ${QT_TIMEOUT})
  endif()
  set(filter)
  if(QT_SERIAL)
    list(JOIN QT_SERIAL ":" serial)
    set(filter TEST_FILTER "-${serial}")
  endif()
  gtest_discover_tests(${target} ${filter}
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" ${timeout}
    DISCOVERY_TIMEOUT 60)
  foreach(test ${QT_SERIAL})
    add_test(NAME ${test} COMMAND ${target} --gtest_filter=${test})
    set_tests_properties(${test} PROPERTIES RUN_SERIAL TRUE ENVIRONMENT "QT_QPA_PLATFORM=offscreen" ${timeout})
  endforeach()
endfunction()

# quorvane_fuzzer(<target> SOURCES ... DEPS ...): built only with QV_FUZZ (clang).
# Every fuzzer joins the `fuzz_all` target, which tools/fuzz.sh builds.
function(quorvane_fuzzer target)
  if(NOT QV_FUZZ)
    return()
  endif()
  cmake_parse_arguments(QF "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${QF_SOURCES})
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${target} PRIVATE ${QF_DEPS})
  set_property(GLOBAL APPEND PROPERTY QV_FUZZ_TARGETS ${target})
endfunction()
