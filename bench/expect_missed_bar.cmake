# Runs one benchmark with --check and every bar made impossible
# (QV_BENCH_BAR_SCALE=0) and passes only when it exits with 1: a run that
# answers 0 ignores its bars, and any other answer is a failure of its own
# (a bad option, a crash, SQLite failing).
#
#   cmake -P expect_missed_bar.cmake PROGRAM [ARGS...]
set(command)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE 3 ${last})
  list(APPEND command "${CMAKE_ARGV${i}}")
endforeach()
set(ENV{QV_BENCH_BAR_SCALE} 0)
set(ENV{QT_QPA_PLATFORM} offscreen)
execute_process(COMMAND ${command} --check RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result STREQUAL "1")
  message(FATAL_ERROR "expected exit 1 from a missed bar, got ${result}\n${output}\n${errors}")
endif()
if(NOT output MATCHES "MISSED")
  message(FATAL_ERROR "exit 1 without a row marked MISSED\n${output}\n${errors}")
endif()
