# Runs clang-tidy (checks in the repository's .clang-tidy) and cppcheck on
# SOURCE and the core's headers that it includes (lanes.h, lanes_sse2.h,
# and for arm64 lanes_neon.h); any finding fails.
foreach(tool clang-tidy cppcheck)
  find_program(path_${tool} NAMES ${tool} ${tool}-14)
  if(NOT path_${tool})
    message(FATAL_ERROR "${tool} is missing (apt-get install ${tool})")
  endif()
endforeach()

foreach(target x86_64-linux-gnu aarch64-linux-gnu)
  execute_process(
    COMMAND ${path_clang-tidy} --quiet --header-filter=core/ ${SOURCE}
            -- -xc++ -std=c++11 -Icore --target=${target}
    RESULT_VARIABLE tidy_result OUTPUT_VARIABLE tidy_out ERROR_VARIABLE tidy_err)
  if(NOT tidy_result EQUAL 0 OR tidy_out MATCHES "warning:|error:")
    message(FATAL_ERROR "clang-tidy findings (${target}):\n${tidy_out}\n${tidy_err}")
  endif()
endforeach()

execute_process(
  COMMAND ${path_cppcheck} --quiet --enable=warning,performance,portability
          --error-exitcode=1 --std=c++11 --language=c++ -Icore ${SOURCE}
  RESULT_VARIABLE check_result OUTPUT_VARIABLE check_out ERROR_VARIABLE check_err)
if(NOT check_result EQUAL 0 OR check_err MATCHES "warning|error|performance|portability")
  message(FATAL_ERROR "cppcheck findings:\n${check_out}\n${check_err}")
endif()
message(STATUS "clang-tidy and cppcheck: no findings in ${SOURCE}")
