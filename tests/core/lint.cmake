# Runs clang-tidy (checks in the repository's .clang-tidy) and cppcheck on
# SOURCE and the core's headers that it includes (lanes.h, lanes_sse2.h,
# and for arm64 lanes_neon.h); any finding fails. CLANG_TIDY and CPPCHECK
# are the tools' paths.

foreach(target x86_64-linux-gnu aarch64-linux-gnu)
  execute_process(
    COMMAND "${CLANG_TIDY}" --quiet --header-filter=core/ ${SOURCE}
            -- -xc++ -std=c++11 -Icore --target=${target}
    RESULT_VARIABLE tidy_result OUTPUT_VARIABLE tidy_out ERROR_VARIABLE tidy_err)
  if(NOT tidy_result EQUAL 0 OR tidy_out MATCHES "warning:|error:")
    message(FATAL_ERROR "clang-tidy findings (${target}):\n${tidy_out}\n${tidy_err}")
  endif()
endforeach()

# cppcheck 2.11 and later stop following branches after a limit unless told
# to analyse all of them, and report the limit as a finding.
execute_process(COMMAND "${CPPCHECK}" --help OUTPUT_VARIABLE cppcheck_help ERROR_QUIET)
set(cppcheck_level "")
if(cppcheck_help MATCHES "--check-level")
  set(cppcheck_level --check-level=exhaustive)
endif()
execute_process(
  COMMAND "${CPPCHECK}" --quiet ${cppcheck_level} --enable=warning,performance,portability
          --error-exitcode=1 --std=c++11 --language=c++ -Icore ${SOURCE}
  RESULT_VARIABLE check_result OUTPUT_VARIABLE check_out ERROR_VARIABLE check_err)
if(NOT check_result EQUAL 0 OR check_err MATCHES "warning|error|performance|portability")
  message(FATAL_ERROR "cppcheck findings:\n${check_out}\n${check_err}")
endif()
message(STATUS "clang-tidy and cppcheck: no findings in ${SOURCE}")
