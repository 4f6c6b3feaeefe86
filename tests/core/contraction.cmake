# Compiles SOURCE (the core) the way a user's rebuild might, with flags that
# let the compiler contract a product and a sum into one fused multiply-add
# (the default of g++ and clang++ for these targets), and fails on any fused
# instruction in the objects: the source must turn contraction off itself.
# Each build must also be silent under -Wall -Wextra: every target here has
# lane operations (SSE2, NEON), so none warns that it builds the plain walk.
find_program(gxx NAMES g++)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/llvm.cmake)
vorn_find_llvm(clangxx clang++)
find_program(objdump NAMES objdump)
find_program(objdump_a64 NAMES aarch64-linux-gnu-objdump)
foreach(tool gxx clangxx objdump objdump_a64)
  if(NOT ${tool})
    message(FATAL_ERROR "${tool} is missing (scripts/setup installs it)")
  endif()
endforeach()
if(NOT EXISTS /usr/aarch64-linux-gnu/include/stdio.h)
  message(FATAL_ERROR "no arm64 C library headers (apt-get install libc6-dev-arm64-cross libstdc++-12-dev-arm64-cross)")
endif()
file(MAKE_DIRECTORY "${OUT}")

set(x86_fused "\tvf(n?m(add|sub)|maddsub|msubadd)[a-z0-9]*[ \t]")
set(a64_fused "\tf(n?m(add|sub)|ml[as])[ \t]")

# build(name compiler objdump fused-pattern real-pattern expect-warning flags...)
function(build name compiler dump fused real warn)
  set(obj "${OUT}/${name}.o")
  execute_process(
    COMMAND ${compiler} ${ARGN} -Wall -Wextra -c ${SOURCE} -o ${obj}
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${name}: compiling failed:\n${out}${err}")
  endif()
  if(warn)
    if(NOT err MATCHES "plain walk")
      message(FATAL_ERROR "${name}: no warning that the plain walk is built:\n${err}")
    endif()
    string(REGEX REPLACE "[^\n]*(plain walk|#warning|\\^|warning generated)[^\n]*\n?" "" err "${err}")
  endif()
  if(NOT err STREQUAL "" OR NOT out STREQUAL "")
    message(FATAL_ERROR "${name}: diagnostics:\n${out}${err}")
  endif()
  execute_process(COMMAND ${dump} -d --no-show-raw-insn ${obj}
    RESULT_VARIABLE result OUTPUT_VARIABLE listing)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${name}: ${dump} failed on ${obj}")
  endif()
  # The listing must be real code: the single-precision products are there.
  if(NOT listing MATCHES "${real}")
    message(FATAL_ERROR "${name}: no single-precision product in the listing: disassembly not understood")
  endif()
  string(REGEX MATCHALL "${fused}[^\n]*" found "${listing}")
  if(found)
    list(LENGTH found count)
    string(REPLACE ";" "\n" found "${found}")
    message(FATAL_ERROR "${name}: ${count} fused multiply-add instructions:\n${found}")
  endif()
  message(STATUS "${name}: no fused multiply-add")
endfunction()

build(gcc-haswell ${gxx} ${objdump} "${x86_fused}" "\tv?mulss[ \t]" OFF -O2 -march=haswell)
build(gcc-haswell-plain ${gxx} ${objdump} "${x86_fused}" "\tv?mulss[ \t]" OFF -O2 -march=haswell -DHIST2_PLAIN_WALK)
build(clang-haswell ${clangxx} ${objdump} "${x86_fused}" "\tv?mulss[ \t]" OFF -O2 -march=haswell)
# The four-lane walk's products are in the listing: NEON builds it.
build(clang-aarch64 ${clangxx} ${objdump_a64} "${a64_fused}" "\tfmul\tv[0-9]+\\.4s" OFF --target=aarch64-linux-gnu -O2)
build(clang-aarch64-plain ${clangxx} ${objdump_a64} "${a64_fused}" "\tfmul\t" OFF --target=aarch64-linux-gnu -O2 -DHIST2_PLAIN_WALK)
