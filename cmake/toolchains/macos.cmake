# 64-bit Intel macOS, 10.9 and later: the vorn_hist2.mexmaci64 build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VORN_DARWIN_ARCH x86_64)
set(VORN_DARWIN_MIN 10.9)
set(VORN_PLATFORM "macos" CACHE STRING "" FORCE)
include(${CMAKE_CURRENT_LIST_DIR}/darwin.cmake)
