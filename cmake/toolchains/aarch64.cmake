# arm64 Linux, cross-compiled with clang against Debian's arm64 cross
# libraries in /usr/aarch64-linux-gnu (linked by binutils' aarch64 linker)
# and run under qemu-user: the build that proves the NEON walk gives the
# x86-64 results.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
find_program(VORN_A64_CXX NAMES clang++ clang++-14 REQUIRED)
find_program(VORN_A64_CC NAMES clang clang-14 REQUIRED)
find_program(VORN_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static REQUIRED)
set(CMAKE_C_COMPILER "${VORN_A64_CC}")
set(CMAKE_CXX_COMPILER "${VORN_A64_CXX}")
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR "${VORN_QEMU_AARCH64};-L;/usr/aarch64-linux-gnu")
set(VORN_PLATFORM "aarch64" CACHE STRING "" FORCE)
