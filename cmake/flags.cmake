# Floating point is part of the result: IEEE semantics on every compiler,
# no contraction into FMA, no re-association, and only the baseline
# instructions of each processor.
set(CMAKE_CXX_STANDARD 11)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_CXX_FLAGS_RELEASE "-O2")
set(CMAKE_C_FLAGS_RELEASE "-O2")

set(VORN_FP_FLAGS -ffp-contract=off -fno-fast-math)
if(VORN_PLATFORM STREQUAL "i386" OR VORN_PLATFORM STREQUAL "win32")
  list(APPEND VORN_FP_FLAGS -march=i686 -mfpmath=387)
elseif(VORN_PLATFORM STREQUAL "aarch64" OR VORN_PLATFORM STREQUAL "maca64")
  list(APPEND VORN_FP_FLAGS -march=armv8-a)
else()
  list(APPEND VORN_FP_FLAGS -march=x86-64 -mtune=generic)
endif()
add_compile_options(${VORN_FP_FLAGS} -Wall -Wextra)
