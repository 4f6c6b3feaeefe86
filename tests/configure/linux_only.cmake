# Configures and builds SOURCE with the tests and the benchmark off and the
# Linux plug-in alone, in WORK, with GoogleTest and Google Benchmark out of
# reach; the plug-in it makes in another folder must equal DELIVERED byte for
# byte.
file(REMOVE_RECURSE "${WORK}")
execute_process(
  COMMAND "${CMAKE}" -S "${SOURCE}" -B "${WORK}/build" -DCMAKE_BUILD_TYPE=Release
          -DVORN_TESTS=OFF -DVORN_BENCH=OFF -DVORN_PLATFORMS=linux
          "-DVORN_DIST_DIR=${WORK}/dist"
          -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configure failed:\n${out}")
endif()
execute_process(COMMAND "${CMAKE}" --build "${WORK}/build"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "build failed:\n${out}")
endif()
file(GLOB made RELATIVE "${WORK}/dist" "${WORK}/dist/*.mex*")
if(NOT made STREQUAL "vorn_hist2.mexa64")
  message(FATAL_ERROR "the Linux-only build made [${made}], not vorn_hist2.mexa64 alone")
endif()
execute_process(COMMAND "${CMAKE}" -E compare_files "${DELIVERED}" "${WORK}/dist/vorn_hist2.mexa64"
  RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${WORK}/dist/vorn_hist2.mexa64 differs from ${DELIVERED}")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "Linux-only build without tests: vorn_hist2.mexa64 identical to ${DELIVERED}")
