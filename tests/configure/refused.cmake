# Configuring into a folder inside SOURCE/build must fail before anything is
# built, with a message that names the way out (-B out); what the attempt
# leaves there is removed again.
set(probe "${SOURCE}/build/configure-refused-probe")
file(REMOVE_RECURSE "${probe}")
execute_process(COMMAND "${CMAKE}" -S "${SOURCE}" -B "${probe}"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(REMOVE_RECURSE "${probe}")
if(result EQUAL 0)
  message(FATAL_ERROR "configuring into ${probe} was accepted")
endif()
if(NOT out MATCHES "Refusing the build folder" OR NOT out MATCHES "cmake -S \\. -B out")
  message(FATAL_ERROR "refused without the expected message:\n${out}")
endif()
message(STATUS "build/configure-refused-probe refused, naming -B out")
