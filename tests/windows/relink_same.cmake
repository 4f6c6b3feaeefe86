# Compiles and links a Windows plug-in again, into another folder of its
# sub-build, at least a second after the delivered one was made, and
# compares the two byte for byte: a time stamp, a load address taken from the
# output path, or a build path in the file makes them differ.
#   cmake -DSUBBUILD=<sub-build folder> -DDELIVERED=<file in dist/> -P relink_same.cmake
foreach(var SUBBUILD DELIVERED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "relink_same.cmake: ${var} is not set")
  endif()
endforeach()
get_filename_component(name "${DELIVERED}" NAME)
set(again "${SUBBUILD}/again/${name}")
file(REMOVE "${again}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E sleep 1)
execute_process(
  COMMAND "${CMAKE_COMMAND}" --build "${SUBBUILD}" --target vorn_hist2_mex_again
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0 OR NOT EXISTS "${again}")
  message(FATAL_ERROR "building ${again} failed:\n${out}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${DELIVERED}" "${again}"
  RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  execute_process(COMMAND cmp -l "${DELIVERED}" "${again}" OUTPUT_VARIABLE bytes ERROR_VARIABLE bytes)
  string(SUBSTRING "${bytes}" 0 800 bytes)
  message(FATAL_ERROR "${again} differs from ${DELIVERED} (offset, bytes in octal):\n${bytes}")
endif()
file(SIZE "${DELIVERED}" size)
message(STATUS "${name}: built again in another folder, identical (${size} bytes)")
