# i386 with x87 floating point on this Linux machine (gcc-multilib): the
# build that proves the core's x87 semantics, run natively.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
# Runs here, so it is not treated as a foreign target.
set(CMAKE_CROSSCOMPILING_EMULATOR "")
set(VORN_PLATFORM "i386" CACHE STRING "" FORCE)
