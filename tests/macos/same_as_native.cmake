# The bundle's differential lines against the native build's: every hash
# equal means every histogram equal bit for bit.
execute_process(COMMAND ${LOADED} ${BUNDLE} diff ${SEED} ${COUNT}
  OUTPUT_VARIABLE loaded RESULT_VARIABLE loaded_status)
execute_process(COMMAND ${NATIVE} diff ${SEED} ${COUNT}
  OUTPUT_VARIABLE native RESULT_VARIABLE native_status)
if(NOT loaded_status EQUAL 0 OR NOT native_status EQUAL 0)
  message(FATAL_ERROR "runs failed: bundle ${loaded_status}, native ${native_status}")
endif()
string(REGEX MATCHALL "\n" lines "${native}")
list(LENGTH lines count)
if(NOT count EQUAL COUNT)
  message(FATAL_ERROR "the native runner printed ${count} lines, not ${COUNT}")
endif()
if(NOT loaded STREQUAL native)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/macos_diff_${SEED}.bundle "${loaded}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/macos_diff_${SEED}.native "${native}")
  message(FATAL_ERROR "the bundle's results differ from the native build's; see macos_diff_${SEED}.*")
endif()
message(STATUS "${COUNT} cases, seed ${SEED}: bit-identical")
