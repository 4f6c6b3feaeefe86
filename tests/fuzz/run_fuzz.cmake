# Runs the fuzz target for SECONDS from an empty corpus and checks its end:
# no finding, at least MIN_RUNS inputs executed, and some calls that reached
# the accumulation (a nonzero histogram). Findings land in WORK_DIR.
# PROBE, if given, is an i386 program that exits 0: where it cannot run,
# neither can the target, and the test reports itself skipped.
if(PROBE)
  execute_process(COMMAND "${PROBE}" RESULT_VARIABLE probe_status OUTPUT_QUIET ERROR_QUIET)
  if(NOT probe_status EQUAL 0)
    message("fuzz run skipped: this machine does not run 32-bit x86 programs")
    return()
  endif()
endif()
file(REMOVE_RECURSE "${WORK_DIR}/corpus")
file(MAKE_DIRECTORY "${WORK_DIR}/corpus")
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -timeout=10 -seed=1 -print_final_stats=1
          "-artifact_prefix=${WORK_DIR}/" "${WORK_DIR}/corpus"
  RESULT_VARIABLE status
  OUTPUT_VARIABLE log
  ERROR_VARIABLE log)
file(WRITE "${WORK_DIR}/fuzz.log" "${log}")

if(NOT status EQUAL 0)
  string(LENGTH "${log}" length)
  if(length GREATER 6000)
    math(EXPR from "${length} - 6000")
    string(SUBSTRING "${log}" ${from} -1 log)
  endif()
  message(FATAL_ERROR "fuzz target failed (status ${status}); full log in ${WORK_DIR}/fuzz.log\n${log}")
endif()

string(REGEX MATCH "stat::number_of_executed_units: *([0-9]+)" line "${log}")
set(runs "${CMAKE_MATCH_1}")
string(REGEX MATCH "fuzz_gateway: [^\n]*" summary "${log}")
string(REGEX MATCH "([0-9]+) with a nonzero histogram" line "${summary}")
set(accumulated "${CMAKE_MATCH_1}")
message("executions: ${runs}")
message("${summary}")
if(runs STREQUAL "" OR runs LESS MIN_RUNS)
  message(FATAL_ERROR "too few executions: '${runs}', at least ${MIN_RUNS} expected")
endif()
if(accumulated STREQUAL "" OR accumulated EQUAL 0)
  message(FATAL_ERROR "no call reached the accumulation")
endif()
