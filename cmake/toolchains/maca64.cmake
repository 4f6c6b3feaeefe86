# 64-bit Apple silicon macOS (arm64), 11.0 and later: the
# vorn_hist2.mexmaca64 build.
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(VORN_DARWIN_ARCH arm64)
set(VORN_DARWIN_MIN 11.0)
set(VORN_PLATFORM "maca64" CACHE STRING "" FORCE)
include(${CMAKE_CURRENT_LIST_DIR}/darwin.cmake)
