# Configures SOURCE in WORK with the tests off and the benchmark on (the
# Linux plug-in alone), and builds the benchmark: it must not need anything
# that only the tests' folders define.
file(REMOVE_RECURSE "${WORK}")
execute_process(
  COMMAND "${CMAKE}" -S "${SOURCE}" -B "${WORK}/build" -DCMAKE_BUILD_TYPE=Release
          -DVORN_TESTS=OFF -DVORN_BENCH=ON -DVORN_PLATFORMS=linux "-DVORN_DIST_DIR=${WORK}/dist"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configure failed:\n${out}")
endif()
execute_process(COMMAND "${CMAKE}" --build "${WORK}/build" --target hist2_bench hist2_count -j2
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "building the benchmark without the tests failed:\n${out}")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "benchmark built without the tests")
